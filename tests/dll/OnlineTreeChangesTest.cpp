// Creating, replacing and exporting online trees through tarnix.dll: the requests exactly as the
// service receives them, and what must fail before anything is sent.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>

#include "RequestWait.h"
#include "TestFiles.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

using namespace tarnix::test;

// A folder of the process's own on C:, with a space, as users' folders have.
const std::string kId = std::to_string(GetCurrentProcessId());
const std::string kDirectory = "C:\\My Trees " + kId, kLocalFile = kDirectory + "\\a.ged";
const std::string kEscapedFile = "C%3a%5cMy%20Trees%20" + kId + "%5ca.ged";  // the whole path, escaped
const std::string kBoundary = "----------------------------839J39AIFUE93CK";

// The whole upload of kLocalFile as Wine's WinINet sends it: its own Accept, Host and Cache-Control
// (added to a POST opened without cache writing), the library's four headers, the one part.
std::string Upload(const std::string& host, const std::string& path, const std::string& cookie, const std::string& content) {
    const std::string body = "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"f1\"; filename=\"" +
                             kEscapedFile + "\"\r\nContent-Type: text/plain\r\n\r\n" + content + "\r\n--" + kBoundary + "--\r\n";
    return "POST " + path + " HTTP/1.0\r\nAccept: */*\r\nHost: " + host + "\r\nCache-Control: no-cache\r\nUser-Agent: "
           "Mozilla/4.0 (compatible; MSIE 4.01; Windows NT)\r\nCookie: " + cookie + "\r\nContent-Type: multipart/form-data; "
           "boundary=" + kBoundary + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}
std::string Get(const std::string& host, const std::string& path) {
    return "GET " + path + " HTTP/1.0\r\nAccept: */*\r\nHost: " + host +
           "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0\r\n\r\n";
}

// The local file: the content given, or `size` bytes left sparse (no room taken).
void WriteLocalFile(const std::string& content, ULONGLONG size = 0) {
    std::ofstream file(kLocalFile, std::ios::binary);
    if (size) file.seekp(static_cast<std::streamoff>(size - 1));
    EXPECT_TRUE(file.write(size ? "" : content.data(), size ? 1 : static_cast<std::streamsize>(content.size())));
}

using Start = std::function<HRESULT(IRequest**)>;

class OnlineTreeChangesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ReachDirectly(service);
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        CreateDirectoryA(kDirectory.c_str(), nullptr);
        // Cookies set by every answer must ride on no later request: the bytes compared below
        // carry only the cookie the library writes.
        service.SetDefault(HttpAnswer{200, "OK", {{"Set-Cookie", "ATT=planted; path=/"}, {"Set-Cookie", "att=x"}},
                                      "<gatekeeper><ok/></gatekeeper>"});
    }
    void TearDown() override {
        TARNIXTerminate();
        DeleteFileA(kLocalFile.c_str());
        RemoveDirectoryA(kDirectory.c_str());
    }
    // A request's final status, read as a C host reads it (GetStatus, slot 3): success comes with done.
    static HRESULT Run(const Start& start) {
        IRequest* request = nullptr;
        if (const HRESULT hr = start(&request); FAILED(hr)) return hr;
        WaitForRequest(request);
        LONG state = REQUEST_STATE_PENDING;
        const HRESULT hr = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IRequest*, LONG*)>(
            (*reinterpret_cast<void***>(request))[3])(request, &state);
        EXPECT_TRUE(FAILED(hr) || state == REQUEST_STATE_DONE);
        request->Release();
        return hr;
    }

    TestService service;
};

