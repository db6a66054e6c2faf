// Creating, replacing and exporting online trees through tarnix.dll: the requests exactly as the
// service receives them (request line, headers, multipart body), the statuses the host reads,
// and the local files that must fail before anything is sent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProxySetting.h"
#include "RequestWait.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

using tarnix::test::HttpAnswer;
using tarnix::test::ProxySetting;
using tarnix::test::ReceivedRequest;
using tarnix::test::TestService;
using tarnix::test::WaitForRequest;

constexpr char kServiceHost[] = TARNIX_EXPECTED_SERVICE_HOST;
constexpr char kDirectory[] = "C:\\My Trees";
constexpr char kLocalFile[] = "C:\\My Trees\\a.ged";
constexpr char kEncodedLocalFile[] = "C%3a%5cMy%20Trees%5ca.ged";  // the whole path, escaped
const std::string kBoundary = "----------------------------839J39AIFUE93CK";

HttpAnswer Xml(const std::string& body) { return HttpAnswer{200, "OK", {{"Content-Type", "text/xml"}}, body}; }

// The multipart body of kLocalFile holding `content`, written out as the service expects it.
std::string MultipartBody(const std::string& content) {
    return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"f1\"; filename=\"" + kEncodedLocalFile +
           "\"\r\nContent-Type: text/plain\r\n\r\n" + content + "\r\n--" + kBoundary + "--\r\n";
}

