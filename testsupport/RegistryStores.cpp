// The registry stores the tests hand to the layer: a JSON store file, read
// again on every call, and an in-memory store. See RegistryStores.h.

#include "testsupport/RegistryStores.h"

#include "platform/Text.h"

#include <boost/algorithm/hex.hpp>
#include <boost/algorithm/string/erase.hpp>

#include <Poco/Dynamic/Var.h>
#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/Unicode.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace platform {

namespace testing {
namespace {

struct StoreValue {
    std::wstring name;
    uint32_t type = RegistryType::None;
    std::vector<uint8_t> data;
};

struct StoreKey {
    std::vector<std::wstring> parts;
    std::vector<StoreValue> values;
};

struct Store {
    std::map<RegistryHive, std::vector<StoreKey>> hives;
};

struct StoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool SameName(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] &&
            Poco::Unicode::toUpper(static_cast<int>(a[i])) != Poco::Unicode::toUpper(static_cast<int>(b[i])))
            return false;
    }
    return true;
}

bool SameParts(const std::vector<std::wstring>& a, const std::vector<std::wstring>& b, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (!SameName(a[i], b[i]))
            return false;
    }
    return true;
}

// Key path parts; an empty path has none. An empty part ("A\\\\B", "\\A",
// "A\\") makes the path invalid.
bool SplitKeyPath(const std::wstring& path, std::vector<std::wstring>& parts)
{
    parts.clear();
    if (path.empty())
        return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find(L'\\', start);
        const std::wstring part = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (part.empty())
            return false;
        parts.push_back(part);
        if (end == std::wstring::npos)
            return true;
        start = end + 1;
    }
}

std::wstring FromUtf8(const std::string& text)
{
    std::wstring wide;
    if (!Utf8ToWide(text, wide))
        throw StoreError("text is not valid UTF-8");
    return wide;
}

// The text as UTF-16LE, with a terminating NUL when `terminate`.
std::vector<uint8_t> Utf16Bytes(const std::string& text, bool terminate)
{
    std::u16string units;
    if (!Utf8ToUtf16(text, units))
        throw StoreError("text is not valid UTF-8");
    if (terminate)
        units += u'\0';
    std::vector<uint8_t> bytes;
    for (char16_t unit : units) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return bytes;
}

// Hexadecimal digits, blanks between them allowed.
std::vector<uint8_t> HexBytes(const std::string& text)
{
    std::vector<uint8_t> bytes;
    try {
        boost::algorithm::unhex(boost::algorithm::erase_all_copy(text, " "), std::back_inserter(bytes));
    } catch (const boost::algorithm::non_hex_input&) {
        throw StoreError("bad hexadecimal digit in \"" + text + "\"");
    } catch (const boost::algorithm::not_enough_input&) {
        throw StoreError("odd number of hexadecimal digits in \"" + text + "\"");
    }
    return bytes;
}

uint64_t Unsigned(const Poco::Dynamic::Var& value, uint64_t max, const std::string& what)
{
    if (!value.isInteger())
        throw StoreError(what + ": data must be an integer");
    uint64_t result;
    if (value.isSigned()) {
        const Poco::Int64 v = value.convert<Poco::Int64>();
        if (v < 0)
            throw StoreError(what + ": data must not be negative");
        result = static_cast<uint64_t>(v);
    } else {
        result = value.convert<Poco::UInt64>();
    }
    if (result > max)
        throw StoreError(what + ": data is out of range");
    return result;
}

