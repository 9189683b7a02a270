#include "XmlCheck.h"

#include <map>
#include <set>
#include <utility>

#include "common/Text.h"

namespace quarry::pack {

namespace {

// Raised inside the parser with the first problem; ParseXml catches it.
struct Fault {
    XmlProblem problem;
};

bool IsXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

bool IsSpace(char32_t c) { return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD; }

bool IsNameStart(char32_t c) {
    return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
           (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(char32_t c) {
    return IsNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

std::u16string ToUtf16(const std::u32string& text) {
    std::u16string out;
    for (char32_t c : text) AppendUtf16(out, c);
    return out;
}

std::string ToUtf8(const std::u32string& text) { return Utf16ToUtf8(ToUtf16(text)); }

// UTF-8 to code points; false at the first malformed sequence.
bool DecodeUtf8(const std::uint8_t* p, std::size_t size, std::u32string& out, std::size_t& badAt) {
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t b = p[i];
        char32_t c = 0;
        std::size_t length = 0;
        if (b < 0x80) {
            c = b;
            length = 1;
        } else if (b >= 0xC2 && b <= 0xDF) {
            c = b & 0x1F;
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            c = b & 0x0F;
            length = 3;
        } else if (b >= 0xF0 && b <= 0xF4) {
            c = b & 0x07;
            length = 4;
        } else {
            badAt = i;
            return false;
        }
        if (i + length > size) {
            badAt = i;
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) {
                badAt = i;
                return false;
            }
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        const bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
        if (overlong || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            badAt = i;
            return false;
        }
        out.push_back(c);
        i += length;
    }
    return true;
}

bool DecodeUtf16(const std::uint8_t* p, std::size_t size, bool little, std::u32string& out) {
    if (size % 2 != 0) return false;
    for (std::size_t i = 0; i < size; i += 2) {
        char32_t c = little ? (p[i] | (p[i + 1] << 8)) : ((p[i] << 8) | p[i + 1]);
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 3 >= size) return false;
            const char32_t low = little ? (p[i + 2] | (p[i + 3] << 8)) : ((p[i + 2] << 8) | p[i + 3]);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        out.push_back(c);
    }
    return true;
}

// The encoding named in an XML declaration at the start of single-byte or
// UTF-8 text, lower-cased; empty when there is none.
std::string DeclaredEncoding(const std::uint8_t* p, std::size_t size) {
    const std::string head(reinterpret_cast<const char*>(p), size < 200 ? size : 200);
    if (head.rfind("<?xml", 0) != 0) return std::string();
    const std::size_t end = head.find("?>");
    const std::size_t at = head.find("encoding");
    if (at == std::string::npos || (end != std::string::npos && at > end)) return std::string();
    std::size_t q = head.find_first_of("\"'", at);
    if (q == std::string::npos) return std::string();
    const std::size_t close = head.find(head[q], q + 1);
    if (close == std::string::npos) return std::string();
    std::string name = head.substr(q + 1, close - q - 1);
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return name;
}

class Parser {
public:
    explicit Parser(std::u32string text) : text_(std::move(text)) {}

    void Document(XmlDocument& document) {
        for (std::size_t i = 0; i < text_.size(); ++i) {
            if (!IsXmlChar(text_[i])) {
                pos_ = i;
                Fail("a character that XML does not allow (U+" + Hex(text_[i]) + ")");
            }
        }
        if (Starts(U"<?xml") && pos_ + 5 < text_.size() && IsSpace(text_[pos_ + 5])) {
            Declaration();
        }
        Misc();
        if (Starts(U"<!DOCTYPE")) {
            DocumentType();
            document.hasDocumentType = true;
            Misc();
        }
        if (!Starts(U"<")) Fail("no root element");
        std::vector<std::map<std::u32string, std::u32string>> scopes{
            {{U"xml", U"http://www.w3.org/XML/1998/namespace"}}};
        Element(document.root, scopes);
        Misc();
        if (pos_ < text_.size()) Fail("text after the root element");
    }

private:
    [[noreturn]] void Fail(const std::string& text) { throw Fault{{LineAt(pos_), text}}; }

    // Lines are counted from the last position asked for, which only grows
    // while the elements are read.
    int LineAt(std::size_t position) {
        if (position < linePos_) {
            linePos_ = 0;
            line_ = 1;
        }
        for (; linePos_ < position && linePos_ < text_.size(); ++linePos_) {
            if (text_[linePos_] == '\n') ++line_;
        }
        return line_;
    }

    static std::string Hex(char32_t c) {
        static const char kDigits[] = "0123456789ABCDEF";
        std::string out;
        for (int shift = c > 0xFFFF ? 20 : 12; shift >= 0; shift -= 4) out += kDigits[(c >> shift) & 0xF];
        return out;
    }

    bool Starts(std::u32string_view s) const { return text_.compare(pos_, s.size(), s) == 0; }
    bool AtEnd() const { return pos_ >= text_.size(); }
    char32_t Peek() const { return AtEnd() ? 0 : text_[pos_]; }

    void Expect(std::u32string_view s, const char* what) {
        if (!Starts(s)) Fail(std::string("expected ") + what);
        pos_ += s.size();
    }

    bool Spaces() {
        const std::size_t start = pos_;
        while (!AtEnd() && IsSpace(text_[pos_])) ++pos_;
        return pos_ != start;
    }

    std::u32string Name(const char* what) {
        if (AtEnd() || !IsNameStart(text_[pos_])) Fail(std::string("expected ") + what);
        const std::size_t start = pos_;
        while (!AtEnd() && IsNameChar(text_[pos_])) ++pos_;
        return text_.substr(start, pos_ - start);
    }

    // Up to and past `end`; the text before it is returned.
    std::u32string Until(std::u32string_view end, const char* what) {
        const std::size_t found = text_.find(end, pos_);
        if (found == std::u32string::npos) Fail(std::string("unterminated ") + what);
        std::u32string inside = text_.substr(pos_, found - pos_);
        pos_ = found + end.size();
        return inside;
    }

    void Declaration() {
        pos_ += 5;
        const std::u32string inside = Until(U"?>", "XML declaration");
        if (inside.find(U"version") == std::u32string::npos) {
            Fail("the XML declaration has no version");
        }
    }

    void Comment() {
        pos_ += 4;
        const std::u32string inside = Until(U"-->", "comment");
        if (inside.find(U"--") != std::u32string::npos || (!inside.empty() && inside.back() == '-')) {
            Fail("\"--\" inside a comment");
        }
    }

    void ProcessingInstruction() {
        pos_ += 2;
        const std::u32string target = Name("a processing instruction target");
        if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
            (target[2] | 0x20) == 'l') {
            Fail("an XML declaration that is not at the very start of the file");
        }
        if (!Starts(U"?>") && !Spaces()) Fail("expected \"?>\"");
        Until(U"?>", "processing instruction");
    }

    void Misc() {
        for (;;) {
            Spaces();
            if (Starts(U"<!--"))
                Comment();
            else if (Starts(U"<?"))
                ProcessingInstruction();
            else
                return;
        }
    }

    // Skipped: brackets and quotes are matched so that the end is found.
    void DocumentType() {
        pos_ += 9;
        int depth = 0;
        while (!AtEnd()) {
            const char32_t c = text_[pos_++];
            if (c == '"' || c == '\'') {
                const std::size_t close = text_.find(c, pos_);
                if (close == std::u32string::npos) break;
                pos_ = close + 1;
            } else if (c == '[') {
                ++depth;
            } else if (c == ']') {
                --depth;
            } else if (c == '>' && depth <= 0) {
                return;
            }
        }
        Fail("unterminated document type declaration");
    }

    // "&...;" at pos_; appends the character it stands for.
    void Reference(std::u32string& out) {
        ++pos_;
        if (Peek() == '#') {
            ++pos_;
            const bool hex = Peek() == 'x';
            if (hex) ++pos_;
            std::uint64_t value = 0;
            const std::size_t start = pos_;
            while (!AtEnd() && text_[pos_] != ';') {
                const char32_t c = text_[pos_];
                int digit = -1;
                if (c >= '0' && c <= '9') digit = static_cast<int>(c - '0');
                else if (hex && c >= 'a' && c <= 'f') digit = static_cast<int>(c - 'a' + 10);
                else if (hex && c >= 'A' && c <= 'F') digit = static_cast<int>(c - 'A' + 10);
                if (digit < 0) Fail("a malformed character reference");
                value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
                if (value > 0x10FFFF) Fail("a character reference beyond U+10FFFF");
                ++pos_;
            }
            if (pos_ == start || AtEnd()) Fail("a malformed character reference");
            ++pos_;
            if (!IsXmlChar(static_cast<char32_t>(value))) {
                Fail("a character reference to a character XML does not allow");
            }
            out.push_back(static_cast<char32_t>(value));
            return;
        }
        const std::u32string name = Name("an entity name after \"&\" (write &amp; for \"&\")");
        if (Peek() != ';') Fail("\"&" + ToUtf8(name) + "\" without \";\" (write &amp; for \"&\")");
        ++pos_;
        static const std::map<std::u32string, char32_t> kPredefined = {
            {U"amp", '&'}, {U"lt", '<'}, {U"gt", '>'}, {U"quot", '"'}, {U"apos", '\''}};
        const auto found = kPredefined.find(name);
        if (found == kPredefined.end()) Fail("the undefined entity &" + ToUtf8(name) + ";");
        out.push_back(found->second);
    }

    std::u32string AttributeValue() {
        const char32_t quote = Peek();
        if (quote != '"' && quote != '\'') Fail("an attribute value without quotes");
        ++pos_;
        std::u32string value;
        for (;;) {
            if (AtEnd()) Fail("an unterminated attribute value");
            const char32_t c = text_[pos_];
            if (c == quote) break;
            if (c == '<') Fail("\"<\" inside an attribute value");
            if (c == '&') {
                Reference(value);
                continue;
            }
            value.push_back(c);
            ++pos_;
        }
        ++pos_;
        return value;
    }

    // Splits "p:local"; refuses an empty part or a second colon.
    std::pair<std::u32string, std::u32string> Split(const std::u32string& name) {
        const std::size_t colon = name.find(':');
        if (colon == std::u32string::npos) return {U"", name};
        if (colon == 0 || colon + 1 == name.size() ||
            name.find(':', colon + 1) != std::u32string::npos) {
            Fail("the name \"" + ToUtf8(name) + "\" is not a valid qualified name");
        }
        return {name.substr(0, colon), name.substr(colon + 1)};
    }

    const std::u32string* Lookup(const std::vector<std::map<std::u32string, std::u32string>>& scopes,
                                 const std::u32string& prefix) const {
        for (auto it = scopes.rbegin(); it != scopes.rend(); ++it) {
            const auto found = it->find(prefix);
            if (found != it->end()) return &found->second;
        }
        return nullptr;
    }

    void Element(XmlElement& element,
                 std::vector<std::map<std::u32string, std::u32string>>& scopes) {
        const std::size_t start = pos_;
        Expect(U"<", "\"<\"");
        const std::u32string name = Name("an element name");
        element.name = ToUtf16(name);
        element.line = LineAt(start);
        std::vector<std::pair<std::u32string, std::u32string>> attributes;
        std::set<std::u32string> seen;
        std::map<std::u32string, std::u32string> scope;
        for (;;) {
            const bool spaced = Spaces();
            if (Starts(U"/>") || Starts(U">")) break;
            if (!spaced) Fail("expected a space, \">\" or \"/>\" in <" + ToUtf8(name) + ">");
            const std::u32string attribute = Name("an attribute name");
            Spaces();
            Expect(U"=", "\"=\" after an attribute name");
            Spaces();
            const std::u32string value = AttributeValue();
            if (!seen.insert(attribute).second) {
                Fail("the attribute " + ToUtf8(attribute) + " given twice");
            }
            if (attribute == U"xmlns") {
                scope[U""] = value;
            } else if (attribute.rfind(U"xmlns:", 0) == 0) {
                if (value.empty()) Fail("the prefix of " + ToUtf8(attribute) + " is bound to nothing");
                scope[attribute.substr(6)] = value;
            }
            attributes.emplace_back(attribute, value);
        }
        scopes.push_back(scope);
        const auto [prefix, local] = Split(name);
        const std::u32string* uri = Lookup(scopes, prefix);
        if (!prefix.empty() && uri == nullptr) {
            Fail("the prefix \"" + ToUtf8(prefix) + "\" of <" + ToUtf8(name) + "> is not declared");
        }
        element.localName = ToUtf16(local);
        element.namespaceUri = uri ? ToUtf16(*uri) : std::u16string();
        std::set<std::pair<std::u32string, std::u32string>> expanded;
        for (const auto& attribute : attributes) {
            const auto [attrPrefix, attrLocal] = Split(attribute.first);
            if (attrPrefix.empty() || attrPrefix == U"xmlns") continue;
            const std::u32string* attrUri = Lookup(scopes, attrPrefix);
            if (attrUri == nullptr) {
                Fail("the prefix \"" + ToUtf8(attrPrefix) + "\" of the attribute " +
                     ToUtf8(attribute.first) + " is not declared");
            }
            if (!expanded.insert({*attrUri, attrLocal}).second) {
                Fail("two attributes " + ToUtf8(attribute.first) + " in the same namespace");
            }
        }

        std::u32string text;
        if (Starts(U"/>")) {
            pos_ += 2;
        } else {
            ++pos_;
            Content(element, text, scopes);
            Expect(U"</", "\"</\"");
            const std::u32string closing = Name("an element name after \"</\"");
            if (closing != name) {
                Fail("</" + ToUtf8(closing) + "> closes <" + ToUtf8(name) + ">");
            }
            Spaces();
            Expect(U">", "\">\"");
        }
        scopes.pop_back();
        std::size_t first = 0;
        std::size_t last = text.size();
        while (first < last && IsSpace(text[first])) ++first;
        while (last > first && IsSpace(text[last - 1])) --last;
        element.text = ToUtf16(text.substr(first, last - first));
    }

    // Until the "</" of the enclosing element; `text` collects all
    // descendant text.
    void Content(XmlElement& element, std::u32string& text,
                 std::vector<std::map<std::u32string, std::u32string>>& scopes) {
        for (;;) {
            if (AtEnd()) Fail("<" + Utf16ToUtf8(element.name) + "> is not closed");
            if (Starts(U"</")) return;
            if (Starts(U"<!--")) {
                Comment();
            } else if (Starts(U"<![CDATA[")) {
                pos_ += 9;
                text += Until(U"]]>", "CDATA section");
            } else if (Starts(U"<?")) {
                ProcessingInstruction();
            } else if (Starts(U"<!")) {
                Fail("markup that is not allowed inside an element");
            } else if (Starts(U"<")) {
                element.children.emplace_back();
                XmlElement& child = element.children.back();
                Element(child, scopes);
                text += DescendantText(child);
            } else if (Peek() == '&') {
                Reference(text);
            } else {
                if (Starts(U"]]>")) Fail("\"]]>\" in text");
                text.push_back(text_[pos_++]);
            }
        }
    }

    // The child's text is kept trimmed; the parent wants it as written, which
    // for the checks that follow is close enough.
    static std::u32string DescendantText(const XmlElement& child) {
        std::u32string out;
        for (char16_t c : child.text) out.push_back(c);
        return out;
    }

    std::u32string text_;
    std::size_t pos_ = 0;
    std::size_t linePos_ = 0;
    int line_ = 1;
};

}  // namespace

bool ParseXml(const std::vector<std::uint8_t>& bytes, XmlDocument& document, XmlProblem& problem) {
    document = XmlDocument();
    const std::uint8_t* p = bytes.data();
    const std::size_t size = bytes.size();
    std::u32string text;
    bool decoded = false;
    if (size >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
        decoded = DecodeUtf16(p + 2, size - 2, p[0] == 0xFF, text);
        if (!decoded) {
            problem = {1, "not well-formed UTF-16 text"};
            return false;
        }
    } else if (size >= 2 && ((p[0] == '<' && p[1] == 0) || (p[0] == 0 && p[1] == '<'))) {
        decoded = DecodeUtf16(p, size, p[1] == 0, text);
        if (!decoded) {
            problem = {1, "not well-formed UTF-16 text"};
            return false;
        }
    } else {
        const bool bom = size >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF;
        const std::uint8_t* start = bom ? p + 3 : p;
        const std::size_t length = bom ? size - 3 : size;
        const std::string encoding = bom ? "utf-8" : DeclaredEncoding(start, length);
        if (encoding.empty() || encoding == "utf-8" || encoding == "utf8") {
            std::size_t badAt = 0;
            if (!DecodeUtf8(start, length, text, badAt)) {
                int line = 1;
                for (std::size_t i = 0; i < badAt; ++i) {
                    if (start[i] == '\n') ++line;
                }
                problem = {line, "not UTF-8 text (declare the encoding the file is written in)"};
                return false;
            }
        } else if (encoding == "us-ascii" || encoding == "iso-8859-1" || encoding == "latin1" ||
                   encoding == "windows-1252") {
            // For well-formedness only the markup characters matter, which
            // these encodings share with Latin-1.
            for (std::size_t i = 0; i < length; ++i) text.push_back(start[i]);
        } else {
            problem = {0, "written in the encoding \"" + encoding +
                              "\", which this check does not read; it is not checked"};
            return false;
        }
    }
    try {
        Parser(std::move(text)).Document(document);
    } catch (const Fault& fault) {
        problem = fault.problem;
        return false;
    }
    return true;
}

}  // namespace quarry::pack
