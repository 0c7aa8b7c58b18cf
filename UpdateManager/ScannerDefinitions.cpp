#include "UpdateManager/ScannerDefinitions.h"
#include "UpdateManager/JsonNesting.h"

#include "Common/Globals.h"
#include "Common/Helpers.h"
#include "Common/Log.h"
#include "Common/Timing.h"
#include "platform/Text.h"

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <memory>
#include <sstream>
#include <vector>

namespace Quendal {
namespace UpdateManager {
namespace {

// Error texts in the JSON reader's form, which is given no file name.
std::string ReaderError(const std::string& message)
{
    return "<unspecified file>: " + message;
}

void LogParseError(const std::string& pathText, const std::string& error)
{
    Logger().Error(LogCategory::UpdateManager, " Caught exception while parsing json file ", pathText, ": ", error);
}

// The file's text; false with the reader's kind of error text when it cannot
// be read, is not a regular file or is too large.
bool ReadDefinitionText(const boost::filesystem::path& path, std::string& text, std::string& error)
{
    switch (ReadRegularFile(path, MaxTextFileSize, text)) {
    case FileRead::Ok:
        return true;
    case FileRead::NotRegularFile:
        error = ReaderError("not a regular file");
        return false;
    case FileRead::TooLarge:
        error = ReaderError("larger than " + std::to_string(MaxTextFileSize) + " bytes");
        return false;
    case FileRead::Unreadable:
    default:
        error = ReaderError("read error");
        return false;
    }
}

// `text` with its comments (// to the end of the line, /* ... */) blanked
// out, outside JSON strings; line breaks stay, so line numbers hold.
std::string BlankComments(const std::string& text)
{
    enum class State { Code, String, Escape, LineComment, BlockComment };
    State state = State::Code;
    std::string out = text;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        switch (state) {
        case State::Code:
            if (c == '"') {
                state = State::String;
            } else if (c == '/' && next == '/') {
                state = State::LineComment;
                out[i] = out[i + 1] = ' ';
                ++i;
            } else if (c == '/' && next == '*') {
                state = State::BlockComment;
                out[i] = out[i + 1] = ' ';
                ++i;
            }
            break;
        case State::String:
            if (c == '\\')
                state = State::Escape;
            else if (c == '"')
                state = State::Code;
            break;
        case State::Escape:
            state = State::String;
            break;
        case State::LineComment:
            if (c == '\n')
                state = State::Code;
            else if (c != '\r')
                out[i] = ' ';
            break;
        case State::BlockComment:
            if (c == '*' && next == '/') {
                state = State::Code;
                out[i] = out[i + 1] = ' ';
                ++i;
            } else if (c != '\n' && c != '\r') {
                out[i] = ' ';
            }
            break;
        }
    }
    return out;
}

// The root must be an object or an array. False with the reader's kind of
// error text when it is neither.
bool CheckRoot(const std::string& text, std::string& error)
{
    // The reader skips a UTF-8 byte order mark (three bytes from a leading
    // 0xEF on) without counting its lines.
    const bool mark = !text.empty() && static_cast<unsigned char>(text[0]) == 0xEF;
    const std::size_t start = mark ? std::min<std::size_t>(3, text.size()) : 0;
    const std::size_t first = text.find_first_not_of(" \t\r\n", start);
    if (first == std::string::npos || text[first] == '{' || text[first] == '[')
        return true;
    std::size_t line = 1;
    for (std::size_t i = start; i < first; ++i)
        if (text[i] == '\n')
            ++line;
    error = "<unspecified file>(" + std::to_string(line) + "): expected object or array";
    return false;
}

} // namespace

ScannerDefinitions::ScannerDefinitions(const boost::filesystem::path& scannerDefinitionFile)
{
    loaded = Load(scannerDefinitionFile);
}

bool ScannerDefinitions::Load(const boost::filesystem::path& path)
{
    const std::string pathText = path.string();

    if (!path.empty()) {
        boost::system::error_code ec;
        // A missing file sets `ec` too, but gives the status file_not_found.
        const boost::filesystem::file_status status = boost::filesystem::status(path, ec);
        if (status.type() == boost::filesystem::status_error) {
            Logger().Warning(LogCategory::UpdateManager, "Could not examine scanner definition file: ", pathText, ": ",
                             ec.message());
            return false;
        }
        if (!boost::filesystem::exists(status)) {
            Logger().Warning(LogCategory::UpdateManager, "Could not find scanner definition file: ", pathText);
            return false;
        }
    }

    std::string text;
    std::string error;
    if (!ReadDefinitionText(path, text, error)) {
        LogParseError(pathText, error);
        return false;
    }
    const std::string json = BlankComments(text);
    // The reader is recursive: deeper text could exhaust the stack.
    if (!JsonNestingWithinLimit(json)) {
        LogParseError(pathText, ReaderError("nested deeper than " + std::to_string(MaxJsonNesting) + " levels"));
        return false;
    }

    boost::property_tree::ptree root;
    try {
        std::istringstream in(json);
        boost::property_tree::read_json(in, root);
        if (!CheckRoot(json, error)) {
            LogParseError(pathText, error);
            return false;
        }
    } catch (const boost::property_tree::ptree_error& e) {
        LogParseError(pathText, e.what());
        return false;
    }

    const boost::property_tree::ptree* scanner = nullptr;
    try {
        scanner = &root.get_child("scanner");
    } catch (const boost::property_tree::ptree_error& e) {
        Logger().Error(LogCategory::UpdateManager, "'scanner' node not found in scanner definition file: ", e.what());
        return true;
    }

    for (const auto& entry : *scanner) {
        std::string name;
        std::string sku;
        const boost::property_tree::ptree* rules = nullptr;
        try {
            name = entry.second.get<std::string>("name");
            sku = entry.second.get<std::string>("sku");
            rules = &entry.second.get_child("rules");
        } catch (const boost::property_tree::ptree_error& e) {
            Logger().Warning(LogCategory::UpdateManager, "Bad scanner definition for product '", name, "': ", e.what());
            continue;
        }
        AddRules(sku, *rules);
    }
    return true;
}

void ScannerDefinitions::AddRules(const std::string& sku, const boost::property_tree::ptree& rules)
{
    for (const auto& rule : rules) {
        if (rule.second.empty())
            continue;
        const auto& member = rule.second.front();
        const std::string& key = member.first;

        std::unique_ptr<VersionFinder> finder;
        if (key == "file") {
            finder = std::make_unique<FileVersionFinder>(member.second.data());
        } else if (key == "regkey") {
            const std::size_t count = member.second.size();
            if (count == 2 || count == 3) {
                std::vector<std::wstring> texts;
                for (const auto& element : member.second)
                    texts.push_back(platform::WideFromNarrow(element.second.data()));
                finder =
                    std::make_unique<RegKeyVersionFinder>(texts[0], texts[1], count == 3 ? texts[2] : std::wstring());
            } else {
                Logger().Warning(LogCategory::UpdateManager,
                                 "Missing a string in RegkeyVersionFinder definition in json '", key, "'");
            }
        }

        if (finder)
            definitions[sku].Add(std::move(finder));
        else
            Logger().Warning(LogCategory::UpdateManager, "Could not add Unknown Rule '", key, "'");
    }
    const VersionFinderSet& set = definitions[sku];
    Logger().Info(LogCategory::UpdateManager, set.Count(), " scan rules to find ", sku);
}

std::pair<ProductKey, std::string> ScannerDefinitions::SearchVersion(const std::string& sku) const
{
    Logger().Info(LogCategory::UpdateManager, "Searching for ", sku);
    std::pair<ProductKey, std::string> result(ProductKey(sku, SoftwareType), NotInstalledVersion);
    const auto it = definitions.find(sku);
    if (it != definitions.end()) {
        std::string text;
        bool itemFound = false;
        it->second.FindVersion(text, itemFound);
        result.second = text;
    }
    Logger().Info(LogCategory::UpdateManager, "Found ", sku, "/", result.second);
    return result;
}

std::map<ProductKey, std::string> ScannerDefinitions::CompleteScan() const
{
    CTiming timing("Complete Scan", true);
    Logger().Info(LogCategory::UpdateManager, "Complete Scan");
    std::map<ProductKey, std::string> result;
    for (const auto& definition : definitions) {
        std::string text;
        bool itemFound = false;
        definition.second.FindVersion(text, itemFound);
        result.emplace(ProductKey(definition.first, SoftwareType), text);
    }
    return result;
}

} // namespace UpdateManager
} // namespace Quendal