void PutLittleEndian(std::vector<uint8_t>& bytes, uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t ParseType(const Poco::Dynamic::Var& value, const std::string& what)
{
    static const std::map<std::string, uint32_t> names = {
        {"REG_NONE", RegistryType::None},
        {"REG_SZ", RegistryType::String},
        {"REG_EXPAND_SZ", RegistryType::ExpandString},
        {"REG_BINARY", RegistryType::Binary},
        {"REG_DWORD", RegistryType::Dword},
        {"REG_DWORD_BIG_ENDIAN", RegistryType::DwordBigEndian},
        {"REG_LINK", RegistryType::Link},
        {"REG_MULTI_SZ", RegistryType::MultiString},
        {"REG_QWORD", RegistryType::Qword},
    };
    if (value.isString()) {
        auto it = names.find(value.convert<std::string>());
        if (it == names.end())
            throw StoreError(what + ": unknown type \"" + value.convert<std::string>() + "\"");
        return it->second;
    }
    return static_cast<uint32_t>(Unsigned(value, 0xFFFFFFFFu, what));
}

StoreValue ParseValue(const std::string& name, const Poco::Dynamic::Var& value, const std::string& where)
{
    const std::string what = where + "\\" + name;
    StoreValue result;
    result.name = FromUtf8(name);
    if (value.isString()) {
        result.type = RegistryType::String;
        result.data = Utf16Bytes(value.convert<std::string>(), true);
        return result;
    }
    if (value.isInteger()) {
        result.type = RegistryType::Dword;
        PutLittleEndian(result.data, Unsigned(value, 0xFFFFFFFFu, what), 4);
        return result;
    }
    if (value.type() != typeid(Poco::JSON::Object::Ptr))
        throw StoreError(what + ": a value is a text, an integer or an object");

    const Poco::JSON::Object::Ptr object = value.extract<Poco::JSON::Object::Ptr>();
    if (!object->has("type"))
        throw StoreError(what + ": \"type\" is missing");
    result.type = ParseType(object->get("type"), what);
    if (object->has("hex")) {
        const Poco::Dynamic::Var hex = object->get("hex");
        if (!hex.isString())
            throw StoreError(what + ": \"hex\" must be a text");
        result.data = HexBytes(hex.convert<std::string>());
        return result;
    }
    if (!object->has("data"))
        throw StoreError(what + ": \"data\" or \"hex\" is missing");
    const Poco::Dynamic::Var data = object->get("data");
    switch (result.type) {
    case RegistryType::String:
    case RegistryType::ExpandString:
    case RegistryType::Link:
        if (!data.isString())
            throw StoreError(what + ": data must be a text");
        result.data = Utf16Bytes(data.convert<std::string>(), true);
        break;
    case RegistryType::MultiString: {
        if (data.type() != typeid(Poco::JSON::Array::Ptr))
            throw StoreError(what + ": data must be an array of texts");
        const Poco::JSON::Array::Ptr array = data.extract<Poco::JSON::Array::Ptr>();
        for (std::size_t i = 0; i < array->size(); ++i) {
            const Poco::Dynamic::Var item = array->get(static_cast<unsigned>(i));
            if (!item.isString())
                throw StoreError(what + ": data must be an array of texts");
            const std::vector<uint8_t> bytes = Utf16Bytes(item.convert<std::string>(), true);
            result.data.insert(result.data.end(), bytes.begin(), bytes.end());
        }
        result.data.push_back(0);
        result.data.push_back(0);
        break;
    }
    case RegistryType::Dword:
        PutLittleEndian(result.data, Unsigned(data, 0xFFFFFFFFu, what), 4);
        break;
    case RegistryType::DwordBigEndian: {
        const uint64_t v = Unsigned(data, 0xFFFFFFFFu, what);
        for (int i = 3; i >= 0; --i)
            result.data.push_back(static_cast<uint8_t>(v >> (8 * i)));
        break;
    }
    case RegistryType::Qword:
        PutLittleEndian(result.data, Unsigned(data, UINT64_MAX, what), 8);
        break;
    default:
        if (!data.isString())
            throw StoreError(what + ": data must be hexadecimal digits");
        result.data = HexBytes(data.convert<std::string>());
        break;
    }
    return result;
}

StoreKey& FindOrAddKey(Store& store, RegistryHive hive, const std::vector<std::wstring>& parts)
{
    std::vector<StoreKey>& keys = store.hives[hive];
    for (StoreKey& key : keys) {
        if (key.parts.size() == parts.size() && SameParts(key.parts, parts, parts.size()))
            return key;
    }
    keys.push_back(StoreKey{parts, {}});
    return keys.back();
}

// The value of that name (letter case ignored), or null.
template <class Key>
auto FindValue(Key& key, const std::wstring& name) -> decltype(&key.values.front())
{
    for (auto& value : key.values) {
        if (SameName(value.name, name))
            return &value;
    }
    return nullptr;
}

bool HiveByName(const std::string& name, RegistryHive& hive)
{
    static const std::pair<const char*, RegistryHive> hives[] = {
        {"HKEY_CURRENT_USER", RegistryHive::CurrentUser},
        {"HKEY_LOCAL_MACHINE", RegistryHive::LocalMachine},
        {"HKEY_CLASSES_ROOT", RegistryHive::ClassesRoot},
    };
    for (const auto& entry : hives) {
        if (SameName(FromUtf8(name), FromUtf8(entry.first))) {
            hive = entry.second;
            return true;
        }
    }
    return false;
}

Store ParseStore(const std::string& text)
{
    Poco::JSON::Parser parser;
    const Poco::Dynamic::Var parsed = parser.parse(text);
    if (parsed.type() != typeid(Poco::JSON::Object::Ptr))
        throw StoreError("the root is not an object");
    const Poco::JSON::Object::Ptr root = parsed.extract<Poco::JSON::Object::Ptr>();

    Store store;
    for (auto hiveIt = root->begin(); hiveIt != root->end(); ++hiveIt) {
        RegistryHive hive;
        if (!HiveByName(hiveIt->first, hive))
            continue;
        if (hiveIt->second.type() != typeid(Poco::JSON::Object::Ptr))
            throw StoreError(hiveIt->first + " is not an object");
        const Poco::JSON::Object::Ptr keys = hiveIt->second.extract<Poco::JSON::Object::Ptr>();
        for (auto keyIt = keys->begin(); keyIt != keys->end(); ++keyIt) {
            const std::string where = hiveIt->first + "\\" + keyIt->first;
            std::vector<std::wstring> parts;
            if (!SplitKeyPath(FromUtf8(keyIt->first), parts))
                throw StoreError("bad key path " + where);
            if (keyIt->second.type() != typeid(Poco::JSON::Object::Ptr))
                throw StoreError(where + " is not an object");
            StoreKey& key = FindOrAddKey(store, hive, parts);
            const Poco::JSON::Object::Ptr values = keyIt->second.extract<Poco::JSON::Object::Ptr>();
            for (auto valueIt = values->begin(); valueIt != values->end(); ++valueIt) {
                StoreValue value = ParseValue(valueIt->first, valueIt->second, where);
                if (FindValue(key, value.name) != nullptr)
                    throw StoreError(where + "\\" + valueIt->first + " is listed twice");
                key.values.push_back(std::move(value));
            }
        }
    }
    return store;
}

// Reads the store file again. False (reason on standard error) when it cannot
// be read or parsed.
bool LoadStoreFile(const std::string& path, Store& store)
{
    std::string error;
    try {
        std::error_code ec;
        std::ifstream in;
        if (std::filesystem::is_regular_file(path, ec))
            in.open(path, std::ios::binary);
        std::ostringstream text;
        if (!in.is_open()) {
            error = "cannot be opened";
        } else if (in.peek() != std::ifstream::traits_type::eof() && !(text << in.rdbuf())) {
            error = "cannot be read";
        } else {
            store = ParseStore(text.str());
            return true;
        }
    } catch (const StoreError& e) {
        error = e.what();
    } catch (const Poco::Exception& e) {
        error = e.displayText();
    } catch (const std::exception& e) {
        error = e.what();
    }
    std::fprintf(stderr, "registry store %s: %s\n", path.c_str(), error.c_str());
    std::fflush(stderr);
    return false;
}

bool KeyExists(const Store& store, RegistryHive hive, const std::vector<std::wstring>& parts)
{
    if (parts.empty())
        return true;
    auto it = store.hives.find(hive);
    if (it == store.hives.end())
        return false;
    for (const StoreKey& key : it->second) {
        if (key.parts.size() >= parts.size() && SameParts(key.parts, parts, parts.size()))
            return true;
    }
    return false;
}

std::vector<std::wstring> MemoryKeyParts(const std::string& subKey)
{
    std::vector<std::wstring> parts;
    if (!SplitKeyPath(FromUtf8(subKey), parts))
        throw StoreError("bad key path " + subKey);
    return parts;
}

RegistryStatus OpenKeyIn(const Store& store, RegistryHive hive, const std::wstring& subKey)
{
    std::vector<std::wstring> parts;
    if (!SplitKeyPath(subKey, parts) || !KeyExists(store, hive, parts))
        return RegistryStatus::NotFound;
    return RegistryStatus::Ok;
}

RegistryStatus QueryValueIn(const Store& store, RegistryHive hive, const std::wstring& subKey,
                            const std::wstring& valueName, uint32_t& type, uint8_t* data, uint32_t& size)
{
    std::vector<std::wstring> parts;
    if (!SplitKeyPath(subKey, parts))
        return RegistryStatus::NotFound;
    auto keys = store.hives.find(hive);
    if (keys == store.hives.end())
        return RegistryStatus::NotFound;
    for (const StoreKey& stored : keys->second) {
        if (stored.parts.size() != parts.size() || !SameParts(stored.parts, parts, parts.size()))
            continue;
        const StoreValue* value = FindValue(stored, valueName);
        if (value == nullptr)
            return RegistryStatus::NotFound;
        type = value->type;
        const uint32_t needed = static_cast<uint32_t>(value->data.size());
        if (needed > size || (needed > 0 && data == nullptr)) {
            size = needed;
            return RegistryStatus::MoreData;
        }
        if (needed > 0)
            std::memcpy(data, value->data.data(), needed);
        size = needed;
        return RegistryStatus::Ok;
    }
    return RegistryStatus::NotFound;
}

// The JSON store file, read again on every call.
class FileStore : public RegistryStore {
public:
    explicit FileStore(std::string path)
        : path(std::move(path))
    {
    }

    RegistryStatus OpenKey(RegistryHive hive, const std::wstring& subKey) override
    {
        Store store;
        if (!LoadStoreFile(path, store))
            return RegistryStatus::NotFound;
        return OpenKeyIn(store, hive, subKey);
    }

    RegistryStatus QueryValue(RegistryHive hive, const std::wstring& subKey, const std::wstring& valueName,
                              uint32_t& type, uint8_t* data, uint32_t& size) override
    {
        Store store;
        if (!LoadStoreFile(path, store))
            return RegistryStatus::NotFound;
        return QueryValueIn(store, hive, subKey, valueName, type, data, size);
    }

private:
    const std::string path;
};

class MemoryStore : public RegistryStore {
public:
    RegistryStatus OpenKey(RegistryHive hive, const std::wstring& subKey) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        return OpenKeyIn(store, hive, subKey);
    }

    RegistryStatus QueryValue(RegistryHive hive, const std::wstring& subKey, const std::wstring& valueName,
                              uint32_t& type, uint8_t* data, uint32_t& size) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        return QueryValueIn(store, hive, subKey, valueName, type, data, size);
    }

    void SetValue(RegistryHive hive, const std::vector<std::wstring>& parts, StoreValue value)
    {
        std::lock_guard<std::mutex> lock(mutex);
        StoreKey& key = FindOrAddKey(store, hive, parts);
        StoreValue* existing = FindValue(key, value.name);
        if (existing == nullptr)
            key.values.push_back(std::move(value));
        else
            *existing = std::move(value);
    }

    void AddKey(RegistryHive hive, const std::vector<std::wstring>& parts)
    {
        std::lock_guard<std::mutex> lock(mutex);
        FindOrAddKey(store, hive, parts);
    }

