#include "platform/FileVersion.h"

#include "testsupport/Files.h"
#include "testsupport/PeBuilder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using platform::FileVersion;
using platform::FileVersionStatus;
using Quendal::Testing::BuildPe;
using Quendal::Testing::PeImage;
using Quendal::Testing::PeOptions;
using Quendal::Testing::Put16;
using Quendal::Testing::Put32;
using Quendal::Testing::ScratchFolder;
using Quendal::Testing::WriteFile;

namespace {

FileVersionStatus Parse(const std::vector<uint8_t>& bytes, FileVersion& version)
{
    return platform::ParseFixedFileVersion(bytes.data(), bytes.size(), version);
}

std::string Text(const FileVersion& v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) + "." +
           std::to_string(v.revision);
}

} // namespace

TEST(PeVersion, ReadsTheFixedFileVersion)
{
    struct Case {
        const char* name;
        std::function<void(PeOptions&)> setup;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"PE32", [](PeOptions&) {}, "1.2.3.4"},
        {"PE32+", [](PeOptions& o) { o.pe32Plus = true; }, "1.2.3.4"},
        {"each part whole",
         [](PeOptions& o) {
             o.fileVersion[0] = 10;
             o.fileVersion[1] = 2;
             o.fileVersion[2] = 300;
             o.fileVersion[3] = 4;
         },
         "10.2.300.4"},
        {"largest parts",
         [](PeOptions& o) {
             for (auto& p : o.fileVersion)
                 p = 65535;
         },
         "65535.65535.65535.65535"},
        {"zero",
         [](PeOptions& o) {
             for (auto& p : o.fileVersion)
                 p = 0;
         },
         "0.0.0.0"},
        {"only RT_VERSION", [](PeOptions& o) { o.withIconType = false; }, "1.2.3.4"},
        {"neutral language", [](PeOptions& o) { o.language = 0; }, "1.2.3.4"},
        {"other language",
         [](PeOptions& o) {
             o.language = 0x0407;
             o.pe32Plus = true;
         },
         "1.2.3.4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PeOptions options;
        c.setup(options);
        FileVersion version;
        ASSERT_EQ(Parse(BuildPe(options).bytes, version), FileVersionStatus::Found);
        EXPECT_EQ(Text(version), c.expected); // never the product version 9.8.7.6
    }
}

