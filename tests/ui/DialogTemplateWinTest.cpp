#include "ui/DialogTemplate_win.h"

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DialogTemplateReading.h"
#include "common/WinResult.h"
#include "common/WinTestSupport.h"
#include "ui/DialogTemplate.h"
#include "ui/Strings.h"

namespace quarry {
namespace {

using testing::ItemBytes;
using testing::Read;

const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_NEUTRAL);
constexpr std::uint32_t kDialogStyle = 0x90C808C0;
constexpr std::uint32_t kWsExAppWindow = 0x40000;
const std::u16string kCancelJapanese = u"\u30ad\u30e3\u30f3\u30bb\u30eb";

std::vector<std::uint8_t> ResourceBytes(HRSRC resource) {
    if (!resource) return {};
    const auto* data = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(nullptr, resource)));
    return data ? std::vector<std::uint8_t>(data, data + ::SizeofResource(nullptr, resource))
                : std::vector<std::uint8_t>();
}

// Template `id` exactly in `language`, bypassing the loader's choice.
std::vector<std::uint8_t> TemplateIn(LANGID language, WORD id) {
    return ResourceBytes(::FindResourceExW(nullptr, RT_DIALOG, MAKEINTRESOURCEW(id), language));
}

// Template `id` as the loader picks it for the UI language.
std::vector<std::uint8_t> TemplateForUiLanguage(WORD id) {
    return ResourceBytes(::FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_DIALOG));
}

// A global block and its bytes; frees the block.
class Block {
public:
    explicit Block(HGLOBAL block) : block_(block) {}
    ~Block() {
        if (block_) ::GlobalFree(block_);
    }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    HGLOBAL Get() const { return block_; }
    std::vector<std::uint8_t> Bytes() const {
        const auto* data = static_cast<const std::uint8_t*>(::GlobalLock(block_));
        std::vector<std::uint8_t> bytes(data, data + ::GlobalSize(block_));
        ::GlobalUnlock(block_);
        return bytes;
    }

private:
    HGLOBAL block_;
};

BOOL WINAPI PoseAsWindowsXp(LPOSVERSIONINFOEXW info, DWORD, DWORDLONG) {
    return info->dwMajorVersion < 6;
}

// A font family that Windows (or Wine) has installed with character set 0.
int CALLBACK TakeFirstFamily(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<std::u16string*>(found) = FromWide(font->lfFaceName);
    return 0;
}
std::u16string SomeInstalledFamily() {
    std::u16string found;
    const HDC dc = ::CreateCompatibleDC(nullptr);
    LOGFONTW all = {};
    all.lfCharSet = ANSI_CHARSET;
    ::EnumFontFamiliesExW(dc, &all, TakeFirstFamily, reinterpret_cast<LPARAM>(&found), 0);
    ::DeleteDC(dc);
    return found;
}

TEST(DialogTemplateWinTest, TemplatesHaveTheLayoutAndFontsOfEachLanguage) {
    struct Case {
        LANGID language;
        WORD id;
        std::uint32_t style;
        std::u16string face;
        std::uint16_t weight;
        std::uint8_t charset;
        std::u16string cancel;
    };
    const Case cases[] = {
        {kEnglish, 105, kDialogStyle, u"Segoe UI", 400, 1, u"Cancel"},
        {kEnglish, 106, kDialogStyle | 0x08, u"MS Shell Dlg", 0, 1, u"Cancel"},
        {kJapanese, 105, kDialogStyle, u"Meiryo UI", 400, 1, kCancelJapanese},
        {kJapanese, 106, kDialogStyle, u"MS UI Gothic", 0, 128, kCancelJapanese},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("language " + std::to_string(c.language) + " template " +
                     std::to_string(c.id));
        const DialogTemplateLayout layout = Read(TemplateIn(c.language, c.id));
        EXPECT_TRUE(layout.extended);
        EXPECT_EQ(layout.style, c.style);
        EXPECT_EQ(layout.exStyle, kWsExAppWindow);
        EXPECT_EQ(std::vector<int>({layout.x, layout.y, layout.cx, layout.cy}),
                  std::vector<int>({0, 0, 245, 69}));
        EXPECT_EQ(layout.title, u"Norvik Quarry Tool");
        EXPECT_EQ(layout.pointSize, 9);
        EXPECT_EQ(layout.faceName, c.face);
        EXPECT_EQ(layout.weight, c.weight);
        EXPECT_EQ(layout.italic, 0);
        EXPECT_EQ(layout.charset, c.charset);
        ASSERT_EQ(layout.items.size(), 3u);

        const DialogItem& status = layout.items[0];
        EXPECT_EQ(status.id, 1011u);
        EXPECT_EQ(status.windowClass.ordinal, 0x82);  // static
        EXPECT_EQ(status.style, 0x50020000u);         // child, visible, group, left
        EXPECT_EQ(std::vector<int>({status.x, status.y, status.cx, status.cy}),
                  std::vector<int>({12, 12, 222, 12}));
        EXPECT_EQ(status.text.name, u"Extracting...");

        const DialogItem& progress = layout.items[1];
        EXPECT_EQ(progress.id, 1010u);
        EXPECT_EQ(progress.windowClass.name, u"MSCTLS_PROGRESS32");  // as the compiler spells it
        EXPECT_EQ(progress.style, 0x50800000u);                      // child, visible, border
        EXPECT_EQ(std::vector<int>({progress.x, progress.y, progress.cx, progress.cy}),
                  std::vector<int>({12, 30, 222, 14}));

        const DialogItem& button = layout.items[2];
        EXPECT_EQ(button.id, 2u);
        EXPECT_EQ(button.windowClass.ordinal, 0x80);  // button
        EXPECT_EQ(button.style, 0x50010000u);         // child, visible, tab stop, push button
        EXPECT_EQ(std::vector<int>({button.x, button.y, button.cx, button.cy}),
                  std::vector<int>({168, 48, 66, 14}));
        EXPECT_EQ(button.text.name, c.cancel);
        for (const DialogItem& item : layout.items) EXPECT_EQ(item.exStyle, 0u);
    }
}

