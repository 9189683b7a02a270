#include "ui/DialogTemplate_win.h"

#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "common/Result.h"
#include "common/WinResult.h"
#include "ui/DialogResources.h"
#include "ui/DialogTemplate.h"
#include "ui/Strings.h"

namespace quarry {
namespace {

// Any value the enumeration cannot return by itself: the first family found
// ends it, and the call hands this value back.
constexpr int kFontFound = 256;

int CALLBACK StopAtFirstFont(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM) {
    return kFontFound;
}

struct DeleteDcFn {
    void operator()(HDC dc) const { ::DeleteDC(dc); }
};

bool IsFontInstalled(const std::u16string& name) {
    // A longer name cannot be a family name.
    if (name.size() >= LF_FACESIZE) return false;
    const std::unique_ptr<std::remove_pointer_t<HDC>, DeleteDcFn> dc(::CreateCompatibleDC(nullptr));
    if (!dc) return false;
    LOGFONTW font = {};
    font.lfCharSet = ANSI_CHARSET;
    std::memcpy(font.lfFaceName, name.c_str(), name.size() * sizeof(char16_t));
    return ::EnumFontFamiliesExW(dc.get(), &font, StopAtFirstFont, 0, 0) == kFontFound;
}

// The template copy in a fixed block; null when storage runs out.
HGLOBAL CopyToGlobalBlock(const std::vector<std::uint8_t>& bytes) {
    const HGLOBAL block = ::GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, bytes.size());
    if (!block) return nullptr;
    // A fixed block's handle is its address; locking it is a formality.
    void* target = ::GlobalLock(block);
    if (!target) {
        ::GlobalFree(block);
        return nullptr;
    }
    std::memcpy(target, bytes.data(), bytes.size());
    ::GlobalUnlock(block);
    return block;
}

}  // namespace

std::u16string ChooseDialogFont(const std::u16string& name, bool vistaOrLater) {
    if (IsFontInstalled(name)) return name;
    return vistaOrLater ? u"Segoe UI" : u"MS Shell Dlg";
}

HGLOBAL BuildDialogTemplateBlock(WORD templateId) {
    return BuildDialogTemplateBlock(templateId, VersionFunctions());
}

HGLOBAL BuildDialogTemplateBlock(WORD templateId, const VersionFunctions& versionFunctions) {
    // No storage for the font name or the copy: no block.
    HGLOBAL block = nullptr;
    CatchAllocationFailures([&] {
        const bool vistaOrLater = IsWindowsVersionOrLater(6, 0, versionFunctions);
        const std::u16string wanted =
            LoadResourceString(vistaOrLater ? kStringFontVista : kStringFontXp);
        if (wanted.empty()) return kResultFail;
        const std::u16string face = ChooseDialogFont(wanted, vistaOrLater);

        const HRSRC resource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(templateId), RT_DIALOG);
        if (!resource) return kResultFail;
        const HGLOBAL loaded = ::LoadResource(nullptr, resource);
        const void* data = loaded ? ::LockResource(loaded) : nullptr;
        if (!data) return kResultFail;
        const std::vector<std::uint8_t> copy = CopyDialogTemplateWithFont(
            static_cast<const std::uint8_t*>(data), ::SizeofResource(nullptr, resource), face);
        if (copy.empty()) return kResultFail;
        block = CopyToGlobalBlock(copy);
        return kResultOk;
    });
    return block;
}

}  // namespace quarry