private:
    std::mutex mutex;
    Store store;
};

std::mutex memoryMutex;
// What SetMemoryRegistryValue writes to; in use only after UseMemoryRegistryStore.
std::shared_ptr<MemoryStore> memory = std::make_shared<MemoryStore>();

std::shared_ptr<MemoryStore> Memory()
{
    std::lock_guard<std::mutex> lock(memoryMutex);
    return memory;
}

// A fresh memory store for the writers; the layer gets `store`.
void Install(std::shared_ptr<RegistryStore> store, std::shared_ptr<MemoryStore> fresh)
{
    {
        std::lock_guard<std::mutex> lock(memoryMutex);
        memory = std::move(fresh);
    }
    SetRegistryStore(std::move(store));
}

} // namespace

void SetRegistryStoreFile(const std::string& path)
{
    Install(std::make_shared<FileStore>(path), std::make_shared<MemoryStore>());
}

void UseMemoryRegistryStore()
{
    const std::shared_ptr<MemoryStore> fresh = std::make_shared<MemoryStore>();
    Install(fresh, fresh);
}

void SetMemoryRegistryValue(RegistryHive hive, const std::string& subKey, const std::string& valueName, uint32_t type,
                            std::vector<uint8_t> data)
{
    Memory()->SetValue(hive, MemoryKeyParts(subKey), StoreValue{FromUtf8(valueName), type, std::move(data)});
}

void SetMemoryRegistryString(RegistryHive hive, const std::string& subKey, const std::string& valueName,
                             const std::string& text, uint32_t type)
{
    SetMemoryRegistryValue(hive, subKey, valueName, type, Utf16Bytes(text, true));
}

void AddMemoryRegistryKey(RegistryHive hive, const std::string& subKey)
{
    Memory()->AddKey(hive, MemoryKeyParts(subKey));
}

void ClearRegistryStore()
{
    Install(nullptr, std::make_shared<MemoryStore>());
}

} // namespace testing
} // namespace platform
