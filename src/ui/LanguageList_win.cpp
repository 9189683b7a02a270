// The platform half of the language list: preferred UI languages, with the
// locale-identifier fallbacks for Windows before Vista.
#include <windows.h>


#include "common/Result.h"
#include "common/SystemLibrary.h"
#include "common/WinResult.h"
#include "ui/LanguageList.h"

namespace quarry {

namespace {

// Not in the XP headers that _WIN32_WINNT 0x0501 selects.
constexpr DWORD kMuiLanguageName = 0x8;  // MUI_LANGUAGE_NAME

// GetThreadPreferredUILanguages and GetUserPreferredUILanguages share this
// shape; both exist from Windows Vista on and are looked up at run time so
// that the program still loads on XP.
using PreferredLanguagesFunction = BOOL(WINAPI*)(DWORD flags, PULONG count, PWSTR buffer,
                                                  PULONG bufferLength);

PreferredLanguagesFunction LookUpPreferredLanguages(const char* name) {
    return ProcAddress<PreferredLanguagesFunction>(::GetModuleHandleW(L"kernel32.dll"), name);
}

// The names one of the functions returns; a failing call gives none.
std::vector<std::u16string> PreferredLanguages(PreferredLanguagesFunction function) {
    ULONG count = 0;
    ULONG length = 0;
    if (!function(kMuiLanguageName, &count, nullptr, &length) || length == 0) return {};
    std::vector<wchar_t> buffer(length, L'\0');
    if (!function(kMuiLanguageName, &count, buffer.data(), &length)) return {};
    return SplitNameList(reinterpret_cast<const char16_t*>(buffer.data()), buffer.size());
}

// "language-COUNTRY" of a locale identifier, the language alone when the
// country is empty, or nothing when the language is unavailable.
void AppendLocaleName(LCID locale, std::vector<std::u16string>& names) {
    wchar_t language[85] = {};
    if (::GetLocaleInfoW(locale, LOCALE_SISO639LANGNAME, language, 85) == 0 || !language[0])
        return;
    std::u16string name = FromWide(language);
    wchar_t country[85] = {};
    if (::GetLocaleInfoW(locale, LOCALE_SISO3166CTRYNAME, country, 85) != 0 && country[0])
        name += u"-" + FromWide(country);
    names.push_back(std::move(name));
}

}  // namespace

std::vector<std::u16string> BuildLanguageList() {
    std::vector<std::u16string> threadNames;
    if (const auto function = LookUpPreferredLanguages("GetThreadPreferredUILanguages"))
        threadNames = PreferredLanguages(function);
    else
        AppendLocaleName(::GetThreadLocale(), threadNames);

    std::vector<std::u16string> userNames;
    if (const auto function = LookUpPreferredLanguages("GetUserPreferredUILanguages")) {
        userNames = PreferredLanguages(function);
    } else {
        AppendLocaleName(MAKELCID(::GetUserDefaultUILanguage(), SORT_DEFAULT), userNames);
        AppendLocaleName(::GetUserDefaultLCID(), userNames);
    }
    return AssembleLanguageList(threadNames, userNames);
}

}  // namespace quarry
