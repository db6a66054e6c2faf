// The transfers that run under the library's progress dialogs, through tarnix.dll and against
// the local service, used as a user would: what each dialog shows while its request runs, how it
// ends by itself or by the user's hand, the failures it reports, and what the export returns.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "DialogDriver.h"
#include "ProxySetting.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

using tarnix::test::DialogScript;
using tarnix::test::DialogWindow;
using tarnix::test::DriveDialogs;
using tarnix::test::HttpAnswer;
using tarnix::test::ProxySetting;
using tarnix::test::TestService;
using Script = std::function<void(const DialogScript&)>;

constexpr char kCaption[] = "Transfer test";
constexpr char kServiceHost[] = TARNIX_EXPECTED_SERVICE_HOST;
constexpr char kLocalFile[] = "C:\\upload-dialog-test.ged";
constexpr char kDestination[] = "C:\\My Downloads\\smith.family.ged";
constexpr int kProgress = 1001, kSource = 1002, kMessage = 1003, kTimeLeft = 1004, kDestinationName = 1005,
              kRate = 1006;
const std::string kUploadFailed = "An error has occured while downloading the online family tree. The error code is ";

HttpAnswer Accepted() { return HttpAnswer{200, "OK", {}, "<gatekeeper><ok/></gatekeeper>"}; }
HttpAnswer Refusal(const char* hresult) {
    return HttpAnswer{200, "OK", {}, std::string("<r><error><hresult>") + hresult + "</hresult></error></r>"};
}
HttpAnswer Held(HttpAnswer answer, HANDLE until, size_t afterBytes = 0) {
    answer.hold = until;
    answer.holdBeforeHead = afterBytes == 0;
    answer.holdAfterBytes = afterBytes;
    return answer;
}

// An answer held until `until`, then sent slowly: a client that gave up meanwhile is seen when
// its socket refuses the rest (WinINet closes it once its pending read returns).
HttpAnswer HeldThenSlow(HttpAnswer answer, HANDLE until) {
    answer.body += std::string(400000, ' ');
    answer.pieceSize = 8192;
    answer.pieceDelayMs = 10;
    return Held(answer, until);
}

std::string FileBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<none>";
}

// Checks the failure's message box, owned by `owner`, and presses OK.
void ExpectFailure(const DialogScript& script, HWND owner, const std::string& text) {
    const DialogWindow box = script.WaitForWindow(kCaption);
    EXPECT_EQ(owner, box.Owner());
    EXPECT_EQ(text, box.MessageText());
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.MessageIcon());
    box.Click(IDOK);
    script.WaitGone(box);
}

class TransferDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        std::ofstream(kLocalFile, std::ios::binary) << "0 HEAD\r\n0 TRLR\r\n";
        CreateDirectoryA("C:\\My Downloads", nullptr);
        DeleteFileA(kDestination);
    }
    void TearDown() override {
        DestroyWindow(host);
        TARNIXTerminate();
        CloseHandle(release);
        DeleteFileA(kLocalFile);
        DeleteFileA(kDestination);
        RemoveDirectoryA("C:\\My Downloads");
    }

    BOOL DownloadFile(const char* server, const char* path, char* type, ULONG typeSize, const Script& script) {
        BOOL result = -1;
        DriveDialogs(script, [&] { result = TarnixDownloadFileDialog(host, kCaption, server, path, kDestination, type, typeSize); });
        return result;
    }

    TestService service;
    ProxySetting proxy{service.Port()};
    HWND host = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};

TEST_F(TransferDialogsTest, TheUploadDialogClosesItselfOnceTheUploadIsIn) {
    service.On("op=oftcreate", Held(Accepted(), release));
    BOOL result = -1;
    DriveDialogs(
        [&](const DialogScript& script) {
            const DialogWindow dialog = script.WaitForWindow("Exporting Smith Family");
            EXPECT_EQ(host, dialog.Owner());
            EXPECT_EQ("Exporting Smith Family to " + std::string(kServiceHost), dialog.Text(kSource));
            EXPECT_FALSE(dialog.Visible(IDOK));
            dialog.Capture("upload-progress");
            SetEvent(release);
            script.WaitGone(dialog);
        },
        [&] { result = TarnixCreateOnlineFamilyTreeDialog(host, kCaption, "tk", kLocalFile, "41", "Smith Family", 1, "cb"); });
    EXPECT_EQ(1, result);
    ASSERT_EQ(1u, service.RequestCount());
    EXPECT_EQ("/vft/gatekeeper.ashx?op=oftcreate&siteid=41&oftname=Smith%20Family&forvwt=Y&cobrand=cb",
              service.Requests()[0].Path());
}