TEST(DialogTemplateWinTest, LoaderPicksTheTemplateOfTheUiLanguage) {
    for (WORD id : {105, 106}) {
        const DialogTemplateLayout found = Read(TemplateForUiLanguage(id));
        ASSERT_EQ(found.items.size(), 3u);
        EXPECT_EQ(found.items[2].text.name, testing::ExpectJapanese() ? kCancelJapanese : u"Cancel");
        // The block is built from the same template.
        const Block block(BuildDialogTemplateBlock(id));
        ASSERT_NE(block.Get(), nullptr);
        EXPECT_EQ(Read(block.Bytes()).items[2].text.name, found.items[2].text.name);
    }
}

TEST(DialogTemplateWinTest, KeepsAnInstalledFontAndFallsBackForAMissingOne) {
    const std::u16string installed = SomeInstalledFamily();
    ASSERT_FALSE(installed.empty());
    EXPECT_EQ(ChooseDialogFont(installed, true), installed);
    EXPECT_EQ(ChooseDialogFont(installed, false), installed);
    for (const std::u16string& missing :
         {std::u16string(u"Quarry Missing Face"), std::u16string(40, u'A') + installed}) {
        EXPECT_EQ(ChooseDialogFont(missing, true), u"Segoe UI");
        EXPECT_EQ(ChooseDialogFont(missing, false), u"MS Shell Dlg");
    }
}

// The block for each template on this (Vista or later) Windows and posing as
// Windows XP: the chosen font of the language's string, the table's styles,
// the template's items unchanged.
TEST(DialogTemplateWinTest, BuildsTheBlockWithTheLanguagesFont) {
    ASSERT_TRUE(IsWindowsVersionOrLater(6, 0)) << "Wine should pose as Windows 7 or later";
    VersionFunctions windowsXp;
    windowsXp.verifyVersionInfo = PoseAsWindowsXp;
    struct Case {
        const char* name;
        bool vistaOrLater;
        const VersionFunctions& functions;
    };
    const VersionFunctions thisWindows;
    const Case cases[] = {{"this Windows", true, thisWindows}, {"Windows XP", false, windowsXp}};
    for (const Case& c : cases) {
        const std::u16string face =
            ChooseDialogFont(LoadResourceString(c.vistaOrLater ? 129 : 130), c.vistaOrLater);
        for (WORD id : {105, 106}) {
            SCOPED_TRACE(std::string(c.name) + " template " + std::to_string(id));
            const std::vector<std::uint8_t> original = TemplateForUiLanguage(id);
            const Block block(BuildDialogTemplateBlock(id, c.functions));
            ASSERT_NE(block.Get(), nullptr);
            EXPECT_EQ(::GlobalFlags(block.Get()) & GMEM_DISCARDABLE, 0u);
            const std::vector<std::uint8_t> bytes = block.Bytes();
            const DialogTemplateLayout layout = Read(bytes);
            EXPECT_EQ(layout.faceName, face);
            EXPECT_EQ(layout.style, face == u"MS Shell Dlg" ? kDialogStyle | 0x08 : kDialogStyle);
            EXPECT_EQ(ItemBytes(bytes), ItemBytes(original));
            if (Read(original).faceName == face && Read(original).style == layout.style) {
                EXPECT_EQ(bytes, original);
            }
        }
    }
}

