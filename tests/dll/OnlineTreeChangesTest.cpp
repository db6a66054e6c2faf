// Creating, replacing and exporting online trees through tarnix.dll: the requests exactly as the
// service receives them, the statuses the host reads, and local files that must fail before
// anything is sent.
#include <gtest/gtest.h>

#include <string>

#include "RequestWait.h"
#include "TestFiles.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

using tarnix::test::HttpAnswer;
using tarnix::test::ReceivedRequest;

constexpr char kDirectory[] = "C:\\My Trees";
constexpr char kLocalFile[] = "C:\\My Trees\\a.ged";
const std::string kContent = "0 HEAD\r\n0 TRLR\r\n";  // the local file but where a test writes its own
const std::string kBoundary = "----------------------------839J39AIFUE93CK";

// The whole upload of kLocalFile as Wine's WinINet sends it to `host`: its own Accept, Host and
// Cache-Control (added to a POST opened without cache writing), the library's four headers, then
// the one part with the whole local path escaped.
std::string Upload(const std::string& host, const std::string& path, const std::string& cookie, const std::string& content) {
    const std::string body = "--" + kBoundary +
                             "\r\nContent-Disposition: form-data; name=\"f1\"; filename=\"C%3a%5cMy%20Trees%5ca.ged\""
                             "\r\nContent-Type: text/plain\r\n\r\n" + content + "\r\n--" + kBoundary + "--\r\n";
    return "POST " + path + " HTTP/1.0\r\nAccept: */*\r\nHost: " + host + "\r\nCache-Control: no-cache\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 4.01; Windows NT)" +
           "\r\nCookie: " + cookie + "\r\nContent-Type: multipart/form-data; boundary=" + kBoundary +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A GET exactly as every gatekeeper query sends it: no cookie, no body.
std::string Get(const std::string& host, const std::string& path) {
    return "GET " + path + " HTTP/1.0\r\nAccept: */*\r\nHost: " + host +
           "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0\r\n\r\n";
}

// The local file, `size` bytes long: the content given, or left sparse (no room taken) when none.
void WriteLocalFile(const std::string& content, ULONGLONG size = 0) {
    HANDLE file = CreateFileA(kLocalFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    EXPECT_TRUE(size ? SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file)
                     : WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    CloseHandle(file);
}

using Start = HRESULT (*)(IRequest**);

class OnlineTreeChangesTest : public ::testing::Test {
protected:
    void SetUp() override {
        tarnix::test::ReachDirectly(service);
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        CreateDirectoryA(kDirectory, nullptr);
        WriteLocalFile(kContent);
        // Cookies set by every answer must ride on no later request: the bytes compared below
        // carry only the cookie the library writes.
        service.SetDefault(HttpAnswer{200, "OK", {{"Content-Type", "text/xml"}, {"Set-Cookie", "ATT=planted; path=/"},
                                                  {"Set-Cookie", "att=x; path=/"}}, "<gatekeeper><ok/></gatekeeper>"});
    }
    void TearDown() override {
        TARNIXTerminate();
        DeleteFileA(kLocalFile);
        RemoveDirectoryA(kDirectory);
    }

    // Runs a request to its end and gives back its status, read at last as a C host reads it
    // (GetStatus through slot 3): success must come with state 2.
    static HRESULT Run(Start start) {
        IRequest* request = nullptr;
        if (const HRESULT hr = start(&request); FAILED(hr)) return hr;
        tarnix::test::WaitForRequest(request);
        LONG state = REQUEST_STATE_PENDING;
        const HRESULT hr = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IRequest*, LONG*)>(
            (*reinterpret_cast<void***>(request))[3])(request, &state);
        EXPECT_TRUE(FAILED(hr) || state == REQUEST_STATE_DONE);
        request->Release();
        return hr;
    }

    ReceivedRequest Last() const { return service.RequestCount() ? service.Requests().back() : ReceivedRequest(); }

    tarnix::test::TestService service;
};

TEST_F(OnlineTreeChangesTest, CreatePostsTheFileUnchangedInOneMultipartPart) {
    // Nothing, and every byte value over 3+ blocks (a text file is the next test's).
    for (const std::string& content : {std::string(), tarnix::test::Pattern(200001)}) {
        SCOPED_TRACE(content.size());
        WriteLocalFile(content);
        ASSERT_EQ(S_OK, Run([](IRequest** r) {
            return TarnixCreateOnlineFamilyTree("T0k", kLocalFile, "4101", "Smith & Sons, 1850", 7, "cb", r);
        }));
        const ReceivedRequest sent = Last();
        EXPECT_TRUE(sent.raw == Upload(service.Address(), "/vft/gatekeeper.ashx?op=oftcreate&siteid=4101&oftname=Smith%20%26%20Sons%2c%201850"
                                       "&forvwt=Y&cobrand=cb", "ATT=T0k;", content))
            << sent.raw.substr(0, 800);
    }
    // The empty file: 182 bytes of fixed text and boundaries, and the 25 of the escaped name.
    EXPECT_EQ("207", service.Requests()[0].Header("Content-Length"));
}

TEST_F(OnlineTreeChangesTest, PathsCarryTheirValuesEscapedOrAsGiven) {
    const struct {
        Start start;
        const char *target, *cookie;  // a POST of the local file with its ticket as a cookie, else a GET: ""
    } cases[] = {
        {[](IRequest** r) { return TarnixCreateOnlineFamilyTree("t", kLocalFile, "41 01", "A", 0, "c&b", r); },
         "/vft/gatekeeper.ashx?op=oftcreate&siteid=41%2001&oftname=A&forvwt=N&cobrand=c&b", "ATT=t;"},
        {[](IRequest** r) { return TarnixCreateOnlineFamilyTree(nullptr, kLocalFile, nullptr, nullptr, 1, nullptr, r); },
         "/vft/gatekeeper.ashx?op=oftcreate&siteid=&oftname=&forvwt=Y&cobrand=", "ATT=;"},
        {[](IRequest** r) { return TarnixUpdateOnlineFamilyTree("Tk-9", kLocalFile, "7", "x", r); },
         "/vft/gatekeeper.ashx?op=oftreplace&collectionid=7&cobrand=x", "ATT=Tk-9;"},
        {[](IRequest** r) { return TarnixUpdateOnlineFamilyTree("", kLocalFile, "c/7", "x", r); },
         "/vft/gatekeeper.ashx?op=oftreplace&collectionid=c%2f7&cobrand=x", "ATT=;"},
        {[](IRequest** r) { return TarnixUpdateOnlineFamilyTree("Tk-9", "", "7", "x", r); },
         "/vft/gatekeeper.ashx?op=oftreplace&att=Tk-9&collectionid=7&cobrand=x", ""},
        {[](IRequest** r) { return TarnixUpdateOnlineFamilyTree("Tk-9", nullptr, "7", nullptr, r); },
         "/vft/gatekeeper.ashx?op=oftreplace&att=Tk-9&collectionid=7&cobrand=", ""},
        {[](IRequest** r) { return TarnixExportOnlineFamilyTree("Tk&9", "7 &8", "x", r); },
         "/vft/gatekeeper.ashx?op=oftexport&att=Tk&9&collectionid=7%20%268&cobrand=x", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        ASSERT_EQ(S_OK, Run(c.start));
        EXPECT_EQ(*c.cookie ? Upload(service.Address(), c.target, c.cookie, kContent) : Get(service.Address(), c.target),
                  Last().raw);
    }
    EXPECT_EQ(sizeof cases / sizeof cases[0], service.RequestCount());
}

// A text that goes onto the wire as the host gives it (the ticket, which an upload moves into its
// Cookie header, the co-brand code, the version texts, a download's server and path) cannot add
// lines of its own: a control character in it is refused at the export, and nothing is queued.
TEST_F(OnlineTreeChangesTest, TextsThatWouldAddHeaderLinesAreRefused) {
    using AnyStart = HRESULT (*)(void**);
    const AnyStart starts[] = {
        [](void** r) { return TarnixCreateOnlineFamilyTree("t\r\nX-Evil: 1", kLocalFile, "1", "n", 0, "c", (IRequest**)r); },
        [](void** r) { return TarnixUpdateOnlineFamilyTree("t\n", kLocalFile, "7", "c", (IRequest**)r); },
        [](void** r) { return TarnixExportOnlineFamilyTree("t", "7", "c\r", (IRequest**)r); },
        [](void** r) { return TarnixListOnlineFamilyTrees("t\x7f", "c", (IQueryRequest**)r); },
        [](void** r) { return TarnixListUserSites("t\t", (IQueryRequest**)r); },
        [](void** r) { return TarnixDownloadOnlineFamilyTree("t\x01", "7", nullptr, "c", (IDownloadRequest**)r); },
        [](void** r) { return TarnixCheckVelmoraFamilyTreeVersion("1.0\r\n", "1", "1", "c", (IQueryRequest**)r); },
        [](void** r) { return TarnixGetInternetFile("files.example", "/f\r\nX: 1", (IDownloadRequest**)r); },
    };
    for (AnyStart start : starts) {
        void* request = reinterpret_cast<void*>(0xdeadbeef);
        EXPECT_EQ(E_INVALIDARG, start(&request));
        EXPECT_EQ(reinterpret_cast<void*>(0xdeadbeef), request) << "an out-parameter written on failure";
    }
    Sleep(100);
    EXPECT_EQ(0u, service.RequestCount());
}

// A file that cannot be opened, or whose body would not fit the 32-bit length, sends nothing.
TEST_F(OnlineTreeChangesTest, LocalFilesThatCannotBePostedFailBeforeAnythingIsSent) {
    const struct {
        ULONGLONG size;  // 0: no file at all
        HRESULT status;
    } cases[] = {{0, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
                 {0x100000000ull, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)},
                 {0xFFFFFFFFull - 200, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        DeleteFileA(kLocalFile);
        if (c.size) WriteLocalFile("", c.size);
        EXPECT_EQ(c.status, Run([](IRequest** r) { return TarnixCreateOnlineFamilyTree("t", kLocalFile, "1", "n", 0, "c", r); }));
    }
    Sleep(100);
    EXPECT_EQ(0u, service.RequestCount());
}

}  // namespace