// A POST carries the local file unchanged (nothing; every byte value over several blocks), its ticket
// moved from the query into the cookie; without a file, a GET keeps it in the query. Identifiers
// and names are escaped, ticket and co-brand code sent as given, null texts as empty ones.
TEST_F(OnlineTreeChangesTest, EachChangeSendsItsFileAndTextsAsTheServiceExpects) {
    const char* f = kLocalFile.c_str();
    const struct {
        std::string content;
        Start start;
        const char *target, *cookie;  // a POST with its cookie, else a GET: ""
    } cases[] = {
        {"", [&](IRequest** r) { return TarnixCreateOnlineFamilyTree("T0k", f, "4101", "Smith & Sons, 1850", 7, "cb", r); },
         "/vft/gatekeeper.ashx?op=oftcreate&siteid=4101&oftname=Smith%20%26%20Sons%2c%201850&forvwt=Y&cobrand=cb", "ATT=T0k;"},
        {Pattern(200001), [&](IRequest** r) { return TarnixCreateOnlineFamilyTree("t", f, "41 01", "A", 0, "c&b", r); },
         "/vft/gatekeeper.ashx?op=oftcreate&siteid=41%2001&oftname=A&forvwt=N&cobrand=c&b", "ATT=t;"},
        {"x", [&](IRequest** r) { return TarnixUpdateOnlineFamilyTree("Tk-9", f, "c/7", "x", r); },
         "/vft/gatekeeper.ashx?op=oftreplace&collectionid=c%2f7&cobrand=x", "ATT=Tk-9;"},
        {"x", [](IRequest** r) { return TarnixUpdateOnlineFamilyTree(nullptr, nullptr, "7", nullptr, r); },
         "/vft/gatekeeper.ashx?op=oftreplace&att=&collectionid=7&cobrand=", ""},
        {"x", [](IRequest** r) { return TarnixExportOnlineFamilyTree("Tk&9", "7 &8", "x", r); },
         "/vft/gatekeeper.ashx?op=oftexport&att=Tk&9&collectionid=7%20%268&cobrand=x", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        WriteLocalFile(c.content);
        ASSERT_EQ(S_OK, Run(c.start));
        const std::string sent = service.Requests().back().raw;
        EXPECT_TRUE(sent == (*c.cookie ? Upload(service.Address(), c.target, c.cookie, c.content)
                                       : Get(service.Address(), c.target))) << sent.substr(0, 800);
    }
    // The empty file: 182 bytes of fixed text and boundaries, and its escaped name.
    EXPECT_EQ(std::to_string(182 + kEscapedFile.size()), service.Requests()[0].Header("Content-Length"));
}

// What cannot be sent fails before anything is: a local file that cannot be opened, or whose body
// would not fit the 32-bit length; a text that goes onto the wire as given holding a control
// character, which could add lines of its own (one row per export that sends such texts).
TEST_F(OnlineTreeChangesTest, WhatCannotBeSentFailsBeforeAnythingIs) {
    const char* f = kLocalFile.c_str();
    const struct {
        ULONGLONG size;  // of the local file; 0: no file at all
        HRESULT status;
        Start start;
    } cases[] = {
        {0, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), [&](IRequest** r) { return TarnixCreateOnlineFamilyTree("t", f, "1", "n", 0, "c", r); }},
        {0xFFFFFFFFull - 200, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), [&](IRequest** r) { return TarnixUpdateOnlineFamilyTree("t", f, "7", "c", r); }},
        {1, E_INVALIDARG, [&](IRequest** r) { return TarnixCreateOnlineFamilyTree("t\r\nX-Evil: 1", f, "1", "n", 0, "c", r); }},
        {1, E_INVALIDARG, [&](IRequest** r) { return TarnixUpdateOnlineFamilyTree("t\n", f, "7", "c", r); }},
        {1, E_INVALIDARG, [](IRequest** r) { return TarnixExportOnlineFamilyTree("t", "7", "c\r", r); }},
        {1, E_INVALIDARG, [](IRequest** r) { return TarnixListOnlineFamilyTrees("t\x7f", "c", (IQueryRequest**)r); }},
        {1, E_INVALIDARG, [](IRequest** r) { return TarnixListUserSites("t\t", (IQueryRequest**)r); }},
        {1, E_INVALIDARG, [](IRequest** r) { return TarnixDownloadOnlineFamilyTree("t\x01", "7", nullptr, "c", (IDownloadRequest**)r); }},
        {1, E_INVALIDARG, [](IRequest** r) { return TarnixCheckVelmoraFamilyTreeVersion("1.0\r\n", "1", "1", "c", (IQueryRequest**)r); }},
        {1, E_INVALIDARG, [](IRequest** r) { return TarnixGetInternetFile("files.example", "/f\r\nX: 1", (IDownloadRequest**)r); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<unsigned long>(c.status));
        DeleteFileA(f);
        if (c.size) WriteLocalFile("", c.size);
        EXPECT_EQ(c.status, Run(c.start));
    }
    Sleep(100);
    EXPECT_EQ(0u, service.RequestCount());
}

}  // namespace
