// Reads the fixed file version out of a PE file's version resource:
//   DOS header -> PE header -> optional header (PE32 or PE32+) -> resource
//   data directory -> resource tree (type RT_VERSION, name, language) ->
//   data entry -> VS_VERSIONINFO -> VS_FIXEDFILEINFO.
// Every offset and size read from the file is checked against the bounds of
// the structure it points into and of the file before it is used.

#include "platform/FileVersion.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <utility>
#include <vector>

namespace platform {
namespace {

constexpr uint16_t OptionalMagicPe32 = 0x10B;
constexpr uint16_t OptionalMagicPe32Plus = 0x20B;
constexpr uint32_t ResourceDirectoryIndex = 2;
constexpr uint32_t ResourceTypeVersion = 16; // RT_VERSION
constexpr uint32_t VersionInfoName = 1;      // VS_VERSION_INFO
constexpr uint32_t HighBit = 0x80000000u;
constexpr uint32_t FixedInfoSignature = 0xFEEF04BDu;
constexpr std::size_t FixedInfoSize = 13 * 4; // VS_FIXEDFILEINFO
constexpr std::size_t SectionHeaderSize = 40;
constexpr std::size_t MaxVersionInfoSize = 0xFFFF; // wLength is 16 bits

uint16_t U16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t U32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Copies n bytes at offset; false when they are not all inside the source.
    virtual bool Read(uint64_t offset, void* out, std::size_t n) = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const uint8_t* data, std::size_t size)
        : data(data)
        , size(size)
    {
    }

    bool Read(uint64_t offset, void* out, std::size_t n) override
    {
        if (offset > size || n > size - offset)
            return false;
        if (n > 0)
            std::memcpy(out, data + offset, n);
        return true;
    }

private:
    const uint8_t* data;
    std::size_t size;
};

class FileSource : public ByteSource {
public:
    FileSource(std::ifstream& in, uint64_t size)
        : in(in)
        , size(size)
    {
    }

    bool Read(uint64_t offset, void* out, std::size_t n) override
    {
        if (offset > size || n > size - offset)
            return false;
        if (n == 0)
            return true;
        in.clear();
        in.seekg(static_cast<std::streamoff>(offset));
        in.read(static_cast<char*>(out), static_cast<std::streamsize>(n));
        return in.good() && static_cast<std::size_t>(in.gcount()) == n;
    }

private:
    std::ifstream& in;
    uint64_t size;
};

struct Section {
    uint32_t virtualAddress;
    uint32_t rawSize;
    uint32_t rawPointer;
};

class PeReader {
public:
    explicit PeReader(ByteSource& source)
        : source(source)
    {
    }