// The whole request of an upload as Wine's WinINet sends it through the proxy: its own Accept,
// Host and Cache-Control (it adds that to a POST opened without cache writing), then the
// library's four headers.
std::string UploadRequest(const std::string& path, const std::string& cookie, const std::string& body) {
    return "POST http://" + std::string(kServiceHost) + ":80" + path + " HTTP/1.0\r\n" + "Accept: */*\r\nHost: " +
           kServiceHost + "\r\nCache-Control: no-cache\r\n" +
           "User-Agent: Mozilla/4.0 (compatible; MSIE 4.01; Windows NT)\r\n" + "Cookie: " + cookie + "\r\n" +
           "Content-Type: multipart/form-data; boundary=" + kBoundary + "\r\n" +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A plain GET as every gatekeeper query sends it.
std::string GetRequest(const std::string& path) {
    return "GET http://" + std::string(kServiceHost) + ":80" + path + " HTTP/1.0\r\nAccept: */*\r\nHost: " +
           kServiceHost + "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0\r\n\r\n";
}

class OnlineTreeChangesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        CreateDirectoryA(kDirectory, nullptr);
        service.SetDefault(Xml("<gatekeeper op=\"x\"><ok/></gatekeeper>"));
    }
    void TearDown() override {
        TARNIXTerminate();
        DeleteFileA(kLocalFile);
        RemoveDirectoryA(kDirectory);
    }

    static void WriteLocalFile(const std::string& content) {
        HANDLE file = CreateFileA(kLocalFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
        CloseHandle(file);
    }

    // A local file of `size` bytes that takes no room: the file system leaves it sparse.
    static void SizeLocalFile(ULONGLONG size) {
        HANDLE file = CreateFileA(kLocalFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
        CloseHandle(file);
    }

    // Waits for a started request to end, checks that success means state 2, releases it and
    // gives back its status. (The request is read only after the export has filled it in.)
    static HRESULT Finish(HRESULT started, IRequest* const* out) {
        EXPECT_EQ(S_OK, started);
        if (FAILED(started)) return started;
        IRequest* request = *out;
        HRESULT hr = WaitForRequest(request);
        LONG state = -1;
        if (SUCCEEDED(hr) && SUCCEEDED(request->GetStatus(&state))) EXPECT_EQ(REQUEST_STATE_DONE, state);
        request->Release();
        return hr;
    }

    // The request the service received last.
    ReceivedRequest Last() const {
        std::vector<ReceivedRequest> sent = service.Requests();
        return sent.empty() ? ReceivedRequest() : sent.back();
    }

    TestService service;
    ProxySetting proxy{service.Port()};
};

TEST_F(OnlineTreeChangesTest, CreatePostsTheFileUnchangedInOneMultipartPart) {
    std::string everyByte;
    for (int i = 0; i < 200001; ++i) everyByte += static_cast<char>((i * 7 + i / 256) & 0xFF);  // 3+ blocks
    const struct {
        const char* what;
        std::string content;
    } cases[] = {
        {"an empty file", ""},
        {"a GEDCOM file", "0 HEAD\r\n1 CHAR ANSEL\r\n0 @I1@ INDI\r\n1 NAME Ann /Smith/\r\n0 TRLR\r\n"},
        {"several blocks of every byte value", everyByte},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE(cases[i].what);
        WriteLocalFile(cases[i].content);
        IRequest* request = nullptr;
        ASSERT_EQ(S_OK, Finish(TarnixCreateOnlineFamilyTree("T0k", kLocalFile, "4101", "Smith & Sons, 1850", 7, "cb",
                                                             &request), &request));
        ASSERT_EQ(i + 1, service.RequestCount());
        const ReceivedRequest sent = Last();
        const std::string expected = UploadRequest(
            "/vft/gatekeeper.ashx?op=oftcreate&siteid=4101&oftname=Smith%20%26%20Sons%2c%201850&forvwt=Y&cobrand=cb",
            "ATT=T0k;", MultipartBody(cases[i].content));
        EXPECT_TRUE(sent.raw == expected) << sent.raw.substr(0, 800) << "\n(" << sent.raw.size() << " bytes, expected "
                                          << expected.size() << ")";
        int lengths = 0;
        for (const auto& header : sent.headers) lengths += header.first == "Content-Length";
        EXPECT_EQ(1, lengths);
    }
    // The empty file: the fixed text and twice the boundary (182 bytes), and the escaped name.
    EXPECT_EQ(std::to_string(182 + std::string(kEncodedLocalFile).size()), service.Requests()[0].Header("Content-Length"));
}

TEST_F(OnlineTreeChangesTest, PathsCarryTheirValuesEscapedOrAsGiven) {
    WriteLocalFile("0 HEAD\r\n0 TRLR\r\n");
    using Start = HRESULT (*)(IRequest**);
    const struct {
        const char* what;
        Start start;
        const char* method;
        const char* target;  // path and query as sent
        const char* cookie;  // "" when the request must have none
    } cases[] = {
        {"create, not shared", [](IRequest** r) { return TarnixCreateOnlineFamilyTree("t", kLocalFile, "41 01", "A", 0, "c&b", r); },
         "POST", "/vft/gatekeeper.ashx?op=oftcreate&siteid=41%2001&oftname=A&forvwt=N&cobrand=c&b", "ATT=t;"},
        {"create, null texts", [](IRequest** r) { return TarnixCreateOnlineFamilyTree(nullptr, kLocalFile, nullptr, nullptr, 1, nullptr, r); },
         "POST", "/vft/gatekeeper.ashx?op=oftcreate&siteid=&oftname=&forvwt=Y&cobrand=", "ATT=;"},
        {"replace: the ticket only in the cookie", [](IRequest** r) { return TarnixUpdateOnlineFamilyTree("Tk-9", kLocalFile, "7", "x", r); },
         "POST", "/vft/gatekeeper.ashx?op=oftreplace&collectionid=7&cobrand=x", "ATT=Tk-9;"},
        {"replace with an empty ticket", [](IRequest** r) { return TarnixUpdateOnlineFamilyTree("", kLocalFile, "c/7", "x", r); },
         "POST", "/vft/gatekeeper.ashx?op=oftreplace&collectionid=c%2f7&cobrand=x", "ATT=;"},
        {"replace without a local file", [](IRequest** r) { return TarnixUpdateOnlineFamilyTree("Tk-9", "", "7", "x", r); },
         "GET", "/vft/gatekeeper.ashx?op=oftreplace&att=Tk-9&collectionid=7&cobrand=x", ""},
        {"replace with a null local file", [](IRequest** r) { return TarnixUpdateOnlineFamilyTree("Tk-9", nullptr, "7", nullptr, r); },
         "GET", "/vft/gatekeeper.ashx?op=oftreplace&att=Tk-9&collectionid=7&cobrand=", ""},
        {"export", [](IRequest** r) { return TarnixExportOnlineFamilyTree("Tk&9", "7 &8", "x", r); },
         "GET", "/vft/gatekeeper.ashx?op=oftexport&att=Tk&9&collectionid=7%20%268&cobrand=x", ""},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.what);
        IRequest* request = nullptr;
        HRESULT started = c.start(&request);
        ASSERT_EQ(S_OK, Finish(started, &request));
        ASSERT_EQ(i + 1, service.RequestCount());
        const ReceivedRequest sent = Last();
        EXPECT_EQ(c.method, sent.method);
        EXPECT_EQ(kServiceHost, sent.Host());
        EXPECT_EQ(c.target, sent.Path());
        EXPECT_EQ(c.cookie, sent.Header("Cookie"));
        if (std::string(c.method) == "GET") EXPECT_EQ(GetRequest(c.target), sent.raw) << "no cookie, no body";
        else EXPECT_EQ(std::string::npos, sent.target.find("att=")) << "the ticket left the query";
    }
}

