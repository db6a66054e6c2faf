// Web file and online tree downloads through tarnix.dll, against the local service: progress as a
// host polls it, the file on disk, error answers and cut bodies, and a host that lets go.
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
const HRESULT kCutShort = static_cast<HRESULT>(0x80072EFE);  // ERROR_INTERNET_CONNECTION_ABORTED

std::string TempDirectory() {
    char directory[MAX_PATH + 1];
    GetTempPathA(MAX_PATH, directory);
    return directory;
}

size_t TempFileCount() {
    size_t count = 0;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((TempDirectory() + "TAR*.tmp").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &found)) ++count;
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    return count;
}

// A file's bytes, "<absent>" when there is none, "<busy>" while a request still holds it open.
std::string FileBytes(const std::string& name) {
    HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION ? "<busy>" : "<absent>";
    std::string bytes;
    char block[65536];
    DWORD read = 0;
    while (ReadFile(file, block, sizeof block, &read, nullptr) && read > 0) bytes.append(block, read);
    CloseHandle(file);
    return bytes;
}

void WriteFileBytes(const std::string& name, const std::string& bytes) {
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string StreamBytes(IStream* stream) {
    std::string bytes;
    char block[65536];
    ULONG read = 0;
    while (SUCCEEDED(stream->Read(block, sizeof block, &read)) && read > 0) bytes.append(block, read);
    return bytes;
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}

HttpAnswer Body(std::string body, std::vector<std::pair<std::string, std::string>> headers = {}) {
    return HttpAnswer{200, "OK", std::move(headers), std::move(body)};
}

HttpAnswer GatekeeperAnswer(const std::string& inner) {
    return HttpAnswer{200, "OK", {{"Content-Type", "text/xml"}}, "<gatekeeper><ok/>" + inner + "</gatekeeper>"};
}

// Progress as the host reads it; `ok` false once a reading broke the counters' rules.
struct Progress {
    ULONG total = 0, received = 0;
    bool ok = true;
    void Read(IDownloadRequest* request) {
        ULONG t = 0, r = 0;
        if (request->GetTotalBytes(&t) != S_OK || request->GetBytesReceived(&r) != S_OK) return;
        ok = ok && r <= t && r >= received && (total == 0 || t == total);
        total = t;
        received = r;
    }
};

class DownloadExportsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        tempFiles = TempFileCount();
        DeleteFileA(destination.c_str());
    }
    void TearDown() override {
        TARNIXTerminate();
        DeleteFileA(destination.c_str());
    }

    // An online tree download whose answer points at `address`, polled to its end.
    HRESULT DownloadTree(const std::string& address, const HttpAnswer& file, const char* to) {
        service.On("op=oftdownload", GatekeeperAnswer("<GEDCOMFile>" + address + "</GEDCOMFile>"));
        service.SetDefault(file);
        IDownloadRequest* request = nullptr;
        EXPECT_EQ(S_OK, TarnixDownloadOnlineFamilyTree("t", "c", to, "b", &request));
        if (!request) return E_UNEXPECTED;
        HRESULT hr = WaitForRequest(request);
        request->Release();
        return hr;
    }

    TestService service;
    ProxySetting proxy{service.Port()};
    std::string destination = TempDirectory() + "tarnix-download-test.ged";
    size_t tempFiles = 0;
};

