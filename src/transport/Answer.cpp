#include "transport/Answer.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "support/Result.h"

namespace tarnix {

const CLSID kClsidDomDocument = {
    0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
const IID kIidXmlDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidXmlDomNode = {
    0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

namespace {

UniqueBstr MakeBstr(const std::wstring& text) {
    ThrowHrIf(text.size() > UINT_MAX / sizeof(wchar_t), E_OUTOFMEMORY);
    UniqueBstr result(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    ThrowHrIf(!result, E_OUTOFMEMORY);
    return result;
}

UniqueBstr PatternBstr(const char* pattern) {
    ThrowHrIf(!pattern, E_POINTER);
    return MakeBstr(NarrowToWide(CP_ACP, pattern, -1));
}

// First match or null; a failing call is raised.
ComPtr<IXMLDOMNode> SelectSingleNode(IXMLDOMNode* node, const char* pattern) {
    ThrowHrIf(!node, E_POINTER);
    UniqueBstr query = PatternBstr(pattern);
    ComPtr<IXMLDOMNode> found;
    ThrowIfFailed(node->selectSingleNode(query.get(), found.put()));
    return found;
}

bool IsScanfSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

int HexDigitValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Reads `text` as "%x" does into a 32-bit value: white space, an optional sign, an optional
// 0x/0X, then hexadecimal digits up to the first other character; a minus sign negates modulo
// 2^32. False when no digit follows the prefix or the digits need more than 32 bits: such an
// error answer says nothing usable and must not pass for a success.
bool ReadHexValue(const std::wstring& text, uint32_t* value) {
    size_t i = 0;
    while (i < text.size() && IsScanfSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    if (i + 1 < text.size() && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X'))
        i += 2;
    uint64_t accumulated = 0;
    size_t digits = 0;
    for (int d; i < text.size() && (d = HexDigitValue(text[i])) >= 0; ++i, ++digits) {
        accumulated = accumulated * 16 + static_cast<uint64_t>(d);
        if (accumulated > UINT32_MAX) return false;
    }
    if (digits == 0) return false;
    uint32_t result = static_cast<uint32_t>(accumulated);
    *value = negative ? 0u - result : result;
    return true;
}

// A document type declaration anywhere in the text, in any case.
bool ContainsDoctype(const std::string& text) {
    static constexpr char kMarker[] = "<!doctype";
    for (size_t at = text.find("<!"); at != std::string::npos; at = text.find("<!", at + 2)) {
        size_t i = 0;
        while (i < sizeof kMarker - 1 && at + i < text.size() &&
               (text[at + i] | (i >= 2 ? 0x20 : 0)) == kMarker[i])
            ++i;
        if (i == sizeof kMarker - 1) return true;
    }
    return false;
}

}  // namespace

ComPtr<IXMLDOMNode> LoadAnswerDocument(IStream* stream) {
    ThrowHrIf(!stream, E_POINTER);
    STATSTG stat = {};
    ThrowIfFailed(stream->Stat(&stat, STATFLAG_NONAME));
    // The answer is held in memory and converted as one piece of text.
    ThrowHrIf(stat.cbSize.QuadPart > static_cast<ULONGLONG>(INT_MAX), E_OUTOFMEMORY);
    ULONG size = stat.cbSize.LowPart;

    std::string text(size, '\0');
    ULONG read = 0;
    if (size > 0) ThrowIfFailed(stream->Read(&text[0], size, &read));
    text.resize(read < size ? read : size);
    // XML allows no NUL character; the parser would stop at one and could accept the part
    // before it as a whole answer.
    ThrowHrIf(text.find('\0') != std::string::npos, E_INVALIDARG);

    // The service never sends a document type declaration, and one is where an answer from
    // whoever sits on the plain-HTTP path could reach into the host's machine (an external
    // entity naming a local file, which would come back as a value and leave with the next
    // request) or stall it (entities that expand without end). Such an answer is refused before
    // it is parsed, and the parser is told to resolve nothing, whatever its defaults are.
    ThrowHrIf(ContainsDoctype(text), E_INVALIDARG);

    ComPtr<IXMLDOMDocument2> document;
    ThrowIfFailed(CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER,
                                   kIidXmlDomDocument2, document.put_void()));
    ThrowIfFailed(document->put_validateOnParse(VARIANT_FALSE));
    ThrowIfFailed(document->put_resolveExternals(VARIANT_FALSE));
    {
        UniqueBstr name = MakeBstr(L"ProhibitDTD");
        VARIANT prohibit;
        VariantInit(&prohibit);
        V_VT(&prohibit) = VT_BOOL;
        V_BOOL(&prohibit) = VARIANT_TRUE;
        ThrowIfFailed(document->setProperty(name.get(), prohibit));
    }

    UniqueBstr source = MakeBstr(NarrowToWide(CP_ACP, text.data(), static_cast<int>(text.size())));
    VARIANT_BOOL parsed = VARIANT_FALSE;
    ThrowIfFailed(document->loadXML(source.get(), &parsed));
    ThrowHrIf(parsed != VARIANT_TRUE, E_INVALIDARG);

    ComPtr<IXMLDOMNode> node;
    ThrowIfFailed(document->QueryInterface(kIidXmlDomNode, node.put_void()));
    return node;
}

ComPtr<IXMLDOMNode> CheckAnswerStatus(IXMLDOMNode* document) {
    ThrowHrIf(!document, E_POINTER);
    {
        UniqueBstr query = PatternBstr("//ok");
        ComPtr<IXMLDOMNode> ok;
        // A failing selection only means no `ok`: the error path decides.
        if (SUCCEEDED(document->selectSingleNode(query.get(), ok.put())) && ok)
            return ComPtr<IXMLDOMNode>(document);
    }

    ComPtr<IXMLDOMNode> error = SelectSingleNode(document, "//error");
    ThrowHrIf(!error, E_INVALIDARG);
    ComPtr<IXMLDOMNode> hresult = SelectSingleNode(error.get(), "hresult");
    ThrowHrIf(!hresult, E_INVALIDARG);

    uint32_t reported = 0;
    ThrowHrIf(!ReadHexValue(GetNodeText(hresult.get()), &reported), E_INVALIDARG);
    // An error answer always fails: with the service's own code, unless that code is not a
    // failure (the answer said error all the same) or is one the host reads as a state of its
    // own (E_PENDING would make a finished request look pending for ever).
    const HRESULT code = static_cast<HRESULT>(reported);
    ThrowHr(FAILED(code) && code != E_PENDING ? code : E_FAIL);
}

std::wstring GetNodeText(IXMLDOMNode* node) {
    if (!node) return std::wstring();
    ComPtr<IXMLDOMNode> child;
    ThrowIfFailed(node->get_firstChild(child.put()));
    if (!child) return std::wstring();
    UniqueVariant value;
    ThrowIfFailed(child->get_nodeValue(value.put()));
    if (V_VT(&value.get()) != VT_BSTR) return std::wstring();
    BSTR text = V_BSTR(&value.get());
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

std::string NodeName(IXMLDOMNode* node) {
    ThrowHrIf(!node, E_POINTER);
    UniqueBstr name;
    ThrowIfFailed(node->get_nodeName(name.put()));
    return WideToNarrow(CP_ACP, name.get(), name ? static_cast<int>(SysStringLen(name.get())) : 0);
}

std::string ReadChildText(IXMLDOMNode* node, const char* pattern) {
    std::wstring text = GetNodeText(SelectSingleNode(node, pattern).get());
    return WideToNarrow(CP_ACP, text.data(), static_cast<int>(text.size()));
}

std::string WideToNarrow(UINT codePage, const wchar_t* wide, int length) {
    ThrowHrIf(length < -1, E_INVALIDARG);
    if (!wide) return std::string();
    if (length == -1) {
        size_t measured = std::wcslen(wide);
        ThrowHrIf(measured > static_cast<size_t>(INT_MAX), E_OUTOFMEMORY);
        length = static_cast<int>(measured);
    }
    if (length == 0) return std::string();
    // Measured rather than estimated, so a multi-byte code page never runs out of room.
    int needed = ThrowLastErrorIfNull(
        WideCharToMultiByte(codePage, 0, wide, length, nullptr, 0, nullptr, nullptr));
    std::string narrow(static_cast<size_t>(needed), '\0');
    int written = ThrowLastErrorIfNull(
        WideCharToMultiByte(codePage, 0, wide, length, &narrow[0], needed, nullptr, nullptr));
    narrow.resize(static_cast<size_t>(written));
    return narrow;
}

std::wstring NarrowToWide(UINT codePage, const char* narrow, int length) {
    ThrowHrIf(length < -1, E_INVALIDARG);
    if (!narrow) return std::wstring();
    if (length == -1) {
        size_t measured = std::strlen(narrow);
        ThrowHrIf(measured > static_cast<size_t>(INT_MAX), E_OUTOFMEMORY);
        length = static_cast<int>(measured);
    }
    if (length == 0) return std::wstring();
    int needed = ThrowLastErrorIfNull(MultiByteToWideChar(codePage, 0, narrow, length, nullptr, 0));
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    int written =
        ThrowLastErrorIfNull(MultiByteToWideChar(codePage, 0, narrow, length, &wide[0], needed));
    wide.resize(static_cast<size_t>(written));
    return wide;
}

ComPtr<IXMLDOMNodeList> SelectNodes(IXMLDOMNode* node, const char* pattern) {
    ThrowHrIf(!node, E_POINTER);
    UniqueBstr query = PatternBstr(pattern);
    ComPtr<IXMLDOMNodeList> list;
    ThrowIfFailed(node->selectNodes(query.get(), list.put()));
    ThrowHrIf(!list, E_FAIL);
    return list;
}

long NodeCount(IXMLDOMNodeList* list) {
    ThrowHrIf(!list, E_POINTER);
    long count = 0;
    ThrowIfFailed(list->get_length(&count));
    return count;
}

ComPtr<IXMLDOMNode> NodeAt(IXMLDOMNodeList* list, long index) {
    ThrowHrIf(!list, E_POINTER);
    ComPtr<IXMLDOMNode> node;
    ThrowIfFailed(list->get_item(index, node.put()));
    ThrowHrIf(!node, E_INVALIDARG);
    return node;
}

}  // namespace tarnix
