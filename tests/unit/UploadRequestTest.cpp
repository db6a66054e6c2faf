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

// An upload of 100000 bytes from memory whose size is said to be one more.
class ShortUpload : public CUploadRequest {
protected:
    ComPtr<IStream> OpenLocalFile(ULONGLONG& size) override {
        const std::string content(100000, 'q');
        ComPtr<IStream> stream;
        ThrowIfFailed(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
        ThrowIfFailed(stream->Write(content.data(), static_cast<ULONG>(content.size()), nullptr));
        LARGE_INTEGER start = {};
        ThrowIfFailed(stream->Seek(start, STREAM_SEEK_SET, nullptr));
        size = content.size() + 1;
        return stream;
    }
};

// The body must never disagree with its announced length: a file that ends early fails the
// request, and the service never receives a whole request.
TEST(UploadRequestTest, AFileThatEndsBeforeItsSizeFailsTheRequest) {
    ASSERT_EQ(S_OK, TARNIXInitialize(0));
    test::TestService service;
    test::ProxySetting proxy{service.Port()};
    service.SetDefault(test::HttpAnswer{200, "OK", {}, "<r><ok/></r>"});
    auto* upload = new ShortUpload;
    upload->AddRef();
    upload->Configure("svc.tarnix.example", "/g?op=x", "C:\\t.ged");
    QueueOnGeneralPool(upload->Job());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_HANDLE_EOF), test::WaitForRequest(static_cast<IRequest*>(upload)));
    upload->Release();
    TARNIXTerminate();
    ASSERT_TRUE(service.WaitForRequests(1, 20000));
    const ReceivedRequest sent = service.Requests()[0];
    const size_t announced = std::strtoul(sent.Header("Content-Length").c_str(), nullptr, 10);
    EXPECT_EQ(100001u + 182 + 12, announced);  // "C%3a%5ct.ged"
    EXPECT_LT(sent.raw.size() - (sent.raw.find("\r\n\r\n") + 4), announced) << "a whole body reached the service";
}

}  // namespace
}  // namespace tarnix