TEST_F(DownloadExportsTest, ATransferRunsFromPendingThroughProgressToTheWholeFile) {
    HANDLE headers = CreateEventA(nullptr, TRUE, FALSE, nullptr), rest = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const std::string body = Pattern(300000);
    service.On("/big.bin", [&](const ReceivedRequest&) {
        WaitForSingleObject(headers, 20000);
        HttpAnswer answer = Body(body, {{"Content-Type", "text/plain"}});
        answer.hold = rest;
        answer.holdAfterBytes = 100000;
        return answer;
    });
    IDownloadRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixGetInternetFile("files.example", "/big.bin?x=1", &request));
    ASSERT_TRUE(service.WaitForRequests(1, 20000));
    EXPECT_EQ("GET http://files.example:80/big.bin?x=1 HTTP/1.0", service.Requests()[0].requestLine);

    // Before the answer's headers: pending, and nothing to read yet.
    LONG state = -1;
    ULONG count = 0xdeadbeef;
    char type[16] = "untouched";
    IStream* stream = nullptr;
    EXPECT_EQ(S_OK, request->GetStatus(&state));
    EXPECT_EQ(REQUEST_STATE_PENDING, state);
    EXPECT_EQ(E_PENDING, request->GetTotalBytes(&count));
    EXPECT_EQ(E_PENDING, request->GetBytesReceived(&count));
    EXPECT_EQ(E_PENDING, request->GetContentType(type, sizeof type));
    EXPECT_EQ(0xdeadbeef, count);
    EXPECT_STREQ("untouched", type);

    // Headers and a third of the body: running, part received, no stream yet.
    SetEvent(headers);
    Progress progress;
    for (DWORD start = GetTickCount(); progress.received < 50000 && GetTickCount() - start < 20000; Sleep(5))
        progress.Read(request);
    ASSERT_EQ(S_OK, request->GetStatus(&state));
    EXPECT_EQ(REQUEST_STATE_RUNNING, state);
    EXPECT_EQ(body.size(), progress.total);
    EXPECT_EQ(E_PENDING, request->GetStream(&stream));
    EXPECT_EQ(E_INVALIDARG, request->GetContentType(type, 10)) << "no room for the terminator";
    EXPECT_STREQ("untouched", type);
    EXPECT_EQ(S_OK, request->GetContentType(type, 11));
    EXPECT_STREQ("text/plain", type);

    SetEvent(rest);
    ASSERT_EQ(S_OK, WaitForRequest(request));
    progress.Read(request);
    EXPECT_TRUE(progress.ok);
    EXPECT_EQ(body.size(), progress.received);

    // Slots 5 to 7 as a C host calls them, by index; every stream handed out starts at byte 0.
    using CountSlot = HRESULT(STDMETHODCALLTYPE*)(IDownloadRequest*, ULONG*);
    using StreamSlot = HRESULT(STDMETHODCALLTYPE*)(IDownloadRequest*, IStream**);
    void** slots = *reinterpret_cast<void***>(request);
    for (int slot : {5, 6}) {
        count = 0;
        EXPECT_EQ(S_OK, reinterpret_cast<CountSlot>(slots[slot])(request, &count));
        EXPECT_EQ(body.size(), count) << "slot " << slot;
    }
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(S_OK, reinterpret_cast<StreamSlot>(slots[7])(request, &stream));
        EXPECT_TRUE(StreamBytes(stream) == body);
        stream->Release();
    }
    EXPECT_EQ(tempFiles + 1, TempFileCount());
    ASSERT_EQ(S_OK, request->GetStream(&stream));
    EXPECT_EQ(0u, request->Release());
    EXPECT_EQ(tempFiles + 1, TempFileCount()) << "the stream still holds the file";
    stream->Release();
    EXPECT_EQ(tempFiles, TempFileCount());
    CloseHandle(headers);
    CloseHandle(rest);
}

