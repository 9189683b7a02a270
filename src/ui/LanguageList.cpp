#include "ui/LanguageList.h"

#include <algorithm>

#include "common/Text.h"

namespace quarry {

namespace {

struct CodeRow {
    const char16_t* name;
    const char16_t* code;
};

// Searched in this order; the first matching row wins.
const CodeRow kCodeTable[] = {
    {u"zh-cn", u"CHS"}, {u"zh-tw", u"CHT"}, {u"nl-nl", u"NLD"}, {u"hu-hu", u"HUN"},
    {u"fr-fr", u"FRA"}, {u"de-de", u"DEU"}, {u"it-it", u"ITA"}, {u"ja-jp", u"JPN"},
    {u"ko-kr", u"KOR"}, {u"ru-ru", u"RUS"}, {u"es-es", u"ESP"}, {u"en-us", u"ENG"},
    {u"pl-pl", u"PLK"}, {u"pt-br", u"PTB"}, {u"th-th", u"THA"}, {u"sk-sk", u"SLK"},
    {u"el-gr", u"ELL"}, {u"cs-cz", u"CES"}, {u"bg-bg", u"BGR"}, {u"tr-tr", u"TRK"},
    {u"ro-ro", u"ROM"}, {u"uk-ua", u"RUS"},
};

// Language names are ASCII tags; FoldCase upper-cases them, and lower case is
// its ASCII inverse.
char16_t LowerAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c;
}

void AppendUnique(std::vector<std::u16string>& list, std::u16string name) {
    if (name.empty()) return;
    if (std::find(list.begin(), list.end(), name) == list.end()) list.push_back(std::move(name));
}

}  // namespace

std::u16string NormalizeLanguageName(std::u16string_view name) {
    std::u16string out(name);
    const std::size_t dash = out.find(u'-');
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = (dash == std::u16string::npos || i < dash) ? LowerAscii(out[i]) : FoldCase(out[i]);
    return out;
}

std::u16string LanguageCode(std::u16string_view name) {
    for (const CodeRow& row : kCodeTable) {
        if (EqualsNoCase(name, row.name)) return row.code;
    }
    return std::u16string();
}

bool IsLanguageCode(std::u16string_view code) {
    for (const CodeRow& row : kCodeTable) {
        if (code == row.code) return true;
    }
    return false;
}

std::vector<std::u16string> SplitNameList(const char16_t* list, std::size_t length) {
    std::vector<std::u16string> names;
    if (!list) return names;
    std::size_t at = 0;
    while (at < length && list[at] != u'\0') {
        std::size_t end = at;
        while (end < length && list[end] != u'\0') ++end;
        names.emplace_back(list + at, end - at);
        at = end + 1;
    }
    return names;
}

std::vector<std::u16string> AssembleLanguageList(const std::vector<std::u16string>& threadNames,
                                                 const std::vector<std::u16string>& userNames) {
    std::vector<std::u16string> list;
    for (const std::u16string& name : threadNames) AppendUnique(list, NormalizeLanguageName(name));
    for (const std::u16string& name : userNames) AppendUnique(list, NormalizeLanguageName(name));
    std::vector<std::u16string> codes;
    for (const std::u16string& name : list) {
        std::u16string code = LanguageCode(name);
        if (!code.empty()) codes.push_back(std::move(code));
    }
    for (std::u16string& code : codes) AppendUnique(list, std::move(code));
    AppendUnique(list, u"en-US");
    AppendUnique(list, u"en");
    AppendUnique(list, u"ENG");
    return list;
}

}  // namespace quarry
