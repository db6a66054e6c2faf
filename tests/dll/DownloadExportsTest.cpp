// Web file and online tree downloads through tarnix.dll, against the local service: progress as a
// host polls it, the file on disk (a named destination is replaced whole or not at all), error
// answers and cut bodies, a host that lets go, and where the file comes from.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "ProxySetting.h"
#include "RequestWait.h"
#include "TestFiles.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

using namespace tarnix::test;

std::string StreamBytes(IStream* stream) {
    std::string bytes;
    char block[65536];
    for (ULONG read = 0; SUCCEEDED(stream->Read(block, sizeof block, &read)) && read > 0;) bytes.append(block, read);
    return bytes;
}

HttpAnswer File(std::string body, const char* type = "application/octet-stream") {
    return HttpAnswer{200, "OK", {{"Content-Type", type}}, std::move(body)};
}
HttpAnswer Gatekeeper(const std::string& address) {
    return HttpAnswer{200, "OK", {}, "<r><ok/><GEDCOMFile>" + address + "</GEDCOMFile></r>"};
}

// Progress as the host reads it; `ok` turns false when a reading breaks the counters' rules.
struct Progress {
    ULONG total = 0, received = 0;
    bool ok = true;
    void Read(IDownloadRequest* request) {
        ULONG t = 0, r = 0;
        if (request->GetTotalBytes(&t) != S_OK || request->GetBytesReceived(&r) != S_OK) return;
        ok = ok && r <= t && r >= received && (received == 0 || t == total);
        total = t;
        received = r;
    }
    void Until(IDownloadRequest* request, ULONG bytes) {
        for (DWORD start = GetTickCount(); received < bytes && GetTickCount() - start < 10000; Sleep(2)) Read(request);
    }
};

// The files in a folder, with their bytes: "family.ged=keep me;".
std::string Folder(const std::string& folder) {
    std::string listing;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &found))
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            listing += std::string(found.cFileName) + "=" + FileBytes(folder + found.cFileName) + ";";
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    return listing;
}

class DownloadExportsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ReachDirectly(service);
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        CreateDirectoryA(folder.c_str(), nullptr);
    }
    void TearDown() override {
        TARNIXTerminate();
        SetFileAttributesA(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(destination.c_str());
        RemoveDirectoryA(folder.c_str());
    }
    IDownloadRequest* StartTree(const char* to) {
        IDownloadRequest* request = nullptr;
        EXPECT_EQ(S_OK, TarnixDownloadOnlineFamilyTree("t", "c", to, "b", &request));
        return request;
    }
    std::string Address(const char* path) const { return "http://" + service.Address() + path; }

    TestService service;
    // A folder of its own, so that a test sees every file a download leaves in it.
    std::string folder = TempPath("downloads\\"), destination = folder + "family.ged";
};

TEST_F(DownloadExportsTest, ATransferRunsFromPendingThroughProgressToTheWholeFile) {
    HANDLE head = CreateEventA(nullptr, TRUE, FALSE, nullptr), rest = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HttpAnswer answer = File(Pattern(300000), "text/plain");
    answer.steps = {Hold(head), SendBody(100000), Hold(rest)};
    service.SetDefault(answer);
    IDownloadRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixGetInternetFile(service.Address().c_str(), "/big?x=1", &request));
    ASSERT_TRUE(service.WaitForRequests(1));
    EXPECT_EQ("GET /big?x=1 HTTP/1.0", service.Requests()[0].requestLine);
    LONG state = -1;
    ULONG count = 0xdeadbeef;
    char type[16] = "untouched";
    IStream* stream = nullptr;
    EXPECT_EQ(S_OK, request->GetStatus(&state));
    EXPECT_EQ(REQUEST_STATE_PENDING, state);
    EXPECT_EQ(E_PENDING, request->GetTotalBytes(&count));
    EXPECT_EQ(E_PENDING, request->GetContentType(type, sizeof type));
    EXPECT_EQ(0xdeadbeef, count);

    SetEvent(head);  // the head and a third of the body: seen as it comes, not block by block
    Progress progress;
    progress.Until(request, 100000);
    ASSERT_EQ(S_OK, request->GetStatus(&state));
    EXPECT_EQ(REQUEST_STATE_RUNNING, state);
    EXPECT_EQ(100000u, progress.received);
    EXPECT_EQ(answer.body.size(), progress.total);
    EXPECT_EQ(E_PENDING, request->GetStream(&stream));
    EXPECT_EQ(E_INVALIDARG, request->GetContentType(type, 10)) << "no room for the terminator";
    EXPECT_STREQ("untouched", type);
    EXPECT_EQ(S_OK, request->GetContentType(type, 11));
    EXPECT_STREQ("text/plain", type);

    SetEvent(rest);
    ASSERT_EQ(S_OK, WaitForRequest(request));
    EXPECT_EQ(E_POINTER, request->GetBytesReceived(nullptr));
    EXPECT_EQ(E_POINTER, request->GetStream(nullptr));
    progress.Read(request);
    EXPECT_TRUE(progress.ok);
    EXPECT_EQ(answer.body.size(), progress.received);
    // GetStream (slot 7) as a C host calls it, twice: each time from the first byte.
    auto getStream = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDownloadRequest*, IStream**)>(
        (*reinterpret_cast<void***>(request))[7]);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(S_OK, getStream(request, &stream));
        EXPECT_TRUE(StreamBytes(stream) == answer.body);
        if (i == 0) stream->Release();
    }
    EXPECT_EQ(0u, ReleaseLast(request));
    EXPECT_EQ(1u, TempFileCount()) << "the stream still holds the temporary file";
    stream->Release();
    EXPECT_EQ(0u, TempFileCount());
    CloseHandle(head);
    CloseHandle(rest);
}