// Nothing is sent for a local file that cannot be opened or does not fit the 32-bit length.
TEST_F(OnlineTreeChangesTest, LocalFilesThatCannotBePostedFailBeforeAnythingIsSent) {
    const struct {
        const char* what;
        ULONGLONG size;  // 0: no file at all
        HRESULT status;
    } cases[] = {
        {"a missing file", 0, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {"4 GiB", 0x100000000ull, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)},
        {"a body that would pass 4 GiB", 0xFFFFFFFFull - 200, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileA(kLocalFile);
        if (c.size) SizeLocalFile(c.size);
        IRequest* created = nullptr;
        IRequest* replaced = nullptr;
        EXPECT_EQ(c.status, Finish(TarnixCreateOnlineFamilyTree("t", kLocalFile, "1", "n", 0, "c", &created), &created));
        EXPECT_EQ(c.status, Finish(TarnixUpdateOnlineFamilyTree("t", kLocalFile, "7", "c", &replaced), &replaced));
    }
    DeleteFileA(kLocalFile);
    Sleep(100);
    EXPECT_EQ(0u, service.RequestCount());
}

TEST_F(OnlineTreeChangesTest, FailedAnswersBecomeTheStatusAndSuccessIsStateTwo) {
    WriteLocalFile("0 HEAD\r\n0 TRLR\r\n");
    const struct {
        const char* what;
        HttpAnswer answer;
        HRESULT status;
    } cases[] = {
        {"the service's own error", Xml("<gatekeeper><error><hresult>800700B7</hresult></error></gatekeeper>"),
         HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)},
        {"neither ok nor error", Xml("<gatekeeper/>"), E_INVALIDARG},
        {"status 500", HttpAnswer{500, "Internal Server Error", {}, "<r><ok/></r>"}, E_FAIL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        service.SetDefault(c.answer);
        IRequest* created = nullptr;
        IRequest* exported = nullptr;
        EXPECT_EQ(c.status, Finish(TarnixCreateOnlineFamilyTree("t", kLocalFile, "1", "n", 0, "c", &created), &created));
        EXPECT_EQ(c.status, Finish(TarnixExportOnlineFamilyTree("t", "7", "c", &exported), &exported));
    }
}

// While the answer is held back the request is pending, state 0; the host's interface has the
// IRequest front only, and a C host calls it by slot.
TEST_F(OnlineTreeChangesTest, ARunningRequestIsPendingAndAnswersIUnknownOnly) {
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HttpAnswer held = Xml("<r><ok/></r>");
    held.hold = release;
    held.holdBeforeHead = true;
    service.SetDefault(held);
    IRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixExportOnlineFamilyTree("t", "7", "c", &request));
    ASSERT_TRUE(service.WaitForRequests(1, 20000));

    using GetStatusSlot = HRESULT(STDMETHODCALLTYPE*)(IRequest*, LONG*);
    GetStatusSlot getStatus = reinterpret_cast<GetStatusSlot>((*reinterpret_cast<void***>(request))[3]);
    LONG state = -1;
    EXPECT_EQ(S_OK, getStatus(request, &state));
    EXPECT_EQ(REQUEST_STATE_PENDING, state);
    void* unknown = nullptr;
    ASSERT_EQ(S_OK, request->QueryInterface(IID_IUnknown, &unknown));
    EXPECT_EQ(static_cast<void*>(request), unknown);
    static_cast<IUnknown*>(unknown)->Release();
    void* untouched = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(E_NOINTERFACE, request->QueryInterface(IID_IStream, &untouched));
    EXPECT_EQ(reinterpret_cast<void*>(0xdeadbeef), untouched);

    SetEvent(release);
    EXPECT_EQ(S_OK, Finish(S_OK, &request));
    CloseHandle(release);
}

