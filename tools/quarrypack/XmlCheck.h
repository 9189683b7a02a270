// A well-formedness check for the package's message file, done here because
// the runner's reader (MSXML) exists only on Windows. It follows XML 1.0 and
// Namespaces in XML as far as a small document needs: the declaration,
// elements, attributes, character and entity references, comments,
// processing instructions, CDATA sections, a document type declaration
// (skipped), and prefixes that must be declared. What it reads is kept as a
// tree of elements for the checks of the file's content.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarry::pack {

struct XmlElement {
    std::u16string name;          // as written, prefix included
    std::u16string localName;     // without the prefix
    std::u16string namespaceUri;  // empty: no namespace
    int line = 0;
    std::vector<XmlElement> children;
    // All descendant text concatenated (what the DOM's `text` gives), with
    // white space at both ends removed.
    std::u16string text;
};

struct XmlDocument {
    XmlElement root;
    bool hasDocumentType = false;
};

struct XmlProblem {
    int line = 0;
    std::string text;
};

// Decodes `bytes` (UTF-8 with or without byte-order mark, UTF-16 with one,
// or the single-byte encodings us-ascii, iso-8859-1 and windows-1252 when
// the declaration names them) and checks it. False with the first problem
// and its line otherwise. An encoding this check cannot decode is a problem
// with line 0, which the caller may treat more mildly than a fault.
bool ParseXml(const std::vector<std::uint8_t>& bytes, XmlDocument& document, XmlProblem& problem);

}  // namespace quarry::pack
