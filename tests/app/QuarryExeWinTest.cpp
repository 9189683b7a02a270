// Runs the shipped quarry.exe as a separate process and reads its full
// 32-bit exit code, which the wine command itself would cut to 8 bits.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/ProgramDriver.h"
#include "app/VersionInfo.h"
#include "common/WinTestSupport.h"
#include "package/PackageFormat.h"

namespace quarry {
namespace {

using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;

std::u16string ShippedProgram() { return testing::WindowsPathOf(QUARRY_EXE_PATH); }

DWORD RunProgram(const std::u16string& program, const std::u16string& arguments) {
    std::u16string commandLine = u"\"" + program + u"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(Wide(program), reinterpret_cast<wchar_t*>(&commandLine[0]),
                          nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW failed: " << ::GetLastError();
        return 0xDEADBEEF;
    }
    ::WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0xDEADBEEF;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

// The shipped program with a minimal package appended and its offset set.
std::vector<std::uint8_t> Packed(std::uint64_t time1) {
    std::vector<std::uint8_t> image = ReadBytes(ShippedProgram());
    EXPECT_GT(image.size(), 1024u);
    const std::uint64_t offset = image.size();
    for (int i = 0; i < 8; ++i) image[32 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
    PackageDirectory directory;
    directory.time1 = time1;
    PackageGroup main;
    main.name = kMainGroupName;
    main.entryCount = 1;
    PackageEntry settings;
    settings.name = kSettingsEntryName;
    settings.size = 2;
    main.entries.push_back(settings);
    directory.groups.push_back(main);
    std::vector<std::uint8_t> records;
    EXPECT_EQ(kResultOk, WriteDirectory(directory, records));
    image.insert(image.end(), records.begin(), records.end());
    image.push_back(0xFF);
    image.push_back(0xFE);
    return image;
}

// An unreadable package is the one failure that is shown even in a silent
// run: the program was started as a package and is not one.
DWORD AnswerUnreadableBox(const std::u16string& program, const std::u16string& arguments) {
    testing::ProgramDriver driver(program, arguments);
    const HWND box = driver.WaitForMessageBox();
    if (!box) {
        ADD_FAILURE() << "no message box";
        return 0xDEADBEEF;
    }
    EXPECT_EQ(testing::ProgramDriver::MessageText(box),
              u"This package could not be deployed to this computer.\r\n"
              u"The data in this package could not be read. Please confirm that it is a "
              u"correct file.\r\n(Code = 0x80040006)");
    EXPECT_EQ(testing::ProgramDriver::Caption(box), u"Norvik Quarry Tool");
    testing::ProgramDriver::Press(box, IDOK);
    return driver.WaitForExit();
}

TEST(QuarryExe, ProgramWithoutPackageShowsUnreadableBoxEvenWhenSilent) {
    EXPECT_EQ(0x80040006u, AnswerUnreadableBox(ShippedProgram(), u""));
    EXPECT_EQ(0x80040006u, AnswerUnreadableBox(ShippedProgram(), u"-s"));
}

TEST(QuarryExe, PackedProgramWithReadableHeaderEndsWithZero) {
    ScratchFolder folder;
    ASSERT_TRUE(WriteBytes(folder / u"packed.exe", Packed(0x01DB000000000001ull)));
    EXPECT_EQ(0u, RunProgram(folder / u"packed.exe", u"-s"));

    ASSERT_TRUE(WriteBytes(folder / u"zero-time.exe", Packed(0)));
    EXPECT_EQ(0x80040006u, AnswerUnreadableBox(folder / u"zero-time.exe", u"-s"));
}

TEST(QuarryExe, RunModeWithoutRequestEndsWithRequestMissing) {
    EXPECT_EQ(0x80040000u, RunProgram(ShippedProgram(), u"-run"));
    EXPECT_EQ(0x80040000u, RunProgram(ShippedProgram(), u"/RUN {guid}"));
}

TEST(QuarryExe, CarriesItsVersionBlockAndManifest) {
    const std::u16string program = ShippedProgram();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(Wide(program), &ignored);
    ASSERT_NE(0u, size);
    std::vector<std::uint8_t> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(Wide(program), 0, size, block.data()));
    wchar_t* productName = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\ProductName",
                                 reinterpret_cast<void**>(&productName), &length));
    EXPECT_EQ(u"Norvik Quarry Tool", FromWide(productName));

