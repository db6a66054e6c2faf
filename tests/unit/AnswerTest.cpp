// XML answers through the real MSXML DOM (rows are the exports' tests, bad bodies rows of the fault suite).
#include <gtest/gtest.h>

#include <string>

#include "support/Result.h"
#include "transport/Answer.h"

using namespace tarnix;

namespace {

struct AnswerTest : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
};

ComPtr<IXMLDOMNode> Load(const std::string& body) {
    ComPtr<IStream> stream;
    ThrowIfFailed(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    ThrowIfFailed(stream->Write(body.data(), static_cast<ULONG>(body.size()), nullptr));
    ThrowIfFailed(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr));
    return LoadAnswerDocument(stream.get());
}

// S_OK when the answer counts as a success, which hands back the document itself.
TEST_F(AnswerTest, StatusFollowsOkErrorAndHresultOfOneDocument) {
    const auto error = [](const char* code) { return std::string("<r><error><hresult>") + code + "</hresult></error></r>"; };
    const struct { std::string body; HRESULT expected; } cases[] = {
        // An ok anywhere wins, whatever it holds; else the first error's code, read as "%x" does, but never
        // a success nor E_PENDING (a request still running).
        {"<r><error><hresult>80004005</hresult></error><x><ok>no</ok></x></r>", S_OK},
        {"<a><b><error><hresult>80070005</hresult></error></b><error><hresult>1</hresult></error></a>", E_ACCESSDENIED},
        {error(" \t0x8007000e"), E_OUTOFMEMORY}, {error("+0X80004001 and more"), E_NOTIMPL}, {error("0"), E_FAIL},
        {error("-1"), HRESULT(0xFFFFFFFF)}, {error("0000000080070005"), E_ACCESSDENIED}, {error("8000000A"), E_FAIL},
        // Nothing usable: no digit after the prefix or in the hresult's own text, more than 32 bits, no
        // hresult child of the error, no error; or a zero byte, which must not end the answer early.
        {error("0x"), E_INVALIDARG}, {error("<b>1</b>"), E_INVALIDARG}, {error("180004005"), E_INVALIDARG}, {"<r/>", E_INVALIDARG},
        {"<r><error><x><hresult>1</hresult></x></error></r>", E_INVALIDARG}, {std::string("<r><ok/></r>\0<x/>", 17), E_INVALIDARG},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, GuardHr([&] {
            ComPtr<IXMLDOMNode> document = Load(c.body);
            return CheckAnswerStatus(document.get()).get() == document.get() ? S_OK : E_UNEXPECTED;
        })) << testing::PrintToString(c.body);
}

// Only a node's first child counts, and text comes back in the ANSI code page whatever the
// declaration says: with a single-byte one (Wine's Windows-1252), in the answer's own bytes.
TEST_F(AnswerTest, TextIsTheFirstChildsValueInTheAnsiCodePage) {
    if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page " << GetACP();
    const std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><empty/><element><b>x</b></element><mixed>one<b/>"
                             "two</mixed><cdata><![CDATA[<raw> & ]]>tail</cdata><utf8>Jos\xC3\xA9</utf8><ref>&#233;&#x4E2D;</ref></r>";
    const ComPtr<IXMLDOMNode> document = Load(body);
    const char* cases[][2] = {{"//empty", ""}, {"//element", ""}, {"//mixed", "one"}, {"//missing", ""},
                              {"//cdata", "<raw> & "}, {"//utf8", "Jos\xC3\xA9"}, {"//ref", "\xE9?"}};
    for (const auto& c : cases) EXPECT_EQ(c[1], ReadChildText(document.get(), c[0])) << c[0];
}

}  // namespace
