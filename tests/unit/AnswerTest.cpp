// The service's XML answers through the real MSXML DOM: parsing, the ok / error / hresult
// convention, and text read in the ANSI code page. (Rows and their fields are the exports' tests.)
#include <gtest/gtest.h>

#include <string>

#include "support/Result.h"
#include "transport/Answer.h"

using namespace tarnix;

namespace {

// The answer text's bytes reach the caller unchanged only with a single-byte ANSI code page;
// the expectations below are written for Windows-1252, which Wine uses.
constexpr UINT kExpectedAnsiCodePage = 1252;

class AnswerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }

    static ComPtr<IStream> StreamOf(const std::string& body) {
        ComPtr<IStream> stream;
        EXPECT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
        EXPECT_EQ(S_OK, stream->Write(body.data(), static_cast<ULONG>(body.size()), nullptr));
        LARGE_INTEGER start = {};
        EXPECT_EQ(S_OK, stream->Seek(start, STREAM_SEEK_SET, nullptr));
        return stream;
    }

    // Parses `body`; a failure is reported to the test and gives a null node.
    static ComPtr<IXMLDOMNode> Load(const std::string& body) {
        ComPtr<IXMLDOMNode> document;
        EXPECT_EQ(S_OK, GuardHr([&] { return document = LoadAnswerDocument(StreamOf(body).get()), S_OK; }));
        return document;
    }
};

ComPtr<IXMLDOMNode> First(IXMLDOMNode* node, const char* pattern) {
    return NodeAt(SelectNodes(node, pattern).get(), 0);
}

std::string ErrorAnswer(const std::string& hresultElement) {
    return "<r><error>" + hresultElement + "</error></r>";
}

// What loading and checking a body raise: S_OK when the answer counts as a success, which hands
// back the document itself. A body that is not one XML document is refused. (Empty, cut short,
// mismatched or plain-text bodies and an error code of "zz" are rows of the fault suite.)
TEST_F(AnswerTest, StatusFollowsOkErrorAndHresultOfOneDocument) {
    const struct {
        std::string body;
        HRESULT expected;
    } cases[] = {
        {"<r><ok/></r>", S_OK},
        {"<r><ok/><error><hresult>80004005</hresult></error></r>", S_OK},
        {"<r><error><hresult>80004005</hresult></error><x><ok>no</ok></x></r>", S_OK},
        {ErrorAnswer("<hresult>80070005</hresult>"), static_cast<HRESULT>(0x80070005)},
        {"<a><b><error><hresult>80070005</hresult></error><error><hresult>80004005</hresult>"
         "</error></b></a>", static_cast<HRESULT>(0x80070005)},
        // An error answer never passes for a success, nor for a request still running.
        {ErrorAnswer("<hresult>0</hresult>"), E_FAIL},
        {ErrorAnswer("<hresult>1</hresult>"), E_FAIL},
        {ErrorAnswer("<hresult>8000000A</hresult>"), E_FAIL},
        {ErrorAnswer("<hresult> \t0x8007000e</hresult>"), E_OUTOFMEMORY},
        {ErrorAnswer("<hresult>0X80004005 and more</hresult>"), E_FAIL},
        {ErrorAnswer("<hresult>+80004001</hresult>"), E_NOTIMPL},
        {ErrorAnswer("<hresult>-1</hresult>"), static_cast<HRESULT>(0xFFFFFFFF)},
        {ErrorAnswer("<hresult>0000000080004005</hresult>"), E_FAIL},
        // Error answers that say nothing usable must not pass for successes.
        {ErrorAnswer("<hresult/>"), E_INVALIDARG},
        {ErrorAnswer("<hresult>0x</hresult>"), E_INVALIDARG},
        {ErrorAnswer("<hresult>-</hresult>"), E_INVALIDARG},
        {ErrorAnswer("<hresult>180004005</hresult>"), E_INVALIDARG},
        {ErrorAnswer("<hresult><b>80004005</b></hresult>"), E_INVALIDARG},
        {ErrorAnswer("<x><hresult>80004005</hresult></x>"), E_INVALIDARG},
        {"<r><error/></r>", E_INVALIDARG},
        {"<r/>", E_INVALIDARG},
        {"<r><OK/></r>", E_INVALIDARG},
        // Not one XML document.
        {"   ", E_INVALIDARG}, {"<r/><r/>", E_INVALIDARG}, {std::string("<r><ok/></r>\0<x/>", 17), E_INVALIDARG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.body));
        EXPECT_EQ(c.expected, GuardHr([&] {
                      ComPtr<IXMLDOMNode> document = LoadAnswerDocument(StreamOf(c.body).get());
                      return CheckAnswerStatus(document.get()).get() == document.get() ? S_OK : E_UNEXPECTED;
                  }));
    }
    EXPECT_EQ(E_POINTER, GuardHr([] { return LoadAnswerDocument(nullptr), S_OK; }));
}

TEST_F(AnswerTest, AnswerBytesAreReadInTheAnsiCodePage) {
    if (GetACP() != kExpectedAnsiCodePage) GTEST_SKIP() << "ANSI code page " << GetACP();
    // The declaration plays no part: the UTF-8 bytes of "é" come back as the same two bytes. (A
    // document without one is every query export's.)
    ComPtr<IXMLDOMNode> document = Load("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                                        "<r><utf8>Jos\xC3\xA9</utf8><ref>&#233;&#x4E2D;</ref></r>");
    ASSERT_TRUE(document);
    EXPECT_EQ("Jos\xC3\xA9", ReadChildText(document.get(), "//utf8"));
    EXPECT_EQ(L"\u00E9\u4E2D", GetNodeText(First(document.get(), "//ref").get()));
    EXPECT_EQ("\xE9?", ReadChildText(document.get(), "//ref"));
}

TEST_F(AnswerTest, NodeTextIsTheFirstChildsValue) {
    const struct {
        const char* body;
        const wchar_t* expected;
    } cases[] = {
        {"<a/>", L""},
        {"<a><b>x</b></a>", L""},
        {"<a>one<b/>two</a>", L"one"},
        {"<a><![CDATA[<raw> & ]]>tail</a>", L"<raw> & "},
        {"<a><!--note-->text</a>", L"note"},
        {"<a>&lt;&amp;&#65;</a>", L"<&A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        ComPtr<IXMLDOMNode> document = Load(c.body);
        ASSERT_TRUE(document);
        EXPECT_EQ(c.expected, GetNodeText(First(document.get(), "a").get()));
    }
    EXPECT_EQ(L"", GetNodeText(nullptr));
}

}  // namespace
