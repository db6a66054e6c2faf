// Web file and online tree downloads through tarnix.dll: progress as a host polls it, the file on
// disk (a named destination replaced whole or not at all), and where the file comes from.
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

HttpAnswer File(std::string body) { return {200, "OK", {{"Content-Type", "text/plain"}}, body}; }
HttpAnswer Gatekeeper(const std::string& address) { return {200, "OK", {}, "<r><ok/><GEDCOMFile>" + address + "</GEDCOMFile></r>"}; }
// What has come, once `bytes` have (or 10 s have passed).
ULONG ReceivedAtLeast(IDownloadRequest* request, ULONG bytes) {
    ULONG received = 0;
    for (DWORD start = GetTickCount(); received < bytes && GetTickCount() - start < 10000; Sleep(2)) request->GetBytesReceived(&received);
    return received;
}
// The files in a folder with their bytes: "family.ged=keep me;".
std::string Folder(const std::string& folder) {
    std::string listing;
    for (const std::string& name : FilesIn(folder)) listing += name + "=" + FileBytes(folder + name) + ";";
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
    IDownloadRequest* StartTree(const char* to, const char* ticket = "t", const char* id = "c", const char* cobrand = "b") {
        IDownloadRequest* request = nullptr;
        EXPECT_EQ(S_OK, TarnixDownloadOnlineFamilyTree(ticket, id, to, cobrand, &request));
        return request;
    }

    TestService service;
    // A folder of its own, so that a test sees every file a download leaves in it.
    std::string folder = TempPath("downloads\\"), destination = folder + "family.ged";
};

// Nothing to read before the head nor before the end; then the stream from its first byte for
// every caller (GetStream, slot 7), its temporary file kept while a stream lives.
TEST_F(DownloadExportsTest, AWebFileIsPendingThenRunningThenAStreamThatHoldsItsFile) {
    HANDLE head = CreateEventA(nullptr, TRUE, FALSE, nullptr), rest = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HttpAnswer answer = File(Pattern(300000));
    answer.steps = {Hold(head), SendBody(100000), Hold(rest)};
    service.SetDefault(answer);
    IDownloadRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixGetInternetFile(service.Address().c_str(), "/big?x=1", &request));
    ASSERT_TRUE(service.WaitForRequests(1));
    EXPECT_EQ("GET /big?x=1 HTTP/1.0", service.Requests()[0].requestLine);
    ULONG count = 0xdeadbeef;
    IStream* stream = nullptr;
    EXPECT_TRUE(request->GetTotalBytes(&count) == E_PENDING && count == 0xdeadbeef);
    SetEvent(head);
    EXPECT_EQ(100000u, ReceivedAtLeast(request, 100000)) << "a read waited for a whole block";
    EXPECT_EQ(E_PENDING, request->GetStream(&stream));
    SetEvent(rest);
    ASSERT_EQ(S_OK, WaitForRequest(request));
    EXPECT_EQ(E_POINTER, request->GetStream(nullptr));
    auto getStream = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDownloadRequest*, IStream**)>((*reinterpret_cast<void***>(request))[7]);
    for (int i = 0; i < 2; ++i) {
        std::string bytes(answer.body.size() + 1, '\0');
        ASSERT_EQ(S_OK, getStream(request, &stream));
        EXPECT_TRUE(SUCCEEDED(stream->Read(&bytes[0], static_cast<ULONG>(bytes.size()), &count)) &&
                    bytes.substr(0, count) == answer.body);
        if (i == 0) stream->Release();
    }
    EXPECT_EQ(0u, ReleaseLast(request));
    EXPECT_EQ(1u, TempFileCount()) << "the stream still holds the temporary file";
    stream->Release();
    EXPECT_EQ(0u, TempFileCount());
    CloseHandle(head), CloseHandle(rest);
}

