#include "ui/XmlParser.h"

#include <oleauto.h>

#include <utility>

#include "common/Result.h"
#include "common/WinResult.h"

namespace nsCommon {
namespace {

// MSXML 3.0's DOMDocument30 class and IXMLDOMDocument2, spelt out here
// because MinGW's headers do not define the class identifier and its uuid
// library may lack the interface identifier.
constexpr CLSID kClsidDomDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
constexpr IID kIidXmlDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

const char16_t kQueryPrefix[] = u"//bk:";

// An owned BSTR. Allocation failure raises E_OUTOFMEMORY, as every string
// storage failure in the program does.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::u16string& text)
        : value_(::SysAllocString(quarry::Wide(text))) {
        if (!value_) throw quarry::ResultError{quarry::kResultOutOfMemory};
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { ::SysFreeString(value_); }

    BSTR Get() const { return value_; }
    BSTR* Put() {
        ::SysFreeString(std::exchange(value_, nullptr));
        return &value_;
    }
    // Hands the string to a VARIANT, which frees it from then on.
    BSTR Release() { return std::exchange(value_, nullptr); }
    std::u16string Text() const {
        return value_ ? quarry::FromWide(value_, ::SysStringLen(value_)) : std::u16string();
    }

private:
    BSTR value_ = nullptr;
};

// A string VARIANT holding a copy of `text`; cleared when it goes away. A
// failed VariantClear raises its code.
class StringVariant {
public:
    explicit StringVariant(const std::u16string& text) {
        ::VariantInit(&value_);
        Bstr string(text);
        value_.vt = VT_BSTR;
        value_.bstrVal = string.Release();
    }
    StringVariant(const StringVariant&) = delete;
    StringVariant& operator=(const StringVariant&) = delete;
    ~StringVariant() noexcept(false) {
        const HRESULT hr = ::VariantClear(&value_);
        if (quarry::Failed(hr)) throw quarry::ResultError{hr};
    }

    const VARIANT& Get() const { return value_; }

private:
    VARIANT value_;
};

}  // namespace

CXMLParser::CXMLParser() {
    const HRESULT hr = ::CoCreateInstance(kClsidDomDocument30, nullptr, CLSCTX_ALL,
                                          kIidXmlDomDocument2, document.PutVoid());
    if (quarry::Failed(hr)) document.Reset();
}

CXMLParser::~CXMLParser() = default;

bool CXMLParser::Load(const char16_t* path) {
    return path != nullptr && Load(std::u16string(path));
}

bool CXMLParser::Load(const std::u16string& path) {
    // A second load must not keep the namespace prefix of the first file.
    queryPrefix.clear();
    if (path.empty() || !document) return false;

    // The load options (async, validation, external resolution) stay as the
    // DOM creates them.
    VARIANT_BOOL loaded = VARIANT_FALSE;
    {
        StringVariant source(path);
        if (quarry::Failed(document->load(source.Get(), &loaded))) return false;
    }
    if (loaded != VARIANT_TRUE) return false;

    // A loaded document always has a root element; without one there is
    // simply no namespace to bind.
    quarry::ComPtr<IXMLDOMElement> root;
    Bstr namespaceUri;
    if (quarry::Succeeded(document->get_documentElement(root.Put())) && root) {
        if (quarry::Failed(root->get_namespaceURI(namespaceUri.Put()))) namespaceUri.Put();
    }
    const std::u16string ns = namespaceUri.Text();
    if (!ns.empty()) {
        // XPath has no default namespace: the root's namespace is bound to
        // "bk" so that queries can name elements in it. The result is not
        // checked: a refused binding makes every prefixed query fail, which
        // callers already treat as "nothing found". (Wine's msxml3 refuses
        // this value because of the blank before "=".)
        Bstr name(u"SelectionNamespaces");
        {
            StringVariant value(u"xmlns:bk ='" + ns + u"'");
            document->setProperty(name.Get(), value.Get());
        }
        queryPrefix = kQueryPrefix;
    }
    return true;
}

quarry::ComPtr<IXMLDOMNode> CXMLParser::SelectNode(const std::u16string& query,
                                                   IXMLDOMNode* context) const {
    quarry::ComPtr<IXMLDOMNode> found;
    IXMLDOMNode* from = context ? context : static_cast<IXMLDOMNode*>(document.Get());
    if (!from) return found;
    Bstr text(queryPrefix + query);
    // selectSingleNode answers S_FALSE with a null node when nothing matches.
    if (quarry::Failed(from->selectSingleNode(text.Get(), found.Put()))) found.Reset();
    return found;
}

std::u16string NodeText(IXMLDOMNode* node) {
    if (!node) return std::u16string();
    Bstr text;
    if (quarry::Failed(node->get_text(text.Put()))) return std::u16string();
    return text.Text();
}

}  // namespace nsCommon
