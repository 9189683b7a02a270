#include "CheckRules.h"

#include "Names.h"
#include "XmlCheck.h"
#include "common/Text.h"
#include "ui/LanguageList.h"

namespace quarry::pack {

namespace {

// Language element names that the language list can hold: a normalised
// tag ("ja-JP", "en", "zh-HANT-TW") or a three-letter code of the table.
bool IsPickableLanguage(std::u16string_view name) {
    if (IsLanguageCode(name)) return true;
    // "jpn" would be a tag, but it is meant as the code.
    std::u16string upper(name);
    for (char16_t& c : upper) c = FoldCase(c);
    if (IsLanguageCode(upper)) return false;
    if (name.empty() || NormalizeLanguageName(name) != name) return false;
    std::size_t start = 0;
    bool firstPart = true;
    while (start <= name.size()) {
        std::size_t end = name.find(u'-', start);
        if (end == std::u16string_view::npos) end = name.size();
        const std::u16string_view part = name.substr(start, end - start);
        if (part.empty() || part.size() > 8) return false;
        for (char16_t c : part) {
            const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
            const bool digit = c >= u'0' && c <= u'9';
            if (firstPart ? !letter : !(letter || digit)) return false;
        }
        if (firstPart && (part.size() < 2 || part.size() > 3)) return false;
        firstPart = false;
        start = end + 1;
    }
    return true;
}

}  // namespace

void CheckMessageFile(const CheckInputs& inputs, Report& report) {
    const std::string& file = inputs.messageFile;
    XmlDocument document;
    XmlProblem problem;
    if (!ParseXml(inputs.messageBytes, document, problem)) {
        if (problem.line == 0) {
            report.Add(Severity::Warning, file, 0, u"", problem.text);
        } else {
            report.Add(Severity::Error, file, problem.line, u"",
                       "not well-formed: " + problem.text + "; the program shows no message");
        }
        return;
    }
    const XmlElement& root = document.root;
    if (root.localName != u"MessageInfo") {
        report.Add(Severity::Error, file, root.line, root.name,
                   "the root element must be <MessageInfo>; the program shows no message");
        return;
    }
    if (!root.namespaceUri.empty()) {
        if (root.name.find(u':') == std::u16string::npos) {
            report.Add(Severity::Error, file, root.line, root.name,
                       "the default namespace of the root element applies to the language "
                       "elements too, which the program looks up without a namespace: it finds "
                       "none and shows no message; remove xmlns");
            return;
        }
        report.Add(Severity::Warning, file, root.line, root.name,
                   "with a namespace the program looks for Title and Message anywhere in the "
                   "file, so every language gets the first of each; write the file without one");
    }

    bool anyPickable = false;
    bool english = false;
    for (const XmlElement& language : root.children) {
        if (!IsPickableLanguage(language.name) || !language.namespaceUri.empty()) {
            std::string text = "the program never asks for this name";
            if (!language.namespaceUri.empty()) {
                text = "in a namespace, which the program's lookup does not match";
            } else {
                std::u16string better = NormalizeLanguageName(language.name);
                std::u16string upper(language.name);
                for (char16_t& c : upper) c = FoldCase(c);
                if (IsLanguageCode(upper)) better = upper;
                if (better != language.name && IsPickableLanguage(better)) {
                    text += " (names are matched exactly: write " + U8(better) + ")";
                } else {
                    text += " (a language name such as en-US or en, or a code such as ENG)";
                }
            }
            report.Add(Severity::Warning, file, language.line, language.name, text);
            continue;
        }
        anyPickable = true;
        english = english || language.name == u"en-US" || language.name == u"en" ||
                  language.name == u"ENG";
        bool title = false;
        bool message = false;
        for (const XmlElement& child : language.children) {
            title = title || child.name == u"Title";
            message = message || child.name == u"Message";
        }
        if (!title && !message && language.text.empty()) {
            report.Add(Severity::Warning, file, language.line, language.name,
                       "holds neither Title nor Message nor text");
        }
    }
    if (!anyPickable) {
        report.Add(Severity::Error, file, root.line, root.name,
                   "no language element the program would pick; it shows no message");
    } else if (!english) {
        report.Add(Severity::Warning, file, root.line, root.name,
                   "no en-US, en or ENG element: a user whose languages are all missing sees "
                   "no message");
    }
}

}  // namespace quarry::pack
