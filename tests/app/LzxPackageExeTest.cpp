// A package whose payload cabinet has LZX folders: quarry.exe expands it
// through the platform's decompressor (FDI), unchanged, and runs its file.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/ProgramDriver.h"
#include "common/Text.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace {

using testing::ProgramDriver;

std::u16string UiData(const std::string& name) {
    return testing::WindowsPathOf(std::string(QUARRY_TEST_DATA) + "/ui/" + name);
}

TEST(LzxPackageExe, ExpandsThroughThePlatformDecompressorAndRuns) {
    testing::ScratchFolder folder;
    const std::u16string program = folder / u"lzx.exe";
    ASSERT_TRUE(::CopyFileW(Wide(UiData("run-lzx.exe")), Wide(program), FALSE));
    ProgramDriver silent(program, u"-s");
    EXPECT_EQ(42u, silent.WaitForExit());
    const std::vector<std::uint8_t> expected = testing::ReadBytes(UiData("src/run-lzx/code.bin"));
    ASSERT_GT(expected.size(), 4000000u);
    EXPECT_TRUE(expected == testing::ReadBytes(folder / u"Lzx\\code.bin"));
    EXPECT_TRUE(testing::ReadBytes(UiData("src/run-lzx/testprog.exe")) ==
                testing::ReadBytes(folder / u"Lzx\\testprog.exe"));
}

}  // namespace
}  // namespace quarry