    EXPECT_EQ(u"Norvik Quarry Tool", ReadVersionProductName(program));
    // The test program has no version resource; a missing file has nothing.
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(u"", ReadVersionProductName(FromWide(self)));
    EXPECT_EQ(u"", ReadVersionProductName(u"Z:\\no\\such\\program.exe"));

    HMODULE module = ::LoadLibraryExW(Wide(program), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    HRSRC manifest = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(nullptr, manifest);
    const char* text = static_cast<const char*>(::LockResource(::LoadResource(module, manifest)));
    const std::string xml(text, ::SizeofResource(module, manifest));
    EXPECT_NE(std::string::npos, xml.find("level=\"asInvoker\""));
    EXPECT_NE(std::string::npos, xml.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"));
    EXPECT_NE(std::string::npos, xml.find("{1f676c76-80e1-4239-95bb-83d0f6d0da78}"));
    EXPECT_NE(std::string::npos, xml.find("Microsoft.Windows.Common-Controls"));
    EXPECT_NE(std::string::npos, xml.find("<dpiAware>true</dpiAware>"));
    ::FreeLibrary(module);
}

// A program packed with a version block of its own (make-ui-packages.sh):
// its start-up boxes carry that product name, and its icon is the one given.
TEST(QuarryExe, PackedProgramShowsTheProductNameAndIconCreateSet) {
    const std::u16string packed =
        testing::WindowsPathOf(std::string(QUARRY_TEST_DATA) + "/ui/product.exe");
    EXPECT_EQ(u"Contoso Driver", ReadVersionProductName(packed));
    // Without the option, the settings' ProductName.
    EXPECT_EQ(u"Quarry UI Test",
              ReadVersionProductName(testing::WindowsPathOf(std::string(QUARRY_TEST_DATA) + "/ui/basic.exe")));

    // The package's time stamp zeroed: the header is unreadable, and the box
    // that says so comes before anything of the package is read.
    std::vector<std::uint8_t> bytes = ReadBytes(packed);
    ASSERT_GT(bytes.size(), 40u);
    const std::uint64_t offset = LoadLE64(&bytes[kPackageOffsetPosition]);
    ASSERT_LT(offset + 8, bytes.size());
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
              bytes.begin() + static_cast<std::ptrdiff_t>(offset + 8), 0);
    ScratchFolder folder;
    ASSERT_TRUE(WriteBytes(folder / u"Contoso Setup.exe", bytes));
    testing::ProgramDriver driver(folder / u"Contoso Setup.exe", u"");
    const HWND box = driver.WaitForMessageBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(u"Contoso Driver", testing::ProgramDriver::Caption(box));
    testing::ProgramDriver::Press(box, IDOK);
    EXPECT_EQ(0x80040006u, driver.WaitForExit());

    HMODULE module = ::LoadLibraryExW(Wide(packed), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    HRSRC group = ::FindResourceW(module, MAKEINTRESOURCEW(100), RT_GROUP_ICON);
    ASSERT_NE(nullptr, group);
    const auto* directory = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(module, group)));
    ASSERT_EQ(6u + 14, ::SizeofResource(module, group));
    EXPECT_EQ(16, directory[6]);  // one image, 16 pixels wide
    const WORD image = static_cast<WORD>(directory[6 + 12] | (directory[6 + 13] << 8));
    HRSRC icon = ::FindResourceW(module, MAKEINTRESOURCEW(image), RT_ICON);
    ASSERT_NE(nullptr, icon);
    EXPECT_EQ(40u + 16 * 16 * 4 + 16 * 4, ::SizeofResource(module, icon));
    ::FreeLibrary(module);
}

}  // namespace
}  // namespace quarry
