#include "Common/Helpers.h"
#include "Common/Globals.h"

#include "platform/Executable.h"
#include "platform/Path.h"

#include <boost/algorithm/string/replace.hpp>
#include <boost/filesystem/operations.hpp>

#include <Poco/DigestStream.h>
#include <Poco/MD5Engine.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

namespace Quendal {

std::string GetExecutablePath()
{
    std::string path;
    int error = 0;
    if (!platform::ExecutablePath(path, error)) {
        std::fprintf(stderr, "GetModuleHandle returned %d\n", error);
        std::fflush(stderr);
        return std::string();
    }
    return path;
}

bool GetKnownFolderPath(KnownFolderId id, std::string& out)
{
    std::string path;
    int error = 0;
    switch (platform::LookupKnownFolder(id, path, error)) {
    case platform::FolderLookup::Found:
        out = path;
        return true;
    case platform::FolderLookup::ConversionFailed:
        std::printf("GetLastError after WideCharToMultiByte returned %d\n", error);
        std::fflush(stdout);
        return false;
    case platform::FolderLookup::NotFound:
    default:
        return false;
    }
}

bool GetFolderPath(FolderKind kind, std::string& out)
{
    switch (kind) {
    case FolderKind::ProgramData:
        return GetKnownFolderPath(KnownFolderId::ProgramData, out);
    case FolderKind::ProgramFilesX86:
        return GetKnownFolderPath(KnownFolderId::ProgramFilesX86, out);
    case FolderKind::ProgramFilesX64:
        return GetKnownFolderPath(KnownFolderId::ProgramFilesX64, out);
    case FolderKind::Desktop:
        return GetKnownFolderPath(KnownFolderId::Desktop, out);
    case FolderKind::Downloads:
        return GetKnownFolderPath(KnownFolderId::Downloads, out);
    case FolderKind::Profile:
        return GetKnownFolderPath(KnownFolderId::Profile, out);
    case FolderKind::SystemDrive: {
        const char* value = std::getenv("SystemDrive");
        if (value == nullptr || value[0] == '\0')
            return false;
        out = std::string(value) + GetPathSeparator();
        return true;
    }
    default:
        return false;
    }
}

std::string GetPathSeparator()
{
    return std::string(1, platform::PathSeparator);
}

std::string GetFileChecksum(boost::filesystem::path file)
{
    try {
        boost::system::error_code ec;
        const boost::filesystem::file_status status = boost::filesystem::status(file, ec);
        if (ec || !boost::filesystem::exists(status))
            return std::string();
        // A directory, pipe or device has no bytes of its own to hash (and a
        // pipe or device could block or never end).
        if (!boost::filesystem::is_regular_file(status))
            return std::string();

        std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.string().c_str(), "rb"), &std::fclose);
        if (!in)
            return std::string();

        Poco::MD5Engine md5;
        Poco::DigestOutputStream digest(md5);
        std::vector<char> buffer(8192);
        for (;;) {
            const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get());
            if (got > 0)
                digest.write(buffer.data(), static_cast<std::streamsize>(got));
            if (std::ferror(in.get()) || !digest)
                return std::string(); // never the digest of a part of the file
            if (got < buffer.size())
                break;
        }
        digest.flush();
        return Poco::DigestEngine::digestToHex(md5.digest());
    } catch (const boost::filesystem::filesystem_error&) {
        return std::string();
    }
}

uint64_t GetFileSizeOrZero(boost::filesystem::path file)
{
    try {
        boost::system::error_code ec;
        const boost::filesystem::file_status status = boost::filesystem::status(file, ec);
        if (ec || !boost::filesystem::exists(status))
            return 0;
        return boost::filesystem::file_size(file);
    } catch (const boost::filesystem::filesystem_error&) {
        return 0;
    }
}

FileRead ReadRegularFile(const boost::filesystem::path& file, std::size_t limit, std::string& content)
{
    boost::system::error_code ec;
    const boost::filesystem::file_status status = boost::filesystem::status(file, ec);
    if (ec || !boost::filesystem::exists(status) || boost::filesystem::is_directory(status))
        return FileRead::Unreadable;
    if (!boost::filesystem::is_regular_file(status))
        return FileRead::NotRegularFile;
    const uintmax_t size = boost::filesystem::file_size(file, ec);
    if (!ec && size > limit)
        return FileRead::TooLarge;

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.string().c_str(), "rb"), &std::fclose);
    if (!in)
        return FileRead::Unreadable;
    // The size may have changed since: read one byte past the limit to tell.
    std::string text;
    std::vector<char> buffer(8192);
    for (;;) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get());
        text.append(buffer.data(), got);
        if (text.size() > limit)
            return FileRead::TooLarge;
        if (std::ferror(in.get()))
            return FileRead::Unreadable;
        if (got < buffer.size())
            break;
    }
    content = std::move(text);
    return FileRead::Ok;
}

std::string ReplaceAll(const std::string& subject, const std::string& from, const std::string& to)
{
    return boost::algorithm::replace_all_copy(subject, from, to);
}

char RandomAlphanumericChar()
{
    static const char set[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    return set[std::rand() % 62];
}

char RandomFileNameChar()
{
    return FileNameCharset[static_cast<std::size_t>(std::rand()) % FileNameCharset.size()];
}

} // namespace Quendal