// Without a Content-Length (the readings of one are the fault suite's) there is no total, and no
// progress until the end.
TEST_F(DownloadExportsTest, WithoutALengthProgressShowsOnlyAtTheEnd) {
    HttpAnswer answer = File(Pattern(200000));
    answer.contentLength = false;
    answer.steps = {Trickle(16384, 5)};
    service.SetDefault(answer);
    IDownloadRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixGetInternetFile(service.Address().c_str(), nullptr, &request));
    Progress progress;
    for (LONG state = 0; SUCCEEDED(request->GetStatus(&state)) && state != REQUEST_STATE_DONE; Sleep(2)) {
        progress.Read(request);
        EXPECT_EQ(0u, progress.received);
    }
    progress.Read(request);
    EXPECT_EQ(0u, progress.total);
    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, request->GetStream(&stream));
    EXPECT_EQ(answer.body.size(), StreamBytes(stream).size());
    stream->Release();
    request->Release();
    EXPECT_EQ("/", service.Requests().back().Path()) << "a null path reads as empty";
}

// A named destination is replaced only by a whole file: whatever ends a download early (an error
// answer, a cut body, a tree without an address, a destination that cannot be written, the host
// letting go, the pools stopping) leaves the user's file exactly as it was and nothing beside it.
TEST_F(DownloadExportsTest, ADestinationIsReplacedWholeOrLeftAsItWas) {
    HttpAnswer cut = File(Pattern(50000)), slow = File(Pattern(4000000));
    cut.steps = {SendBody(20000), Close()};
    slow.steps = {Trickle(8192, 10)};
    const std::string file = Address("/t.ged"), kept = "family.ged=keep me;";
    enum Ending { kStatus, kLetGo, kTerminate };
    const struct {
        const char* what;
        HttpAnswer gatekeeper, answer;
        HRESULT status;
        Ending ending = kStatus;
        DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    } cases[] = {
        {"404", Gatekeeper(file), HttpAnswer{404, "Not Found", {}, "<html/>"}, static_cast<HRESULT>(0x80190194)},
        {"cut short", Gatekeeper(file), cut, static_cast<HRESULT>(0x80072EFE)},
        {"empty address", Gatekeeper(""), File("x"), E_FAIL},
        {"not an address", Gatekeeper("files/t.ged"), File("x"), static_cast<HRESULT>(0x80072EE6)},
        {"service error", HttpAnswer{200, "OK", {}, "<r><error><hresult>8007139F</hresult></error></r>"}, File("x"),
         static_cast<HRESULT>(0x8007139F)},
        {"read-only destination", Gatekeeper(file), File("new"), E_ACCESSDENIED, kStatus, FILE_ATTRIBUTE_READONLY},
        {"let go mid-body", Gatekeeper(file), slow, S_OK, kLetGo},
        {"pools stopped mid-body", Gatekeeper(file), slow, E_ABORT, kTerminate},
    };
    const HttpAnswer* gatekeeper = nullptr;
    service.On("op=oftdownload", [&](const ReceivedRequest&) { return *gatekeeper; });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        gatekeeper = &c.gatekeeper;
        service.SetDefault(c.answer);
        std::ofstream(destination) << "keep me";
        SetFileAttributesA(destination.c_str(), c.attributes);
        IDownloadRequest* request = StartTree(destination.c_str());
        if (c.ending == kStatus) {
            EXPECT_EQ(c.status, WaitForRequest(request));
        } else {
            Progress progress;
            progress.Until(request, 50000);
            ASSERT_GE(progress.received, 50000u);
            EXPECT_EQ("keep me", FileBytes(destination)) << "the destination changed before the file was whole";
            if (c.ending == kTerminate) {
                TARNIXTerminate();
                EXPECT_EQ(c.status, WaitForRequest(request, 5000));
                ASSERT_EQ(S_OK, TARNIXInitialize(0));
            }
        }
        request->Release();
        // The worker removes its partial file as it leaves, which may come just after the release.
        for (DWORD start = GetTickCount(); Folder(folder) != kept && GetTickCount() - start < 5000;) Sleep(10);
        EXPECT_EQ(kept, Folder(folder));
        SetFileAttributesA(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    // Into a temporary file instead, with null texts read as empty: none is left behind either.
    gatekeeper = &cases[0].gatekeeper;
    service.SetDefault(cases[0].answer);
    const size_t sent = service.RequestCount();
    IDownloadRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixDownloadOnlineFamilyTree(nullptr, nullptr, nullptr, nullptr, &request));
    EXPECT_EQ(cases[0].status, WaitForRequest(request));
    request->Release();
    EXPECT_EQ("/vft/gatekeeper.ashx?op=oftdownload&att=&collectionid=&cobrand=", service.Requests()[sent].Path());
    EXPECT_EQ(0u, TempFileCount());
    // A folder that does not exist: the platform's own failure, and nothing made anywhere.
    service.SetDefault(File("new"));
    const std::string nowhere = folder + "missing\\family.ged";
    request = StartTree(nowhere.c_str());
    const HRESULT hr = WaitForRequest(request);
    request->Release();
    EXPECT_TRUE(hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_DIRECTORY)) << std::hex << hr;
    EXPECT_EQ(kept, Folder(folder));
}