TEST_F(DownloadExportsTest, WithoutAUsableLengthProgressShowsOnlyAtTheEnd) {
    const std::string body = Pattern(200000);
    HttpAnswer absent = Body(body);
    absent.contentLength = false;
    const struct {
        const char* what;
        HttpAnswer answer;
    } cases[] = {
        {"no Content-Length", absent},
        {"negative", Body(body, {{"Content-Length", "-5"}})},
        {"not a number", Body(body, {{"Content-Length", "lots"}})},
        {"beyond 32 bits", Body(body, {{"Content-Length", "4294967496"}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HttpAnswer answer = c.answer;
        answer.pieceSize = 16384;
        answer.pieceDelayMs = 5;
        service.SetDefault(answer);
        IDownloadRequest* request = nullptr;
        ASSERT_EQ(S_OK, TarnixGetInternetFile("files.example", "/f", &request));
        Progress progress;
        LONG state = REQUEST_STATE_PENDING;
        while (SUCCEEDED(request->GetStatus(&state)) && state != REQUEST_STATE_DONE) {
            progress.Read(request);
            EXPECT_EQ(0u, progress.received);
            Sleep(2);
        }
        ASSERT_EQ(S_OK, request->GetStatus(&state));
        progress.Read(request);
        EXPECT_EQ(0u, progress.total);
        EXPECT_EQ(0u, progress.received);
        IStream* stream = nullptr;
        ASSERT_EQ(S_OK, request->GetStream(&stream));
        EXPECT_EQ(body.size(), StreamBytes(stream).size());
        stream->Release();
        request->Release();
    }
}

// An error answer never becomes the file, and a body cut short never passes for whole.
TEST_F(DownloadExportsTest, ErrorAnswersAndCutBodiesFailAndLeaveNoFile) {
    const std::string page = "<html>missing</html>";
    HttpAnswer cut = Body(Pattern(50000));
    cut.dropAfter = 20000;
    const struct {
        const char* what;
        HttpAnswer answer;
        HRESULT status;
        bool existing;         // a file of that name is there before
        const char* leftOver;  // what the destination holds afterwards; null: the bytes that came
    } cases[] = {
        {"404 over an existing file", HttpAnswer{404, "Not Found", {}, page}, static_cast<HRESULT>(0x80190194), true,
         "keep me"},
        {"500, no file before", HttpAnswer{500, "Oops", {}, page}, static_cast<HRESULT>(0x801901F4), false, "<absent>"},
        {"403 over an existing file", HttpAnswer{403, "No", {}, ""}, static_cast<HRESULT>(0x80190193), true, "keep me"},
        {"cut short", cut, kCutShort, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.existing) WriteFileBytes(destination, "keep me");
        EXPECT_EQ(c.status, DownloadTree("http://files.example/t.ged", c.answer, destination.c_str()));
        std::string left = FileBytes(destination);
        if (c.leftOver) {
            EXPECT_EQ(c.leftOver, left);
        } else {
            EXPECT_EQ(c.answer.body.substr(0, left.size()), left);
            EXPECT_LT(left.size(), c.answer.body.size());
        }
        DeleteFileA(destination.c_str());

        // The same into a temporary file: none is left behind.
        IDownloadRequest* request = nullptr;
        ASSERT_EQ(S_OK, TarnixGetInternetFile("files.example", "/t.ged", &request));
        EXPECT_EQ(c.status, WaitForRequest(request));
        EXPECT_EQ(tempFiles, TempFileCount());
        request->Release();
    }
}

TEST_F(DownloadExportsTest, AHostLettingGoMidTransferStopsIt) {
    for (bool named : {true, false}) {
        SCOPED_TRACE(named ? "named file" : "temporary file");
        HttpAnswer slow = Body(Pattern(4000000));
        slow.pieceSize = 8192;
        slow.pieceDelayMs = 10;
        service.SetDefault(slow);
        service.On("op=oftdownload", GatekeeperAnswer("<GEDCOMFile>http://files.example/t.ged</GEDCOMFile>"));
        IDownloadRequest* request = nullptr;
        ASSERT_EQ(S_OK, TarnixDownloadOnlineFamilyTree("t", "c", named ? destination.c_str() : nullptr, "b", &request));
        Progress progress;
        for (DWORD start = GetTickCount(); progress.received < 50000 && GetTickCount() - start < 20000; Sleep(5))
            progress.Read(request);
        ASSERT_GE(progress.received, 50000u);
        request->Release();
        ASSERT_TRUE(service.WaitForClientAbort(20000));

        if (!named) {
            for (DWORD start = GetTickCount(); TempFileCount() != tempFiles && GetTickCount() - start < 20000;) Sleep(10);
            EXPECT_EQ(tempFiles, TempFileCount());
            continue;
        }
        std::string kept = "<busy>";
        for (DWORD start = GetTickCount(); kept == "<busy>" && GetTickCount() - start < 20000; Sleep(10))
            kept = FileBytes(destination);
        EXPECT_GE(kept.size(), 50000u);
        EXPECT_LT(kept.size(), slow.body.size());
        EXPECT_TRUE(kept == slow.body.substr(0, kept.size()));
        Sleep(300);
        EXPECT_EQ(kept.size(), FileBytes(destination).size()) << "the file still grows";
    }
}

TEST_F(DownloadExportsTest, AnUnresolvableHostFailsWithoutAFile) {
    ProxySetting direct = ProxySetting::Off();
    IDownloadRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixGetInternetFile("no-such-host.invalid", "/f", &request));
    EXPECT_EQ(static_cast<HRESULT>(0x80072EE7), WaitForRequest(request));
    LONG state = 0x1234;
    EXPECT_EQ(static_cast<HRESULT>(0x80072EE7), request->GetStatus(&state));
    EXPECT_EQ(0x1234, state);
    EXPECT_EQ(tempFiles, TempFileCount());
    request->Release();
}

TEST_F(DownloadExportsTest, AnOnlineTreeComesFromWhereTheServiceSaysByteForByte) {
    const std::string gedcom = "0 HEAD\r\n1 CHAR ANSEL\r\n" + Pattern(70000) + "0 TRLR\r\n";
    service.On("/exports/", Body(gedcom, {{"Content-Type", "application/x-gedcom"}}));
    service.On("op=oftdownload", GatekeeperAnswer("<tree><GEDCOMFile>http://files.example:8123/exports/t.ged?k=1&amp;"
                                                  "v=%41</GEDCOMFile></tree>"));
    IDownloadRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixDownloadOnlineFamilyTree("Tk+%41&=", "a b&c", destination.c_str(), "co&b", &request));
    ASSERT_EQ(S_OK, WaitForRequest(request));

    std::vector<ReceivedRequest> sent = service.Requests();
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ(kServiceHost, sent[0].Host());
    EXPECT_EQ("/vft/gatekeeper.ashx?op=oftdownload&att=Tk+%41&=&collectionid=a%20b%26c&cobrand=co&b", sent[0].Path());
    EXPECT_EQ("GET http://files.example:8123/exports/t.ged?k=1&v=%41 HTTP/1.0", sent[1].requestLine);
    char type[32];
    EXPECT_EQ(S_OK, request->GetContentType(type, sizeof type));
    EXPECT_STREQ("application/x-gedcom", type);
    EXPECT_EQ("<busy>", FileBytes(destination)) << "the request holds the file it hands out";
    request->Release();
    EXPECT_TRUE(FileBytes(destination) == gedcom);
}

TEST_F(DownloadExportsTest, AnOnlineTreeWithoutAUsableAddressFailsWithoutAFile) {
    const struct {
        const char* what;
        HttpAnswer answer;
        HRESULT status;
    } cases[] = {
        {"empty GEDCOMFile", GatekeeperAnswer("<GEDCOMFile></GEDCOMFile>"), E_FAIL},
        {"no GEDCOMFile", GatekeeperAnswer(""), E_FAIL},
        {"service error", HttpAnswer{200, "OK", {}, "<r><error><hresult>8007139F</hresult></error></r>"},
         static_cast<HRESULT>(0x8007139F)},
        {"gatekeeper status 500", HttpAnswer{500, "Oops", {}, ""}, E_FAIL},
        {"not an address", GatekeeperAnswer("<GEDCOMFile>files/t.ged</GEDCOMFile>"),
         static_cast<HRESULT>(0x80072EE6)},  // ERROR_INTERNET_UNRECOGNIZED_SCHEME
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestService own;
        ProxySetting ownProxy(own.Port());
        own.SetDefault(c.answer);
        IDownloadRequest* request = nullptr;
        ASSERT_EQ(S_OK, TarnixDownloadOnlineFamilyTree("t", "c", destination.c_str(), "b", &request));
        EXPECT_EQ(c.status, WaitForRequest(request));
        EXPECT_EQ(1u, own.RequestCount());
        EXPECT_EQ("<absent>", FileBytes(destination));
        request->Release();
    }
}

// TLS goes through the proxy as a tunnel to the address's host on the https port.
TEST_F(DownloadExportsTest, AnHttpsAddressIsFetchedWithTls) {
    HRESULT hr = DownloadTree("https://secure.example/t.ged", HttpAnswer{403, "Forbidden", {}, ""}, destination.c_str());
    EXPECT_TRUE(FAILED(hr));
    ASSERT_EQ(2u, service.RequestCount());
    EXPECT_EQ("CONNECT secure.example:443", service.Requests()[1].requestLine.substr(0, 26));
    EXPECT_EQ("<absent>", FileBytes(destination));
}

TEST_F(DownloadExportsTest, ReleasingDuringTheGatekeeperExchangeCreatesNoFile) {
    HANDLE answer = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HttpAnswer held = GatekeeperAnswer("<GEDCOMFile>http://files.example/t.ged</GEDCOMFile>");
    held.hold = answer;
    held.holdBeforeHead = true;
    service.On("op=oftdownload", held);
    service.SetDefault(Body("0 HEAD\r\n"));
    IDownloadRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixDownloadOnlineFamilyTree("t", "c", destination.c_str(), "b", &request));
    ASSERT_TRUE(service.WaitForRequests(1, 20000));
    request->Release();
    SetEvent(answer);
    EXPECT_FALSE(service.WaitForRequests(2, 1000)) << "the file was asked for";
    EXPECT_EQ("<absent>", FileBytes(destination));
    CloseHandle(answer);
}

