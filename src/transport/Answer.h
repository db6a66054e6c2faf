// Reading the service's XML answers through the MSXML DOM: parsing an answer body, the
// ok / error / hresult convention, and the few selection and text helpers every operation uses
// to pick its values out of a document. Runs on a worker thread that has entered COM; every
// failure is raised as an HResultError.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <msxml2.h>

#include <string>

#include "support/Handles.h"

namespace tarnix {

// mingw ships the MSXML declarations but no library with their GUIDs: these are our own.
extern const CLSID kClsidDomDocument;      // DOMDocument {F6D90F11-9C73-11D3-B32E-00C04F990BB4}
extern const IID kIidXmlDomDocument2;      // IXMLDOMDocument2 {2933BF95-7B36-11D2-B20E-00C04F983E60}
extern const IID kIidXmlDomNode;           // IXMLDOMNode {2933BF80-7B36-11D2-B20E-00C04F983E60}

// Parses the answer body read from `stream` (from its current position, normally the start; the
// bytes are ANSI code page text, whatever an XML declaration inside says) into a new DOM
// document and gives back the document node. Text that does not parse raises E_INVALIDARG;
// failures of the stream or of the DOM raise their own HRESULT.
ComPtr<IXMLDOMNode> LoadAnswerDocument(IStream* stream);

// Applies the answer convention: an `ok` element anywhere means success; otherwise the first
// `error` element's `hresult` child is read as hexadecimal ("%x": white space, sign, 0x prefix)
// and raised: a failure code as it is, a success code or E_PENDING (which a host would read as
// a request still running) as E_FAIL. Success gives back `document` with a new reference.
// Raises E_INVALIDARG for an answer with neither element, an `error` without `hresult`, or an
// `hresult` with no hexadecimal digits or more than 32 bits of them.
ComPtr<IXMLDOMNode> CheckAnswerStatus(IXMLDOMNode* document);

// The value of the node's first child when it is text (text, CDATA, comment...); empty for a
// null node, a node without children, or a first child without a string value (an element).
std::wstring GetNodeText(IXMLDOMNode* node);

// The node's name in the ANSI code page.
std::string NodeName(IXMLDOMNode* node);

// GetNodeText of the first node that `pattern` selects from `node`, in the ANSI code page;
// empty when nothing matches.
std::string ReadChildText(IXMLDOMNode* node, const char* pattern);

// Conversions between UTF-16 and a code page (the library passes CP_ACP). `length` counts input
// characters or bytes; -1 converts up to the terminating zero. Characters the code page cannot
// hold become its default character. A null input gives an empty string.
std::string WideToNarrow(UINT codePage, const wchar_t* wide, int length);
std::wstring NarrowToWide(UINT codePage, const char* narrow, int length);

// Row reading: every node that `pattern` selects from `node`, the list's length, and the node
// at `index` (from 0). A failing DOM call is raised; NodeAt raises E_INVALIDARG for an index
// outside the list rather than hand out a null node.
ComPtr<IXMLDOMNodeList> SelectNodes(IXMLDOMNode* node, const char* pattern);
long NodeCount(IXMLDOMNodeList* list);
ComPtr<IXMLDOMNode> NodeAt(IXMLDOMNodeList* list, long index);

}  // namespace tarnix
