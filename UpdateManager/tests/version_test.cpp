#include "UpdateManager/ProductDescription.h"
#include "UpdateManager/Version.h"
#include "platform/OsVersion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace Quendal::UpdateManager;

namespace {

constexpr uint64_t Groups(uint64_t a, uint64_t b, uint64_t c, uint64_t d)
{
    return (a << 48) | (b << 32) | (c << 16) | d;
}

} // namespace

TEST(ParseVersion, Table)
{
    const std::vector<std::pair<std::string, uint64_t>> cases = {
        {"0.0", 0},
        {"5", 0},
        {"", 0},
        {".", 0},
        {"1.2.3.4", Groups(1, 2, 3, 4)},
        {"1.2.3.4.5", Groups(1, 2, 3, 4)},
        {"1.2.3.4.x", Groups(1, 2, 3, 4)}, // fifth piece never read
        {"1.2.3.4.", Groups(1, 2, 3, 4)},
        {"1.2", Groups(1, 2, 0, 0)},
        {"1.2.3", Groups(1, 2, 3, 0)},
        {"65535.65535.65535.65535", UINT64_MAX},
        {"1.x", 0},
        {"1.", 0},
        {"1.2.", 0},
        {"1..2", 0},
        {".1", 0},
        {"1.2a", 0},
        {"1. 2", 0},
        {" 1.2", 0},
        {"1.2 ", 0},
        {"65536.0", 0},
        {"1.99999999999999999999", 0}, // no overflow into a small value
        {"-1.0", Groups(0xFFFF, 0, 0, 0)},
        {"-0.1", Groups(0, 1, 0, 0)},
        {"-65535.0", Groups(1, 0, 0, 0)},
        {"-65536.0", 0},
        {"+7.1", Groups(7, 1, 0, 0)},
        {"007.1", Groups(7, 1, 0, 0)},
        {"+-1.0", 0},
        {"-.0", 0},
        {"1.0x10", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseVersion(c.first), c.second) << '"' << c.first << '"';
}

TEST(ParseVersion, ComparesAsNumbers)
{
    EXPECT_GT(ParseVersion("1.10"), ParseVersion("1.9"));
    EXPECT_GT(ParseVersion("2.0"), ParseVersion("1.65535.65535.65535"));
    EXPECT_EQ(ParseVersion("1.2.0.0"), ParseVersion("1.2"));
    EXPECT_LT(ParseVersion("1.2"), ParseVersion("1.2.0.1"));
}

namespace {

struct BoundCase {
    std::string text;
    bool ok;
    PlatformBound lower; // expected when ok
    PlatformBound upper;
};

} // namespace

namespace Quendal {
namespace UpdateManager {

bool operator==(const PlatformBound& a, const PlatformBound& b)
{
    return a.major == b.major && a.minor == b.minor && a.servicePack == b.servicePack;
}

std::ostream& operator<<(std::ostream& os, const PlatformBound& b)
{
    return os << b.major << '.' << b.minor << '.' << b.servicePack;
}

} // namespace UpdateManager
} // namespace Quendal

TEST(PlatformBound, ReadersTable)
{
    const std::vector<BoundCase> cases = {
        {"6.1.2", true, {6, 1, 2}, {6, 1, 2}},
        {"6.1", true, {6, 1, 0}, {6, 1, 65535}},
        {"6", true, {6, 0, 0}, {6, 65535, 65535}},
        {"6.1.2.9", true, {6, 1, 2}, {6, 1, 2}}, // fourth piece not read
        {"6.1.2.x", true, {6, 1, 2}, {6, 1, 2}},
        {"6.1sp2", true, {6, 1, 0}, {6, 1, 65535}}, // reading stops at the first non-digit
        {" 6. 1.\t2", true, {6, 1, 2}, {6, 1, 2}},  // leading white space allowed
        {"+6.1", true, {6, 1, 0}, {6, 1, 65535}},
        {"65536.1", true, {0, 1, 0}, {0, 1, 65535}}, // low 16 bits
        {"4294967295.0", true, {65535, 0, 0}, {65535, 0, 65535}},
        {"-1.0", true, {65535, 0, 0}, {65535, 0, 65535}}, // negated modulo 2^32
        {"6.1.65535", true, {6, 1, 65535}, {6, 1, 65535}},
        {"4294967296.0", false, {}, {}}, // above 32 bits
        {"99999999999999999999999.0", false, {}, {}},
        {"six.1", false, {}, {}},
        {"6.", false, {}, {}},
        {".1", false, {}, {}},
        {"6..1", false, {}, {}},
        {"6.1.", false, {}, {}},
        {"6.x", false, {}, {}},
        {"-", false, {}, {}},
        {" ", false, {}, {}},
        {"6.1.sp", false, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE('"' + c.text + '"');
        PlatformBound lower{1, 1, 1};
        PlatformBound upper{1, 1, 1};
        EXPECT_EQ(ReadLowerPlatformBound(c.text, lower), c.ok);
        EXPECT_EQ(ReadUpperPlatformBound(c.text, upper), c.ok);
        if (c.ok) {
            EXPECT_EQ(lower, c.lower);
            EXPECT_EQ(upper, c.upper);
        } else {
            EXPECT_EQ(lower, (PlatformBound{1, 1, 1})); // untouched on failure
            EXPECT_EQ(upper, (PlatformBound{1, 1, 1}));
        }
    }
}

class OsRange : public ::testing::Test {
protected:
    void TearDown() override { platform::testing::ClearOsVersionOverride(); }

    static void RunAs(uint32_t major, uint32_t minor, uint16_t sp)
    {
        platform::testing::OverrideOsVersion(platform::OsVersion{major, minor, sp});
    }
};

TEST_F(OsRange, ThisPlatformReportsSixPointTwo)
{
    platform::OsVersion os;
    os.major = 1;
    ASSERT_TRUE(platform::GetOsVersion(os));
    EXPECT_EQ(os.major, 6u);
    EXPECT_EQ(os.minor, 2u);
    EXPECT_EQ(os.servicePackMajor, 0u);
    EXPECT_TRUE(IsWindowsVersionOrGreater(6, 2, 0));
    EXPECT_FALSE(IsWindowsVersionOrGreater(6, 2, 1));
    EXPECT_FALSE(IsWindowsVersionOrGreater(6, 3, 0));
    EXPECT_TRUE(IsWindowsVersionOrGreater(6, 1, 65535));
    EXPECT_TRUE(IsWindowsVersionOrGreater(5, 65535, 65535));
    EXPECT_FALSE(IsWindowsVersionOrGreater(10, 0, 0));
}

TEST_F(OsRange, IsPlatformSupportedAgainstSeveralOses)
{
    struct Case {
        std::string min;
        std::string max;
        platform::OsVersion os;
        bool supported;
    };
    const std::vector<Case> cases = {
        {"", "", {6, 2, 0}, true},
        {"", "", {0, 0, 0}, true},
        {"", "", {10, 0, 0}, true},
        // Lower bound, inclusive over all three parts.
        {"6.1", "", {6, 1, 0}, true},
        {"6.1", "", {6, 0, 0}, false},
        {"6.1", "", {6, 2, 0}, true},
        {"6.1", "", {5, 9, 3}, false},
        {"6.1.1", "", {6, 1, 0}, false},
        {"6.1.1", "", {6, 1, 1}, true},
        {"6", "", {6, 0, 0}, true},
        {"6", "", {5, 65535, 65535}, false},
        {"6.0.0", "", {6, 0, 0}, true},
        // Upper bound, inclusive; missing parts admit every value.
        {"", "6.1.0", {6, 1, 0}, true},
        {"", "6.1.0", {6, 1, 1}, false},
        {"", "6.1", {6, 1, 1}, true},
        {"", "6.1", {6, 2, 0}, false},
        {"", "6", {6, 3, 0}, true},
        {"", "6", {10, 0, 0}, false},
        {"", "6.1.65535", {6, 1, 0}, true}, // no wrap of the service pack
        {"", "6.1.65535", {6, 1, 65535}, true},
        {"", "6.1.65535", {6, 2, 0}, false},
        {"", "6.65535.65535", {6, 65535, 65535}, true},
        {"", "10.0", {10, 0, 0}, true},
        {"", "10.0", {100, 0, 0}, false},
        // Both bounds.
        {"6.1", "6.3", {6, 2, 0}, true},
        {"6.1", "6.3", {6, 3, 5}, true},
        {"6.1", "6.3", {6, 4, 0}, false},
        {"6.1", "6.3", {6, 0, 9}, false},
        {"6.2", "6.2.0", {6, 2, 0}, true},
        {"6.3", "6.1", {6, 2, 0}, false}, // empty range
        // Unreadable bounds fail.
        {"six", "", {6, 2, 0}, false},
        {"6.", "", {6, 2, 0}, false},
        {".1", "", {6, 2, 0}, false},
        {"", "six", {6, 2, 0}, false},
        {"", "6.", {6, 2, 0}, false},
        {"", ".1", {6, 2, 0}, false},
        // A failing lower bound is not repaired by a good upper one, nor the reverse.
        {"7.0", "x", {6, 2, 0}, false},
        {"x", "7.0", {6, 2, 0}, false},
        {"6.1", "x", {6, 2, 0}, false},
        // A piece is read up to its first non-digit.
        {"6.1sp1", "", {6, 1, 0}, true},
        {"", "6.1sp1", {6, 1, 9}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("[" + c.min + ", " + c.max + "] on " + std::to_string(c.os.major) + "." +
                     std::to_string(c.os.minor) + " sp" + std::to_string(c.os.servicePackMajor));
        RunAs(c.os.major, c.os.minor, c.os.servicePackMajor);
        ProductDescription d;
        d.platformMinVersion = c.min;
        d.platformMaxVersion = c.max;
        d.platformDisplayVersion = "ignored";
        EXPECT_EQ(d.IsPlatformSupported(), c.supported);
    }
}

TEST_F(OsRange, FailedLookupCountsAsOlderOs)
{
    platform::testing::OverrideOsVersion(std::nullopt);
    platform::OsVersion os;
    EXPECT_FALSE(platform::GetOsVersion(os));
    EXPECT_FALSE(IsWindowsVersionOrGreater(0, 0, 0));

    ProductDescription d;
    EXPECT_TRUE(d.IsPlatformSupported());
    d.platformMinVersion = "0.0";
    EXPECT_FALSE(d.IsPlatformSupported());
    d.platformMinVersion = "";
    d.platformMaxVersion = "6.1";
    EXPECT_TRUE(d.IsPlatformSupported());

    platform::testing::ClearOsVersionOverride();
    ASSERT_TRUE(platform::GetOsVersion(os));
    EXPECT_EQ(os.minor, 2u);
}
