// Reader for the package's message file "MessageInfo.xml" over the MSXML 3.0
// DOM (DOMDocument30) through COM. The calling thread must have initialised
// COM; the program uses the multithreaded apartment.
//
// File layout as the queries read it: root element MessageInfo, one child per
// language named by a language name (ja-JP, en, JPN, ...), and inside that an
// optional Title and an optional Message element.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <string>

#include "common/Unique.h"

namespace nsCommon {

class CXMLParser {
public:
    // Creates the DOM document; when that fails `document` stays null and
    // every Load answers false.
    CXMLParser();
    virtual ~CXMLParser();
    CXMLParser(const CXMLParser&) = delete;
    CXMLParser& operator=(const CXMLParser&) = delete;

    // Loads the file at `path` (a null or empty path, a missing or malformed
    // file, or no document: false). When the root element has a namespace,
    // it is bound to the prefix "bk" for queries and `queryPrefix` becomes
    // "//bk:", so that every later query is prefixed with it.
    bool Load(const std::u16string& path);
    bool Load(const char16_t* path);

    // The first node that matches `queryPrefix` + `query`, evaluated against
    // `context` or, when that is null, the document. Null when nothing
    // matches or the query fails. Raises quarry::ResultError with
    // 0x8007000E when the query text cannot be allocated.
    quarry::ComPtr<IXMLDOMNode> SelectNode(const std::u16string& query,
                                           IXMLDOMNode* context) const;

    quarry::ComPtr<IXMLDOMDocument2> document;
    std::u16string queryPrefix;
};

// The DOM `text` of `node`: all descendant text concatenated. Empty for a
// null node or when the text cannot be read.
std::u16string NodeText(IXMLDOMNode* node);

}  // namespace nsCommon
