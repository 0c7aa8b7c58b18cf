#pragma once
// Builds small PE files (PE32 or PE32+) with a version resource, for tests,
// and tells where its structures lie so that tests can break them.
//
// Layout: headers (0x000-0x1FF), .text (file 0x200, RVA 0x1000), .rsrc
// (file 0x400, RVA 0x2000) holding the resource tree
//   root directory -> [RT_ICON ->] RT_VERSION -> name -> language -> data entry
// and the VS_VERSIONINFO block.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Quendal {
namespace Testing {

inline void Put16(std::vector<uint8_t>& b, std::size_t at, uint16_t v)
{
    if (b.size() < at + 2)
        b.resize(at + 2);
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void Put32(std::vector<uint8_t>& b, std::size_t at, uint32_t v)
{
    Put16(b, at, static_cast<uint16_t>(v));
    Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

inline uint32_t Get32(const std::vector<uint8_t>& b, std::size_t at)
{
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

struct PeOptions {
    bool pe32Plus = false;
    bool withResources = true;   // a .rsrc section and its data directory
    bool withVersionType = true; // an RT_VERSION type in the resource tree
    bool withIconType = true;    // an RT_ICON type before RT_VERSION
    bool withFixedInfo = true;   // VS_FIXEDFILEINFO in VS_VERSIONINFO
    uint16_t fileVersion[4] = {1, 2, 3, 4};
    uint16_t productVersion[4] = {9, 8, 7, 6};
    uint32_t nameId = 1; // VS_VERSION_INFO
    uint16_t language = 0x0409;
    uint32_t signature = 0xFEEF04BDu;
};

// File offsets of the structures, for tests that corrupt them.
struct PeImage {
    std::vector<uint8_t> bytes;
    std::size_t peOffsetField = 0x3C; // e_lfanew
    std::size_t fileHeader = 0;       // after "PE\0\0"
    std::size_t optionalHeader = 0;
    std::size_t rvaCountField = 0;          // NumberOfRvaAndSizes
    std::size_t resourceDirectoryField = 0; // data directory 2 (RVA, size)
    std::size_t sectionTable = 0;
    std::size_t resourceSectionHeader = 0;
    std::size_t rootDirectory = 0;
    std::size_t versionTypeEntry = 0; // root entry of RT_VERSION
    std::size_t nameDirectory = 0;
    std::size_t languageEntry = 0;
    std::size_t dataEntry = 0;
    std::size_t versionInfo = 0;
    std::size_t versionInfoEnd = 0; // first byte after VS_VERSIONINFO
};

inline PeImage BuildPe(const PeOptions& o = PeOptions())
{
    constexpr uint32_t FileAlignment = 0x200;
    constexpr uint32_t TextRva = 0x1000;
    constexpr uint32_t TextFile = 0x200;
    constexpr uint32_t ResourceRva = 0x2000;
    constexpr uint32_t ResourceFile = 0x400;
    constexpr uint32_t HighBit = 0x80000000u;

    PeImage image;

    // Resource section content, offsets relative to its start.
    std::vector<uint8_t> rsrc;
    struct Leaf {
        uint32_t type;
        uint32_t name;
        uint16_t language;
        std::vector<uint8_t> data;
    };
    std::vector<Leaf> leaves;
    if (o.withIconType)
        leaves.push_back(Leaf{3, 1, 0x0409, std::vector<uint8_t>(16, 0xAB)});
    std::size_t versionLeaf = leaves.size();
    if (o.withVersionType) {
        std::vector<uint8_t> v;
        Put16(v, 2, o.withFixedInfo ? 52 : 0);
        Put16(v, 4, 0);
        const char key[] = "VS_VERSION_INFO";
        for (std::size_t i = 0; i < sizeof key; ++i)
            Put16(v, 6 + 2 * i, static_cast<uint8_t>(key[i]));
        v.resize(40); // padding to 32 bits
        if (o.withFixedInfo) {
            Put32(v, 40, o.signature);
            Put32(v, 44, 0x00010000);
            Put32(v, 48, (static_cast<uint32_t>(o.fileVersion[0]) << 16) | o.fileVersion[1]);
            Put32(v, 52, (static_cast<uint32_t>(o.fileVersion[2]) << 16) | o.fileVersion[3]);
            Put32(v, 56, (static_cast<uint32_t>(o.productVersion[0]) << 16) | o.productVersion[1]);
            Put32(v, 60, (static_cast<uint32_t>(o.productVersion[2]) << 16) | o.productVersion[3]);
            Put32(v, 64, 0x3F);
            Put32(v, 68, 0);
            Put32(v, 72, 0x00040004);
            Put32(v, 76, 1);
            Put32(v, 80, 0);
            Put32(v, 84, 0);
            Put32(v, 88, 0);
        }
        Put16(v, 0, static_cast<uint16_t>(v.size()));
        leaves.push_back(Leaf{16, o.nameId, o.language, v});
    }

    auto directory = [&rsrc](std::size_t at, uint16_t ids) {
        rsrc.resize(at + 16 + 8 * ids);
        Put16(rsrc, at + 14, ids);
    };
    const std::size_t root = 0;
    directory(root, static_cast<uint16_t>(leaves.size()));
    std::vector<std::size_t> dataEntries;
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        const std::size_t typeDir = rsrc.size();
        Put32(rsrc, root + 16 + 8 * i, leaves[i].type);
        Put32(rsrc, root + 16 + 8 * i + 4, HighBit | static_cast<uint32_t>(typeDir));
        directory(typeDir, 1);
        const std::size_t nameDir = rsrc.size();
        Put32(rsrc, typeDir + 16, leaves[i].name);
        Put32(rsrc, typeDir + 20, HighBit | static_cast<uint32_t>(nameDir));
        directory(nameDir, 1);
        const std::size_t entry = rsrc.size();
        Put32(rsrc, nameDir + 16, leaves[i].language);
        Put32(rsrc, nameDir + 20, static_cast<uint32_t>(entry));
        rsrc.resize(entry + 16);
        dataEntries.push_back(entry);
        if (i == versionLeaf) {
            image.versionTypeEntry = ResourceFile + root + 16 + 8 * i;
            image.nameDirectory = ResourceFile + typeDir;
            image.languageEntry = ResourceFile + nameDir + 16;
            image.dataEntry = ResourceFile + entry;
        }
    }
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        rsrc.resize((rsrc.size() + 3) & ~static_cast<std::size_t>(3));
        const std::size_t at = rsrc.size();
        rsrc.insert(rsrc.end(), leaves[i].data.begin(), leaves[i].data.end());
        Put32(rsrc, dataEntries[i], ResourceRva + static_cast<uint32_t>(at));
        Put32(rsrc, dataEntries[i] + 4, static_cast<uint32_t>(leaves[i].data.size()));
        if (i == versionLeaf) {
            image.versionInfo = ResourceFile + at;
            image.versionInfoEnd = ResourceFile + rsrc.size();
        }
    }
    image.rootDirectory = ResourceFile + root;
    const uint32_t rsrcRaw = (static_cast<uint32_t>(rsrc.size()) + FileAlignment - 1) & ~(FileAlignment - 1);

    // Headers.
    std::vector<uint8_t>& b = image.bytes;
    b.assign(FileAlignment, 0);
    b[0] = 'M';
    b[1] = 'Z';
    const std::size_t pe = 0x40;
    Put32(b, image.peOffsetField, static_cast<uint32_t>(pe));
    b[pe] = 'P';
    b[pe + 1] = 'E';
    image.fileHeader = pe + 4;
    const uint16_t sectionCount = o.withResources ? 2 : 1;
    const uint16_t optionalSize = o.pe32Plus ? 240 : 224;
    Put16(b, image.fileHeader, o.pe32Plus ? 0x8664 : 0x014C);
    Put16(b, image.fileHeader + 2, sectionCount);
    Put16(b, image.fileHeader + 16, optionalSize);
    Put16(b, image.fileHeader + 18, o.pe32Plus ? 0x0022 : 0x0102);

    const std::size_t opt = image.fileHeader + 20;
    image.optionalHeader = opt;
    Put16(b, opt, o.pe32Plus ? 0x20B : 0x10B);
    Put32(b, opt + 16, TextRva); // AddressOfEntryPoint
    Put32(b, opt + 32, 0x1000);  // SectionAlignment
    Put32(b, opt + 36, FileAlignment);
    Put32(b, opt + 56, ResourceRva + 0x1000 + rsrcRaw); // SizeOfImage
    Put32(b, opt + 60, FileAlignment);                  // SizeOfHeaders
    Put16(b, opt + 68, 2);                              // Subsystem: GUI
    image.rvaCountField = opt + (o.pe32Plus ? 108 : 92);
    Put32(b, image.rvaCountField, 16);
    image.resourceDirectoryField = image.rvaCountField + 4 + 2 * 8;
    if (o.withResources) {
        Put32(b, image.resourceDirectoryField, ResourceRva);
        Put32(b, image.resourceDirectoryField + 4, static_cast<uint32_t>(rsrc.size()));
    }

    image.sectionTable = opt + optionalSize;
    auto section = [&b](std::size_t at, const char* name, uint32_t virtualSize, uint32_t rva, uint32_t rawSize,
                        uint32_t rawPointer, uint32_t flags) {
        for (std::size_t i = 0; i < 8 && name[i] != '\0'; ++i)
            b[at + i] = static_cast<uint8_t>(name[i]);
        Put32(b, at + 8, virtualSize);
        Put32(b, at + 12, rva);
        Put32(b, at + 16, rawSize);
        Put32(b, at + 20, rawPointer);
        Put32(b, at + 36, flags);
    };
    section(image.sectionTable, ".text", 0x10, TextRva, FileAlignment, TextFile, 0x60000020);
    b.resize(TextFile + FileAlignment, 0);
    b[TextFile] = 0xC3; // ret
    if (o.withResources) {
        image.resourceSectionHeader = image.sectionTable + 40;
        section(image.resourceSectionHeader, ".rsrc", static_cast<uint32_t>(rsrc.size()), ResourceRva, rsrcRaw,
                ResourceFile, 0x40000040);
        b.resize(ResourceFile, 0);
        b.insert(b.end(), rsrc.begin(), rsrc.end());
        b.resize(ResourceFile + rsrcRaw, 0);
    }
    return image;
}

} // namespace Testing
} // namespace Quendal