// The dialog's icon: one image each at 16, 32 and 48 pixels, 32 bits with
// alpha, so that the system never scales one for the small or large icon.
TEST(DialogTemplateWinTest, ProgramIconHasItsThreeSizes) {
    const std::vector<std::uint8_t> group = ResourceBytes(
        ::FindResourceW(nullptr, MAKEINTRESOURCEW(100), MAKEINTRESOURCEW(14)));  // RT_GROUP_ICON
    ASSERT_GE(group.size(), 6u);
    const std::size_t count = group[4] | group[5] << 8;
    ASSERT_EQ(group.size(), 6 + 14 * count);
    std::vector<int> sizes;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = group.data() + 6 + 14 * i;
        EXPECT_EQ(entry[0], entry[1]);                // square
        EXPECT_EQ(entry[6] | entry[7] << 8, 32);      // bits per pixel
        sizes.push_back(entry[0]);
    }
    EXPECT_EQ(sizes, std::vector<int>({16, 32, 48}));
    for (int size : {16, 32, 48}) {
        const HICON icon = static_cast<HICON>(::LoadImageW(
            ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(100), IMAGE_ICON, size, size, 0));
        EXPECT_NE(icon, nullptr) << size;
        if (icon) ::DestroyIcon(icon);
    }
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

// Where control `id` sits in the dialog's client area, in pixels.
RECT ControlRect(HWND dialog, int id) {
    RECT rect = {};
    ::GetWindowRect(::GetDlgItem(dialog, id), &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The pixels of a control at x, y of size cx, cy in dialog units: the dialog
// manager converts position and size each on its own, then adds them.
RECT DialogUnits(HWND dialog, int x, int y, int cx, int cy) {
    RECT rect = {x, y, cx, cy};
    ::MapDialogRect(dialog, &rect);
    return {rect.left, rect.top, rect.left + rect.right, rect.top + rect.bottom};
}

std::u16string WindowClass(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return FromWide(name);
}

TEST(DialogTemplateWinTest, BlockRunsAsADialogWithItsFontAndControls) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    ASSERT_TRUE(::InitCommonControlsEx(&controls));
    for (WORD id : {105, 106}) {
        SCOPED_TRACE("template " + std::to_string(id));
        const Block block(BuildDialogTemplateBlock(id));
        ASSERT_NE(block.Get(), nullptr);
        const auto* dialogTemplate = static_cast<const DLGTEMPLATE*>(::GlobalLock(block.Get()));
        const HWND dialog = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), dialogTemplate,
                                                         nullptr, QuietDialogProc, 0);
        ::GlobalUnlock(block.Get());
        ASSERT_NE(dialog, nullptr) << ::GetLastError();

        const std::u16string face = Read(block.Bytes()).faceName;
        LOGFONTW font = {};
        ASSERT_NE(::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0)),
                               sizeof(font), &font),
                  0);
        EXPECT_EQ(FromWide(font.lfFaceName), face);

        wchar_t caption[64] = {};
        ::GetWindowTextW(dialog, caption, 64);
        EXPECT_EQ(FromWide(caption), u"Norvik Quarry Tool");

        struct Control {
            int id;
            const char16_t* windowClass;
            RECT units;
        };
        const Control expected[] = {{1011, u"Static", {12, 12, 222, 12}},
                                    {1010, u"msctls_progress32", {12, 30, 222, 14}},
                                    {2, u"Button", {168, 48, 66, 14}}};
        for (const Control& control : expected) {
            SCOPED_TRACE("control " + std::to_string(control.id));
            const HWND window = ::GetDlgItem(dialog, control.id);
            ASSERT_NE(window, nullptr);
            EXPECT_EQ(WindowClass(window), control.windowClass);
            const RECT want = DialogUnits(dialog, control.units.left, control.units.top,
                                          control.units.right, control.units.bottom);
            const RECT got = ControlRect(dialog, control.id);
            EXPECT_EQ(std::vector<LONG>({got.left, got.top, got.right, got.bottom}),
                      std::vector<LONG>({want.left, want.top, want.right, want.bottom}));
        }
        ::DestroyWindow(dialog);
    }
}

}  // namespace
}  // namespace quarry
