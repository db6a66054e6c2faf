// The upload request on its own: a local file that ends before its size (which no real file can
// show: the upload's sharing lets nobody write to it meanwhile).
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

using test::ReceivedRequest;

// An upload of `content` from memory whose size is said to be `claimed`.
class MemoryUpload : public CUploadRequest {
public:
    MemoryUpload(std::string content, ULONGLONG claimed) : m_content(std::move(content)), m_claimed(claimed) {}

protected:
    ComPtr<IStream> OpenLocalFile(ULONGLONG& size) override {
        ComPtr<IStream> stream;
        ThrowIfFailed(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
        ThrowIfFailed(stream->Write(m_content.data(), static_cast<ULONG>(m_content.size()), nullptr));
        LARGE_INTEGER start = {};
        ThrowIfFailed(stream->Seek(start, STREAM_SEEK_SET, nullptr));
        size = m_claimed;
        return stream;
    }

private:
    std::string m_content;
    ULONGLONG m_claimed;
};

class UploadRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        service.SetDefault(test::HttpAnswer{200, "OK", {}, "<r><ok/></r>"});
    }
    void TearDown() override { TARNIXTerminate(); }

    // Configures and queues an upload of "C:\t.ged" as the exports do; its final status.
    static HRESULT Run(CUploadRequest* upload, const char* path) {
        upload->AddRef();
        upload->Configure("svc.tarnix.example", path, "C:\\t.ged");
        QueueOnGeneralPool(upload->Job());
        HRESULT hr = test::WaitForRequest(static_cast<IRequest*>(upload));
        upload->Release();
        return hr;
    }

    test::TestService service;
    test::ProxySetting proxy{service.Port()};
};

// The body must never disagree with its announced length: a file that ends early fails the
// request, and the service never receives a whole request.
TEST_F(UploadRequestTest, AFileThatEndsBeforeItsSizeFailsTheRequest) {
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_HANDLE_EOF), Run(new MemoryUpload(std::string(100000, 'q'), 100001), "/g?op=x"));
    ASSERT_TRUE(service.WaitForRequests(1, 20000));
    const ReceivedRequest sent = service.Requests()[0];
    const size_t announced = std::strtoul(sent.Header("Content-Length").c_str(), nullptr, 10);
    EXPECT_EQ(100001u + 182 + 12, announced);  // "C%3a%5ct.ged"
    EXPECT_LT(sent.raw.size() - (sent.raw.find("\r\n\r\n") + 4), announced) << "a whole body reached the service";
}

}  // namespace
}  // namespace tarnix