// Once the state says done, the file under its name is whole and the host's: it opens it by name
// while it still holds the request, and renames it the moment it lets go, every time. The address
// the service gives is followed byte for byte, through one redirect.
TEST_F(DownloadExportsTest, AFinishedFileIsTheHostsAtOnce) {
    service.On("op=oftdownload", Gatekeeper(Address("/exports/t.ged?k=1&amp;v=%41")));
    service.On("/exports/", HttpAnswer{302, "Found", {{"Location", "/moved/t.ged?m=2"}}});
    const std::string renamed = folder + "renamed.ged";
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        const std::string body = Pattern(30000 + i);
        service.SetDefault(File(body));
        std::ofstream(destination) << "old";
        IDownloadRequest* request = nullptr;
        const size_t before = service.RequestCount();
        ASSERT_EQ(S_OK, TarnixDownloadOnlineFamilyTree("Tk+%41&=", "a b&c", destination.c_str(), "co&b", &request));
        ASSERT_EQ(S_OK, WaitForRequest(request));
        EXPECT_TRUE(body == FileBytes(destination)) << "not whole, or not open to the host";
        request->Release();
        EXPECT_TRUE(MoveFileA(destination.c_str(), renamed.c_str())) << GetLastError();
        EXPECT_TRUE(DeleteFileA(renamed.c_str())) << GetLastError();
        const auto requests = service.Requests();
        ASSERT_EQ(before + 3, requests.size());
        EXPECT_EQ("/vft/gatekeeper.ashx?op=oftdownload&att=Tk+%41&=&collectionid=a%20b%26c&cobrand=co&b",
                  requests[before].Path());
        EXPECT_EQ("GET /exports/t.ged?k=1&v=%41 HTTP/1.0", requests[before + 1].requestLine);
        EXPECT_EQ("GET /moved/t.ged?m=2 HTTP/1.0", requests[before + 2].requestLine);
    }
    EXPECT_EQ("", Folder(folder));
}

// Files from other hosts go through the system's proxy: a web file from its host, a tree from the
// host and port its address names, an https one through a tunnel.
TEST(ProxyRoutes, FilesComeFromTheHostTheirAddressNames) {
    TestService service;
    ProxySetting proxy(service.Port());
    ASSERT_EQ(S_OK, TARNIXInitialize(0));
    service.On("/exports/", File("gedcom"));
    std::string address = "http://files.example:8123/exports/t.ged";
    service.On("op=oftdownload", [&](const ReceivedRequest&) { return Gatekeeper(address); });
    IDownloadRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixGetInternetFile("files.example", "/f?x=1", &request));
    EXPECT_EQ(static_cast<HRESULT>(0x80190194), WaitForRequest(request));
    request->Release();
    ASSERT_EQ(S_OK, TarnixDownloadOnlineFamilyTree("t", "c", nullptr, "b", &request));
    EXPECT_EQ(S_OK, WaitForRequest(request));
    request->Release();
    address = "https://secure.example/t.ged";
    ASSERT_EQ(S_OK, TarnixDownloadOnlineFamilyTree("t", "c", nullptr, "b", &request));
    const HRESULT hr = WaitForRequest(request);
    EXPECT_TRUE(FAILED(hr) && hr != E_PENDING) << std::hex << hr;  // the test service has no tunnel
    request->Release();
    TARNIXTerminate();
    const auto sent = service.Requests();
    ASSERT_EQ(5u, sent.size());
    EXPECT_EQ("GET http://files.example:80/f?x=1 HTTP/1.0", sent[0].requestLine);
    EXPECT_EQ(TARNIX_EXPECTED_SERVICE_HOST, sent[1].Header("Host"));
    EXPECT_EQ("GET http://files.example:8123/exports/t.ged HTTP/1.0", sent[2].requestLine);
    EXPECT_EQ(0u, sent[4].requestLine.find("CONNECT secure.example:443 "));
}

}  // namespace