TEST(PeVersion, FilesWithoutAVersion)
{
    struct Case {
        const char* name;
        std::function<void(PeImage&)> change;
        FileVersionStatus expected;
    };
    auto with = [](std::function<void(PeOptions&)> setup) {
        return [setup](PeImage& image) {
            PeOptions options;
            setup(options);
            image = BuildPe(options);
        };
    };
    const std::vector<Case> cases = {
        {"no resource section", with([](PeOptions& o) { o.withResources = false; }),
         FileVersionStatus::NoVersionResource},
        {"PE32+ without resources", with([](PeOptions& o) {
             o.withResources = false;
             o.pe32Plus = true;
         }),
         FileVersionStatus::NoVersionResource},
        {"resources but no RT_VERSION", with([](PeOptions& o) { o.withVersionType = false; }),
         FileVersionStatus::NoVersionResource},
        {"empty resource tree", with([](PeOptions& o) {
             o.withVersionType = false;
             o.withIconType = false;
         }),
         FileVersionStatus::NoVersionResource},
        {"RT_VERSION named other than VS_VERSION_INFO", with([](PeOptions& o) { o.nameId = 7; }),
         FileVersionStatus::NoVersionResource},
        {"no fixed part", with([](PeOptions& o) { o.withFixedInfo = false; }), FileVersionStatus::NoFixedInfo},
        {"only two data directories", [](PeImage& i) { Put32(i.bytes, i.rvaCountField, 2); },
         FileVersionStatus::NoVersionResource},
        {"empty file", [](PeImage& i) { i.bytes.clear(); }, FileVersionStatus::NotPeFile},
        {"text file", [](PeImage& i) { i.bytes.assign(200, 'x'); }, FileVersionStatus::NotPeFile},
        {"MZ only", [](PeImage& i) { i.bytes.resize(2); }, FileVersionStatus::NotPeFile},
        {"no PE signature", [](PeImage& i) { i.bytes[0x41] = 'X'; }, FileVersionStatus::NotPeFile},
        {"unknown optional header", [](PeImage& i) { Put16(i.bytes, i.optionalHeader, 0x107); },
         FileVersionStatus::NotPeFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PeImage image = BuildPe();
        c.change(image);
        FileVersion version;
        version.major = 77;
        EXPECT_EQ(Parse(image.bytes, version), c.expected);
        EXPECT_EQ(version.major, 77); // untouched
    }
}

TEST(PeVersion, CorruptedOffsetsAndSizes)
{
    struct Case {
        const char* name;
        std::function<void(PeImage&)> corrupt;
        FileVersionStatus expected;
    };
    const std::vector<Case> cases = {
        {"PE header offset past the end", [](PeImage& i) { Put32(i.bytes, i.peOffsetField, 0xFFFFFFF0u); },
         FileVersionStatus::NotPeFile},
        {"optional header larger than the file", [](PeImage& i) { Put16(i.bytes, i.fileHeader + 16, 0xFFFF); },
         FileVersionStatus::Malformed},
        {"optional header too small for its directories", [](PeImage& i) { Put16(i.bytes, i.fileHeader + 16, 100); },
         FileVersionStatus::Malformed},
        {"section count past the end", [](PeImage& i) { Put16(i.bytes, i.fileHeader + 2, 0xFFFF); },
         FileVersionStatus::Malformed},
        {"resource RVA in no section", [](PeImage& i) { Put32(i.bytes, i.resourceDirectoryField, 0x90000); },
         FileVersionStatus::Malformed},
        {"resource RVA at the top of the address space",
         [](PeImage& i) { Put32(i.bytes, i.resourceDirectoryField, 0xFFFFFFFFu); }, FileVersionStatus::Malformed},
        {"section raw data past the end", [](PeImage& i) { Put32(i.bytes, i.resourceSectionHeader + 20, 0x7FFFFF00u); },
         FileVersionStatus::Malformed},
        {"section raw size huge",
         [](PeImage& i) {
             Put32(i.bytes, i.resourceSectionHeader + 16, 0xFFFFFFFFu);
             Put32(i.bytes, i.resourceSectionHeader + 20, 0xFFFFFFF0u);
         },
         FileVersionStatus::Malformed},
        {"root entry count past the section", [](PeImage& i) { Put16(i.bytes, i.rootDirectory + 14, 0xFFFF); },
         FileVersionStatus::Malformed},
        {"type subdirectory offset past the section",
         [](PeImage& i) { Put32(i.bytes, i.versionTypeEntry + 4, 0xFFFFFFFFu); }, FileVersionStatus::Malformed},
        {"type entry is data, not a directory", [](PeImage& i) { Put32(i.bytes, i.versionTypeEntry + 4, 0x10); },
         FileVersionStatus::Malformed},
        {"language entry points back to the root", [](PeImage& i) { Put32(i.bytes, i.languageEntry + 4, 0x80000000u); },
         FileVersionStatus::Malformed},
        {"data entry offset past the section", [](PeImage& i) { Put32(i.bytes, i.languageEntry + 4, 0x7FFFFFF0u); },
         FileVersionStatus::Malformed},
        {"data RVA in no section", [](PeImage& i) { Put32(i.bytes, i.dataEntry, 0x50); }, FileVersionStatus::Malformed},
        {"data size huge", [](PeImage& i) { Put32(i.bytes, i.dataEntry + 4, 0xFFFFFFFFu); },
         FileVersionStatus::Malformed},
        {"data size smaller than the block", [](PeImage& i) { Put32(i.bytes, i.dataEntry + 4, 60); },
         FileVersionStatus::Malformed},
        {"block length past its data", [](PeImage& i) { Put16(i.bytes, i.versionInfo, 0x4000); },
         FileVersionStatus::Malformed},
        {"block length too small for the fixed part", [](PeImage& i) { Put16(i.bytes, i.versionInfo, 60); },
         FileVersionStatus::Malformed},
        {"value length too small", [](PeImage& i) { Put16(i.bytes, i.versionInfo + 2, 12); },
         FileVersionStatus::Malformed},
        {"wrong key", [](PeImage& i) { i.bytes[i.versionInfo + 6] = 'X'; }, FileVersionStatus::Malformed},
        {"wrong signature", [](PeImage& i) { Put32(i.bytes, i.versionInfo + 40, 0x12345678); },
         FileVersionStatus::Malformed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PeImage image = BuildPe();
        c.corrupt(image);
        FileVersion version;
        EXPECT_EQ(Parse(image.bytes, version), c.expected);
    }
}

TEST(PeVersion, EveryTruncationFailsUntilTheBlockIsWhole)
{
    for (bool plus : {false, true}) {
        PeOptions options;
        options.pe32Plus = plus;
        const PeImage image = BuildPe(options);
        for (std::size_t length = 0; length <= image.bytes.size(); ++length) {
            // A copy of exactly `length` bytes, so that a read past it is caught.
            const std::vector<uint8_t> cut(image.bytes.begin(),
                                           image.bytes.begin() + static_cast<std::ptrdiff_t>(length));
            FileVersion version;
            const FileVersionStatus status = Parse(cut, version);
            if (length < image.versionInfoEnd)
                ASSERT_NE(status, FileVersionStatus::Found) << "length " << length;
            else
                ASSERT_EQ(status, FileVersionStatus::Found) << "length " << length;
        }
    }
}

TEST(PeVersion, ReadsFiles)
{
    ScratchFolder dir;
    PeOptions options;
    options.pe32Plus = true;
    options.fileVersion[0] = 3;
    const auto good = dir.Path() / "setup.exe";
    WriteFile(good, BuildPe(options).bytes);
    FileVersion version;
    ASSERT_EQ(platform::ReadFixedFileVersion(good.string(), version), FileVersionStatus::Found);
    EXPECT_EQ(Text(version), "3.2.3.4");

    PeImage cut = BuildPe();
    cut.bytes.resize(cut.versionInfoEnd - 1);
    const auto truncated = dir.Path() / "truncated.exe";
    WriteFile(truncated, cut.bytes);
    EXPECT_EQ(platform::ReadFixedFileVersion(truncated.string(), version), FileVersionStatus::Malformed);

    const auto fifo = dir.Path() / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(platform::ReadFixedFileVersion(fifo.string(), version), FileVersionStatus::Unreadable);
    EXPECT_EQ(platform::ReadFixedFileVersion(dir.Path().string(), version), FileVersionStatus::Unreadable);
    EXPECT_EQ(platform::ReadFixedFileVersion((dir.Path() / "missing.exe").string(), version),
              FileVersionStatus::Unreadable);
    EXPECT_EQ(platform::ReadFixedFileVersion("", version), FileVersionStatus::Unreadable);
    EXPECT_EQ(Text(version), "3.2.3.4");
}