TEST(DownloadExportsUninitialized, NullArgumentsAndNoPools) {
    EXPECT_EQ(E_POINTER, TarnixGetInternetFile("h", "/p", nullptr));
    EXPECT_EQ(E_POINTER, TarnixDownloadOnlineFamilyTree("t", "c", nullptr, "b", nullptr));
    IDownloadRequest* request = reinterpret_cast<IDownloadRequest*>(0x1);
    EXPECT_EQ(E_FAIL, TarnixGetInternetFile(nullptr, nullptr, &request));
    EXPECT_EQ(E_FAIL, TarnixDownloadOnlineFamilyTree(nullptr, nullptr, nullptr, nullptr, &request));
    EXPECT_EQ(reinterpret_cast<IDownloadRequest*>(0x1), request);
}

// Null texts read as empty: the request runs and reports what the platform makes of them.
TEST_F(DownloadExportsTest, NullTextsReadAsEmpty) {
    service.SetDefault(Body("x"));
    IDownloadRequest* request = nullptr;
    ASSERT_EQ(S_OK, TarnixGetInternetFile("files.example", nullptr, &request));
    EXPECT_EQ(S_OK, WaitForRequest(request));
    ASSERT_EQ(1u, service.RequestCount());
    EXPECT_EQ("/", service.Requests()[0].Path());
    request->Release();

    service.On("op=oftdownload", GatekeeperAnswer(""));
    ASSERT_EQ(S_OK, TarnixDownloadOnlineFamilyTree(nullptr, nullptr, nullptr, nullptr, &request));
    EXPECT_EQ(E_FAIL, WaitForRequest(request));
    EXPECT_EQ("/vft/gatekeeper.ashx?op=oftdownload&att=&collectionid=&cobrand=", service.Requests()[1].Path());
    request->Release();
}

}  // namespace
