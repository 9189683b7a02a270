#include "Pe.h"

#include <gtest/gtest.h>

#include <functional>

#include "ToolTestSupport.h"

namespace quarry::pack {
namespace {

using test::Bytes;
using test::MinimalPe;

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(Pe, FindsTheEndOfTheLastSection) {
    Bytes image = MinimalPe();
    // Three sections; the first one's data lies last in the file, and the
    // third has no raw data (its pointer must not count).
    image[0x80 + 6] = 3;
    image.resize(0x600, 0);
    const std::size_t table = 0x80 + 24 + 224;
    Put32(image, table + 20, 0x400);       // section 1: 0x200 bytes at 0x400
    Put32(image, table + 40 + 16, 0x200);  // section 2: 0x200 bytes at 0x200
    Put32(image, table + 40 + 20, 0x200);
    Put32(image, table + 80 + 16, 0);  // section 3: none
    Put32(image, table + 80 + 20, 0x10000);

    PeImage pe;
    ASSERT_TRUE(ReadPeImage(image.data(), image.size(), pe).Ok());
    EXPECT_EQ(0x600u, pe.imageEnd);
    EXPECT_EQ(0u, pe.packageOffset);
    EXPECT_TRUE(CheckStub(image.data(), image.size(), pe).Ok());
}

struct StubCase {
    const char* name;
    std::function<void(Bytes&)> damage;
    const char* message;  // part of the expected error
};

TEST(Pe, RefusesFilesThatCannotTakeAPackage) {
    const StubCase cases[] = {
        {"no MZ", [](Bytes& b) { b[0] = 'Z'; }, "not a PE program file"},
        {"too short", [](Bytes& b) { b.resize(40); }, "not a PE program file"},
        {"e_lfanew inside the DOS header", [](Bytes& b) { Put32(b, 0x3C, 0x20); },
         "not a PE program file"},
        {"e_lfanew past the end", [](Bytes& b) { Put32(b, 0x3C, 0x7FFFFFF0); },
         "not a PE program file"},
        {"no PE signature", [](Bytes& b) { b[0x81] = 'X'; }, "not a PE program file"},
        {"no sections", [](Bytes& b) { b[0x86] = 0; }, "not a PE program file"},
        {"section table past the end",
         [](Bytes& b) {
             b[0x86] = 0xFF;
             b[0x87] = 0xFF;
         },
         "not a PE program file"},
        {"section raw data past the end", [](Bytes& b) { b.resize(0x300); },
         "not a PE program file"},
        {"unknown optional header", [](Bytes& b) { b[0x98] = 0x07; }, "not a PE program file"},
        {"data after the last section", [](Bytes& b) { b.push_back(0); },
         "1 bytes after its last section"},
        {"already packed", [](Bytes& b) { b[32] = 0x40; }, "already holds a package"},
        {"signed", [](Bytes& b) { Put32(b, 0x98 + 96 + 4 * 8 + 4, 0x100); }, "is signed"},
    };
    for (const StubCase& c : cases) {
        Bytes image = MinimalPe();
        c.damage(image);
        PeImage pe;
        const Status status = CheckStub(image.data(), image.size(), pe);
        EXPECT_FALSE(status.Ok()) << c.name;
        EXPECT_NE(std::string::npos, status.Message().find(c.message))
            << c.name << ": " << status.Message();
    }
}

}  // namespace
}  // namespace quarry::pack