TEST_F(TransferDialogsTest, TheUploadDialogEndsWithZeroOnCancelOrFailure) {
    const struct {
        const char* what;
        HttpAnswer answer;
        std::function<void(const DialogScript&, const DialogWindow&)> user;
    } cases[] = {
        {"cancelled while the service holds its answer", HeldThenSlow(Accepted(), release),
         [](const DialogScript&, const DialogWindow& dialog) { dialog.Click(IDCANCEL); }},
        {"refused by the service", Refusal("800704DC"),
         [](const DialogScript& script, const DialogWindow& dialog) {
             ExpectFailure(script, dialog.Handle(), kUploadFailed + "800704DC");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        service.SetDefault(c.answer);
        BOOL result = -1;
        DriveDialogs(
            [&](const DialogScript& script) {
                const DialogWindow dialog = script.WaitForWindow("Exporting Jones");
                c.user(script, dialog);
                script.WaitGone(dialog);
            },
            [&] { result = TarnixUpdateOnlineFamilyTreeDialog(nullptr, kCaption, "tk", kLocalFile, "c-7", "Jones", "cb"); });
        // Returned while the answer was still held: a cancel does not wait for the worker.
        EXPECT_EQ(0, result);
    }
    SetEvent(release);
    EXPECT_TRUE(service.WaitForClientAbort(20000)) << "the cancelled upload must be given up";
}

TEST_F(TransferDialogsTest, TheExportDialogSaysWhenTheOrderIsTakenAndWaitsToBeClosed) {
    service.SetDefault(Held(Accepted(), release));
    DriveDialogs(
        [&](const DialogScript& script) {
            const DialogWindow dialog = script.WaitForWindow("Online Family Tree");
            EXPECT_EQ("The online family tree 'Smith Family' needs to be prepared for download.", dialog.Text(kMessage));
            EXPECT_EQ("Submitting a request to export the online family tree.\r\nPlease wait...", dialog.Text(kSource));
            EXPECT_EQ("Cancel", dialog.Text(IDCANCEL));
            SetEvent(release);
            script.WaitUntil([&] { return dialog.Text(IDCANCEL) == "Close"; }, "the Close button");
            EXPECT_EQ("The request to export the online family tree has been submitted.\r\nPlease check again later to "
                      "download the GEDCOM file.",
                      dialog.Text(kSource));
            EXPECT_EQ(IDCANCEL, dialog.DefaultButton());
            dialog.Capture("export-order");
            dialog.Click(IDCANCEL);
            script.WaitGone(dialog);
        },
        [&] { TarnixExportOnlineFamilyTreeDialog(host, kCaption, "tk", "c-1", "Smith Family", "cb"); });

    service.SetDefault(Refusal("80070490"));
    DriveDialogs(
        [&](const DialogScript& script) {
            const DialogWindow dialog = script.WaitForWindow("Online Family Tree");
            ExpectFailure(script, dialog.Handle(), "This operation failed with error 80070490");
            script.WaitGone(dialog);
        },
        [&] { TarnixExportOnlineFamilyTreeDialog(host, kCaption, "tk", "c-1", "Smith Family", "cb"); });
}

TEST_F(TransferDialogsTest, TheDownloadDialogFollowsTheTransferAndIgnoresEnter) {
    HANDLE head = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // Half-way is a whole number of the 4096-byte blocks in which the download reads.
    const std::string body(819200, 'g');
    const HttpAnswer file = Held(HttpAnswer{200, "OK", {{"Content-Type", "text/plain"}}, body}, release, 409600);
    service.On("/files/t.ged", [&](const tarnix::test::ReceivedRequest&) { return WaitForSingleObject(head, 20000), file; });
    char type[32] = "untouched";
    const BOOL result = DownloadFile("files.example", "/files/t.ged?v=2", type, sizeof type, [&](const DialogScript& script) {
        const DialogWindow dialog = script.WaitForWindow("0% of /files/t.ged?v=2 Completed");
        EXPECT_EQ(host, dialog.Owner());
        EXPECT_EQ("/files/t.ged?v=2 from files.example", dialog.Text(kSource));
        EXPECT_EQ("Locating file...", dialog.Text(kTimeLeft));
        EXPECT_EQ("smith.family.ged", dialog.Text(kDestinationName));
        EXPECT_EQ("", dialog.Text(kRate));
        dialog.PressKey(VK_RETURN);
        SetEvent(head);
        // Polls come only once no key waits: seen half-way, the dialog outlived Enter.
        script.WaitForWindow("50% of /files/t.ged?v=2 Completed");
        const std::string progress = dialog.Text(kTimeLeft), rate = dialog.Text(kRate);
        EXPECT_EQ(" (409.60 KB of 819.20 KB copied)", progress.substr(progress.find(" ("))) << progress;
        EXPECT_EQ("B/Sec", rate.substr(rate.size() - 5)) << rate;
        EXPECT_EQ(819200, SendMessageA(dialog.Item(kProgress), PBM_GETRANGE, FALSE, 0));
        EXPECT_EQ(409600, SendMessageA(dialog.Item(kProgress), PBM_GETPOS, 0, 0));
        dialog.Capture("download-progress");
        SetEvent(release);
        script.WaitGone(dialog);
    });
    EXPECT_EQ(1, result);
    EXPECT_STREQ("text/plain", type);
    EXPECT_TRUE(body == FileBytes(kDestination)) << "the file on disk differs";
    CloseHandle(head);
}

TEST_F(TransferDialogsTest, TheDownloadDialogWithoutALengthShowsNoProgressUntilItCloses) {
    service.On("op=oftdownload", HttpAnswer{200, "OK", {}, "<r><ok/><GEDCOMFile>http://files.example/t.ged</GEDCOMFile></r>"});
    HttpAnswer file = Held(HttpAnswer{200, "OK", {}, "0 HEAD\r\n0 TRLR\r\n"}, release, 8);
    file.contentLength = false;
    service.On("/t.ged", file);
    BOOL result = -1;
    DriveDialogs(
        [&](const DialogScript& script) {
            const DialogWindow dialog = script.WaitForWindow("0% of Smith Family Completed");
            EXPECT_EQ("Smith Family from " + std::string(kServiceHost), dialog.Text(kSource));
            script.WaitUntil([&] { return dialog.Text(kTimeLeft) != "Locating file..."; }, "the transfer");
            EXPECT_EQ("0 sec (0.00 KB of 0.00 KB copied)", dialog.Text(kTimeLeft));
            EXPECT_EQ("3.60 KB/Sec", dialog.Text(kRate));
            EXPECT_EQ("0% of Smith Family Completed", dialog.Title());
            EXPECT_EQ(0, SendMessageA(dialog.Item(kProgress), PBM_GETRANGE, FALSE, 0));
            SetEvent(release);
            script.WaitGone(dialog);
        },
        [&] { result = TarnixDownloadOnlineFamilyTreeDialog(host, kCaption, "tk", "c-1", "Smith Family", kDestination, "cb"); });
    EXPECT_EQ(1, result);
    EXPECT_EQ("0 HEAD\r\n0 TRLR\r\n", FileBytes(kDestination));
}

TEST_F(TransferDialogsTest, TheDownloadDialogEndsWithZeroOnFailureOrEsc) {
    const std::string kFailed = kUploadFailed;  // one text for both directions
    const struct {
        const char* what;
        const char* server;
        bool direct;
        HttpAnswer answer;
        ULONG typeSize;
        std::function<void(const DialogScript&, const DialogWindow&)> user;
        BOOL result;
        std::string file;
    } cases[] = {
        {"a server name that does not resolve", "no-such-host.invalid", true, {}, 32,
         [&](const DialogScript& s, const DialogWindow& d) { ExpectFailure(s, d.Handle(), kFailed + "80072EE7"); }, 0, "<none>"},
        {"a file that is not there", "files.example", false, HttpAnswer{404, "Not Found", {}, "<html>gone</html>"}, 32,
         [&](const DialogScript& s, const DialogWindow& d) { ExpectFailure(s, d.Handle(), kFailed + "80190194"); }, 0, "<none>"},
        {"Esc while locating the file", "files.example", false, HeldThenSlow(HttpAnswer{200, "OK", {}, "data"}, release), 32,
         [](const DialogScript&, const DialogWindow& d) { d.PressKey(VK_ESCAPE); }, 0, "<none>"},
        {"a content type buffer of 0 bytes is left alone", "files.example", false,
         HttpAnswer{200, "OK", {{"Content-Type", "text/plain"}}, "data"}, 0, nullptr, 1, "data"},
        {"a content type buffer too small: 0, the file complete", "files.example", false,
         HttpAnswer{200, "OK", {{"Content-Type", "text/plain"}}, "data"}, 10, nullptr, 0, "data"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProxySetting direct = c.direct ? ProxySetting::Off() : ProxySetting(service.Port());
        service.SetDefault(c.answer);
        char type[32] = "untouched";
        const BOOL result = DownloadFile(c.server, "/f", type, c.typeSize, [&](const DialogScript& script) {
            if (!c.user) return;
            const DialogWindow dialog = script.WaitForWindow("0% of /f Completed");
            c.user(script, dialog);
            script.WaitGone(dialog);
        });
        EXPECT_EQ(c.result, result);
        EXPECT_STREQ("untouched", type);
        EXPECT_EQ(c.file, FileBytes(kDestination));
        DeleteFileA(kDestination);
    }
    SetEvent(release);
    EXPECT_TRUE(service.WaitForClientAbort(20000)) << "the download must be given up";
}

}  // namespace
