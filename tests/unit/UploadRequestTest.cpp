// The upload request on its own: how the ticket leaves the path for the cookie, whatever the
// path holds, and a local file that turns out shorter than it said (which no real file can show
// under the sharing the upload opens it with).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ProxySetting.h"
#include "RequestWait.h"
#include "TestService.h"
#include "frame/Library.h"
#include "transport/UploadRequest.h"

namespace tarnix {
namespace {

using test::HttpAnswer;
using test::ProxySetting;
using test::ReceivedRequest;
using test::TestService;
using test::WaitForRequest;

// A memory stream that claims `extra` bytes more than it holds.
class ShortStream final : public IStream {
public:
    ShortStream(const std::string& content, ULONGLONG extra) : m_extra(extra) {
        CreateStreamOnHGlobal(nullptr, TRUE, m_inner.put());
        m_inner->Write(content.data(), static_cast<ULONG>(content.size()), nullptr);
        LARGE_INTEGER start = {};
        m_inner->Seek(start, STREAM_SEEK_SET, nullptr);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }
    HRESULT STDMETHODCALLTYPE Read(void* data, ULONG count, ULONG* read) override { return m_inner->Read(data, count, read); }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override {
        HRESULT hr = m_inner->Stat(stat, flags);
        stat->cbSize.QuadPart += m_extra;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    ~ShortStream() = default;
    volatile LONG m_refs = 1;
    ComPtr<IStream> m_inner;
    ULONGLONG m_extra;
};

// An upload whose local file is a ShortStream instead of a file on disk.
class ShortFileUpload : public CUploadRequest {
public:
    ShortFileUpload(std::string content, ULONGLONG extra) : m_content(std::move(content)), m_extra(extra) {}

protected:
    ComPtr<IStream> OpenLocalFile() override { return ComPtr<IStream>::Attach(new ShortStream(m_content, m_extra)); }

private:
    std::string m_content;
    ULONGLONG m_extra;
};

class UploadRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        char directory[MAX_PATH + 1];
        GetTempPathA(MAX_PATH, directory);
        m_file = std::string(directory) + "tarnix-upload-probe.ged";
        HANDLE file = CreateFileA(m_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, "0 HEAD\r\n", 8, &written, nullptr);
        CloseHandle(file);
        service.SetDefault(HttpAnswer{200, "OK", {}, "<r><ok/></r>"});
    }
    void TearDown() override {
        TARNIXTerminate();
        DeleteFileA(m_file.c_str());
    }

    // Configures and queues `upload` as the exports do, waits for it and gives back its status.
    static HRESULT Run(CUploadRequest* upload, const std::string& path, const std::string& localFile) {
        upload->AddRef();
        upload->Configure("svc.tarnix.example", path, localFile);
        QueueOnGeneralPool(upload->Job());
        HRESULT hr = WaitForRequest(static_cast<IRequest*>(upload));
        upload->Release();
        return hr;
    }

    std::string m_file;
    TestService service;
    ProxySetting proxy{service.Port()};
};

TEST_F(UploadRequestTest, TheFirstTicketParameterMovesToTheCookie) {
    const struct {
        const char* path;
        const char* posted;
        const char* cookie;
    } cases[] = {
        {"/g?op=oftreplace&att=T1&collectionid=7&cobrand=x", "/g?op=oftreplace&collectionid=7&cobrand=x", "ATT=T1;"},
        {"/g?op=oftcreate&siteid=1&att=T1", "/g?op=oftcreate&siteid=1", "ATT=T1;"},
        {"/g?op=x&att=&y=1", "/g?op=x&y=1", "ATT=;"},
        {"/g?op=x&y=1", "/g?op=x&y=1", ";"},
        {"/g?att=T1&op=x", "/g?att=T1&op=x", ";"},  // only "&att=" marks the ticket
        {"/g?op=x&att=A&att=B", "/g?op=x&att=B", "ATT=A;"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE(cases[i].path);
        ASSERT_EQ(S_OK, Run(new CUploadRequest(), cases[i].path, m_file));
        ASSERT_EQ(i + 1, service.RequestCount());
        const ReceivedRequest sent = service.Requests().back();
        EXPECT_EQ("POST", sent.method);
        EXPECT_EQ(cases[i].posted, sent.Path());
        EXPECT_EQ(cases[i].cookie, sent.Header("Cookie"));
    }
}

// The body must never disagree with its announced length: a file that ends early fails the
// request with the end-of-file error, and the service never receives a whole request.
TEST_F(UploadRequestTest, AFileShorterThanItsSizeFailsTheRequest) {
    const std::string content(100000, 'q');
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_HANDLE_EOF),
              Run(new ShortFileUpload(content, 1), "/g?op=oftcreate&att=t", "C:\\short.ged"));
    ASSERT_TRUE(service.WaitForRequests(1, 20000));
    const ReceivedRequest sent = service.Requests()[0];
    const size_t headEnd = sent.raw.find("\r\n\r\n");
    ASSERT_NE(std::string::npos, headEnd);
    const size_t announced = std::strtoul(sent.Header("Content-Length").c_str(), nullptr, 10);
    EXPECT_EQ(content.size() + 1 + 182 + 16, announced);
    EXPECT_LT(sent.raw.size() - (headEnd + 4), announced) << "a whole body reached the service";
}

}  // namespace
}  // namespace tarnix