// Whatever ends a download early (an error answer, a cut body, a tree without an address, a
// destination that cannot be written, the host letting go, the pools stopping) leaves the user's
// file as it was and nothing beside it, nor any temporary file.
TEST_F(DownloadExportsTest, ADestinationIsReplacedWholeOrLeftAsItWas) {
    HttpAnswer cut = File(Pattern(50000)), slow = File(Pattern(4000000));
    cut.steps = {SendBody(20000), Close()};
    slow.steps = {Trickle(8192, 10)};
    const std::string file = "http://" + service.Address() + "/t.ged", kept = "family.ged=keep me;";
    enum Ending { kStatus, kLetGo, kTerminate };
    const struct {
        HttpAnswer gatekeeper, answer;
        HRESULT status;
        Ending ending = kStatus;
        DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    } cases[] = {
        {Gatekeeper(file), HttpAnswer{404, "Not Found", {}, "<html/>"}, static_cast<HRESULT>(0x80190194)},
        {Gatekeeper(file), cut, static_cast<HRESULT>(0x80072EFE)},
        {Gatekeeper(""), File("x"), E_FAIL},
        {Gatekeeper(file), File("new"), E_ACCESSDENIED, kStatus, FILE_ATTRIBUTE_READONLY},
        {Gatekeeper(file), slow, S_OK, kLetGo},
        {Gatekeeper(file), slow, E_ABORT, kTerminate},
    };
    const HttpAnswer* gatekeeper = nullptr;
    service.On("op=oftdownload", [&](const ReceivedRequest&) { return *gatekeeper; });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        gatekeeper = &c.gatekeeper;
        service.SetDefault(c.answer);
        std::ofstream(destination) << "keep me";
        SetFileAttributesA(destination.c_str(), c.attributes);
        for (const char* to : {destination.c_str(), static_cast<const char*>(nullptr)}) {
            if (!to && (c.ending != kStatus || c.attributes != FILE_ATTRIBUTE_NORMAL)) continue;
            IDownloadRequest* request = StartTree(to);
            if (c.ending == kStatus) {
                EXPECT_EQ(c.status, WaitForRequest(request));
            } else {
                ASSERT_GE(ReceivedAtLeast(request, 50000), 50000u);
                EXPECT_EQ("keep me", FileBytes(destination)) << "the destination changed before the file was whole";
                if (c.ending == kTerminate) {
                    TARNIXTerminate();
                    EXPECT_EQ(c.status, WaitForRequest(request, 5000));
                    ASSERT_EQ(S_OK, TARNIXInitialize(0));
                }
            }
            request->Release();
            // The worker removes its partial file as it leaves, which may be just after the release.
            for (DWORD start = GetTickCount(); Folder(folder) != kept && GetTickCount() - start < 5000;) Sleep(10);
            EXPECT_EQ(kept, Folder(folder));
            EXPECT_EQ(0u, TempFileCount());
        }
        SetFileAttributesA(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// Once done, the file is whole and the host's: it opens it while it holds the request, and renames
// it the moment it lets go, every time. The service's address is followed byte for byte, through a
// redirect; only the identifier is escaped in the gatekeeper's query.
TEST_F(DownloadExportsTest, AFinishedFileIsTheHostsAtOnce) {
    service.On("op=oftdownload", Gatekeeper("http://" + service.Address() + "/exports/t.ged?k=1&amp;v=%41"));
    service.On("/exports/", HttpAnswer{302, "Found", {{"Location", "/moved/t.ged?m=2"}}});
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        const std::string body = Pattern(30000 + i), renamed = folder + "renamed.ged";
        service.SetDefault(File(body));
        std::ofstream(destination) << "old";
        const size_t before = service.RequestCount();
        IDownloadRequest* request = StartTree(destination.c_str(), "Tk+%41&=", "a b&c", "co&b");
        ASSERT_EQ(S_OK, WaitForRequest(request));
        EXPECT_TRUE(body == FileBytes(destination)) << "not whole, or not open to the host";
        request->Release();
        EXPECT_TRUE(MoveFileA(destination.c_str(), renamed.c_str())) << GetLastError();
        EXPECT_TRUE(DeleteFileA(renamed.c_str())) << GetLastError();
        const auto sent = service.Requests();
        ASSERT_EQ(before + 3, sent.size());
        EXPECT_EQ("/vft/gatekeeper.ashx?op=oftdownload&att=Tk+%41&=&collectionid=a%20b%26c&cobrand=co&b", sent[before].Path());
        EXPECT_EQ("GET /exports/t.ged?k=1&v=%41 HTTP/1.0", sent[before + 1].requestLine);
        EXPECT_EQ("GET /moved/t.ged?m=2 HTTP/1.0", sent[before + 2].requestLine);
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
    const HRESULT expected[] = {static_cast<HRESULT>(0x80190194), S_OK, E_FAIL};
    for (int i = 0; i < 3; ++i) {
        IDownloadRequest* request = nullptr;
        if (i == 2) address = "https://secure.example/t.ged";  // the test service has no tunnel
        ASSERT_EQ(S_OK, i ? TarnixDownloadOnlineFamilyTree("t", "c", nullptr, "b", &request)
                          : TarnixGetInternetFile("files.example", "/f?x=1", &request));
        const HRESULT hr = WaitForRequest(request);
        EXPECT_TRUE(hr == expected[i] || (i == 2 && FAILED(hr) && hr != E_PENDING)) << std::hex << hr;
        request->Release();
    }
    TARNIXTerminate();
    const auto sent = service.Requests();
    ASSERT_EQ(5u, sent.size());
    EXPECT_EQ("GET http://files.example:80/f?x=1 HTTP/1.0", sent[0].requestLine);
    EXPECT_EQ(TARNIX_EXPECTED_SERVICE_HOST, sent[1].Header("Host"));
    EXPECT_EQ("GET http://files.example:8123/exports/t.ged HTTP/1.0", sent[2].requestLine);
    EXPECT_EQ(0u, sent[4].requestLine.find("CONNECT secure.example:443 "));
}

}  // namespace