    FileVersionStatus Read(FileVersion& version)
    {
        uint8_t dos[64];
        if (!source.Read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
            return FileVersionStatus::NotPeFile;
        const uint64_t peOffset = U32(dos + 0x3C);

        uint8_t fileHeader[24]; // signature + IMAGE_FILE_HEADER
        if (!source.Read(peOffset, fileHeader, sizeof fileHeader))
            return FileVersionStatus::NotPeFile;
        if (std::memcmp(fileHeader, "PE\0\0", 4) != 0)
            return FileVersionStatus::NotPeFile;
        const uint16_t sectionCount = U16(fileHeader + 6);
        const uint16_t optionalSize = U16(fileHeader + 20);
        const uint64_t optionalOffset = peOffset + sizeof fileHeader;

        uint8_t magicBytes[2];
        if (optionalSize < 2 || !source.Read(optionalOffset, magicBytes, 2))
            return FileVersionStatus::NotPeFile;
        std::size_t rvaCountOffset;
        const uint16_t magic = U16(magicBytes);
        if (magic == OptionalMagicPe32)
            rvaCountOffset = 92;
        else if (magic == OptionalMagicPe32Plus)
            rvaCountOffset = 108;
        else
            return FileVersionStatus::NotPeFile;

        std::vector<uint8_t> optional(optionalSize);
        if (!source.Read(optionalOffset, optional.data(), optional.size()))
            return FileVersionStatus::Malformed;
        if (optional.size() < rvaCountOffset + 4)
            return FileVersionStatus::Malformed;
        const uint32_t rvaCount = U32(&optional[rvaCountOffset]);
        if (rvaCount <= ResourceDirectoryIndex)
            return FileVersionStatus::NoVersionResource;
        const std::size_t directoryOffset = rvaCountOffset + 4 + ResourceDirectoryIndex * 8;
        if (optional.size() < directoryOffset + 8)
            return FileVersionStatus::Malformed;
        resourceRva = U32(&optional[directoryOffset]);
        if (resourceRva == 0 || U32(&optional[directoryOffset + 4]) == 0)
            return FileVersionStatus::NoVersionResource;

        std::vector<uint8_t> table(static_cast<std::size_t>(sectionCount) * SectionHeaderSize);
        if (!source.Read(optionalOffset + optionalSize, table.data(), table.size()))
            return FileVersionStatus::Malformed;
        for (std::size_t i = 0; i < sectionCount; ++i) {
            const uint8_t* s = &table[i * SectionHeaderSize];
            sections.push_back(Section{U32(s + 12), U32(s + 16), U32(s + 20)});
        }
        return ReadResource(version);
    }

private:
    // Copies n bytes at a relative virtual address; false when they do not lie
    // wholly in the file data of one section.
    bool ReadRva(uint64_t rva, void* out, std::size_t n)
    {
        for (const Section& s : sections) {
            if (rva < s.virtualAddress)
                continue;
            const uint64_t inSection = rva - s.virtualAddress;
            if (inSection >= s.rawSize || n > s.rawSize - inSection)
                continue;
            return source.Read(s.rawPointer + inSection, out, n);
        }
        return false;
    }

    // The entries of the resource directory at `offset` (from the resource
    // root): pairs of name/id and offset.
    bool ReadDirectory(uint32_t offset, std::vector<std::pair<uint32_t, uint32_t>>& entries)
    {
        uint8_t header[16];
        if (!ReadRva(static_cast<uint64_t>(resourceRva) + offset, header, sizeof header))
            return false;
        const std::size_t count = static_cast<std::size_t>(U16(header + 12)) + U16(header + 14);
        std::vector<uint8_t> raw(count * 8);
        if (!ReadRva(static_cast<uint64_t>(resourceRva) + offset + sizeof header, raw.data(), raw.size()))
            return false;
        entries.clear();
        for (std::size_t i = 0; i < count; ++i)
            entries.emplace_back(U32(&raw[i * 8]), U32(&raw[i * 8 + 4]));
        return true;
    }

    // The entry with the first id of `preferred` that is present, else the
    // first entry (or none when `preferred` is all that is accepted).
    static const std::pair<uint32_t, uint32_t>* Choose(const std::vector<std::pair<uint32_t, uint32_t>>& entries,
                                                       std::initializer_list<uint32_t> preferred, bool anyElse)
    {
        for (uint32_t id : preferred) {
            for (const auto& entry : entries) {
                if ((entry.first & HighBit) == 0 && entry.first == id)
                    return &entry;
            }
        }
        if (anyElse && !entries.empty())
            return &entries.front();
        return nullptr;
    }

    FileVersionStatus ReadResource(FileVersion& version)
    {
        std::vector<std::pair<uint32_t, uint32_t>> entries;
        if (!ReadDirectory(0, entries))
            return FileVersionStatus::Malformed;
        const auto* type = Choose(entries, {ResourceTypeVersion}, false);
        if (type == nullptr)
            return FileVersionStatus::NoVersionResource;
        if ((type->second & HighBit) == 0)
            return FileVersionStatus::Malformed;

        // Only the resource named VS_VERSION_INFO counts, as on Windows.
        if (!ReadDirectory(type->second & ~HighBit, entries))
            return FileVersionStatus::Malformed;
        const auto* name = Choose(entries, {VersionInfoName}, false);
        if (name == nullptr)
            return FileVersionStatus::NoVersionResource;
        if ((name->second & HighBit) == 0)
            return FileVersionStatus::Malformed;

        // Language: neutral, then US English, then whatever comes first (the
        // order Windows follows on an English system).
        if (!ReadDirectory(name->second & ~HighBit, entries))
            return FileVersionStatus::Malformed;
        const auto* language = Choose(entries, {0x0000, 0x0409}, true);
        if (language == nullptr)
            return FileVersionStatus::NoVersionResource;
        if ((language->second & HighBit) != 0)
            return FileVersionStatus::Malformed;

        uint8_t dataEntry[16];
        if (!ReadRva(static_cast<uint64_t>(resourceRva) + language->second, dataEntry, sizeof dataEntry))
            return FileVersionStatus::Malformed;
        const uint32_t dataRva = U32(dataEntry);
        const std::size_t dataSize = U32(dataEntry + 4);
        std::vector<uint8_t> data(dataSize < MaxVersionInfoSize ? dataSize : MaxVersionInfoSize);
        if (!ReadRva(dataRva, data.data(), data.size()))
            return FileVersionStatus::Malformed;
        return ParseVersionInfo(data, version);
    }

    // VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO", padding
    // to 32 bits, VS_FIXEDFILEINFO.
    static FileVersionStatus ParseVersionInfo(const std::vector<uint8_t>& data, FileVersion& version)
    {
        if (data.size() < 6)
            return FileVersionStatus::Malformed;
        const std::size_t length = U16(&data[0]);
        const std::size_t valueLength = U16(&data[2]);
        if (length < 6 || length > data.size())
            return FileVersionStatus::Malformed;

        static const char key[] = "VS_VERSION_INFO";
        std::size_t at = 6;
        for (std::size_t i = 0; i < sizeof key; ++i, at += 2) {
            if (at + 2 > length || U16(&data[at]) != static_cast<uint8_t>(key[i]))
                return FileVersionStatus::Malformed;
        }
        at = (at + 3) & ~static_cast<std::size_t>(3);
        if (valueLength == 0)
            return FileVersionStatus::NoFixedInfo;
        if (valueLength < FixedInfoSize || at + FixedInfoSize > length)
            return FileVersionStatus::Malformed;
        const uint8_t* fixed = &data[at];
        if (U32(fixed) != FixedInfoSignature)
            return FileVersionStatus::Malformed;
        const uint32_t ms = U32(fixed + 8);
        const uint32_t ls = U32(fixed + 12);
        version.major = static_cast<uint16_t>(ms >> 16);
        version.minor = static_cast<uint16_t>(ms & 0xFFFF);
        version.build = static_cast<uint16_t>(ls >> 16);
        version.revision = static_cast<uint16_t>(ls & 0xFFFF);
        return FileVersionStatus::Found;
    }

    ByteSource& source;
    uint32_t resourceRva = 0;
    std::vector<Section> sections;
};

} // namespace

FileVersionStatus ParseFixedFileVersion(const uint8_t* data, std::size_t size, FileVersion& version)
{
    if (data == nullptr)
        size = 0;
    MemorySource source(data, size);
    return PeReader(source).Read(version);
}

FileVersionStatus ReadFixedFileVersion(const std::string& path, FileVersion& version)
{
    std::error_code ec;
    // Only regular files: opening a FIFO or a device could block or never end.
    if (!std::filesystem::is_regular_file(std::filesystem::path(path), ec) || ec)
        return FileVersionStatus::Unreadable;
    const uintmax_t size = std::filesystem::file_size(std::filesystem::path(path), ec);
    if (ec)
        return FileVersionStatus::Unreadable;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return FileVersionStatus::Unreadable;
    FileSource source(in, size);
    return PeReader(source).Read(version);
}

} // namespace platform