// A host that lets go while a large file is still going out frees the worker: the rest of the
// file is not sent.
TEST_F(OnlineTreeChangesTest, ReleasingWhilePostingStopsTheUpload) {
    const size_t size = 16 << 20;
    WriteLocalFile(std::string(size, 'g'));
    service.SetBodyReadPace(16 * 1024, 20);  // well under 1 MB/s: the upload would take 20 s
    IRequest* uploads[2] = {};  // one for each general worker
    for (IRequest*& upload : uploads)
        ASSERT_EQ(S_OK, TarnixCreateOnlineFamilyTree("t", kLocalFile, "1", "big", 0, "c", &upload));
    Sleep(700);
    for (IRequest* upload : uploads) upload->Release();

    // Both workers are free again long before the uploads could have ended.
    IRequest* next = nullptr;
    ASSERT_EQ(S_OK, TarnixExportOnlineFamilyTree("t", "7", "c", &next));
    EXPECT_EQ(S_OK, WaitForRequest(next, 5000));
    next->Release();
    ASSERT_TRUE(service.WaitForRequests(3, 30000));
    for (const ReceivedRequest& sent : service.Requests()) {
        if (sent.method != "POST") continue;
        EXPECT_LT(sent.raw.size(), size) << "the whole file went out";
        EXPECT_EQ(0u, sent.raw.find("POST ")) << "the upload had begun";
    }
}

TEST(OnlineTreeChangesUninitialized, StartNothingAndHandOutNothing) {
    IRequest* request = reinterpret_cast<IRequest*>(0x1);
    EXPECT_EQ(E_FAIL, TarnixCreateOnlineFamilyTree("t", "f", "1", "n", 0, "c", &request));
    EXPECT_EQ(E_FAIL, TarnixUpdateOnlineFamilyTree("t", "f", "7", "c", &request));
    EXPECT_EQ(E_FAIL, TarnixExportOnlineFamilyTree("t", "7", "c", &request));
    EXPECT_EQ(reinterpret_cast<IRequest*>(0x1), request);

    // Initialized, a null out-parameter queues nothing: the service never hears of it.
    ASSERT_EQ(S_OK, TARNIXInitialize(0));
    TestService service;
    ProxySetting proxy{service.Port()};
    EXPECT_EQ(E_POINTER, TarnixCreateOnlineFamilyTree("t", "", "1", "n", 0, "c", nullptr));
    EXPECT_EQ(E_POINTER, TarnixUpdateOnlineFamilyTree("t", "", "7", "c", nullptr));
    EXPECT_EQ(E_POINTER, TarnixExportOnlineFamilyTree("t", "7", "c", nullptr));
    // A request started after them is the only one the service receives.
    IRequest* next = nullptr;
    ASSERT_EQ(S_OK, TarnixExportOnlineFamilyTree("t", "7", "c", &next));
    WaitForRequest(next);
    next->Release();
    Sleep(100);
    EXPECT_EQ(1u, service.RequestCount());
    TARNIXTerminate();
}

}  // namespace
