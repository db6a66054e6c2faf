// The transfers under the library's progress dialogs, through tarnix.dll against the local
// service, used as a user would: what each dialog shows while its request runs, how it ends, the
// failures it reports, and what the export returns.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>

#include "DialogDriver.h"
#include "HostWindow.h"
#include "TestFiles.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

using namespace tarnix::test;

constexpr char kCaption[] = "Transfer test";
const std::string kServiceHost = TARNIX_EXPECTED_SERVICE_HOST;
constexpr char kLocalFile[] = "C:\\upload-dialog-test.ged";
constexpr char kDestination[] = "C:\\users\\smith.family.ged";
constexpr int kProgress = 1001, kStatus = 1002, kMessage = 1003, kTimeLeft = 1004, kDestinationName = 1005, kRate = 1006;
// One text for uploads and downloads alike.
const std::string kTransferFailed = "An error has occured while downloading the online family tree. The error code is ";

const HttpAnswer kAccepted{200, "OK", {}, "<gatekeeper><ok/></gatekeeper>"};
HttpAnswer Refusal(const char* hresult) {
    return HttpAnswer{200, "OK", {}, std::string("<r><error><hresult>") + hresult + "</hresult></error></r>"};
}
// Held from the start (then sent slowly, so that a client that gave up meanwhile is seen when its
// socket refuses the rest: WinINet closes it once its pending read returns) or after some bytes.
HttpAnswer Held(HttpAnswer answer, HANDLE until, size_t afterBytes = 0) {
    if (afterBytes) {
        answer.steps = {SendBody(afterBytes), Hold(until)};
    } else {
        answer.body += std::string(100000, ' ');
        answer.steps = {Hold(until), Trickle(8192, 10)};
    }
    return answer;
}

// The user who sees the failure's message box over the dialog and answers it with OK.
User Fails(const std::string& text) {
    return [text](auto& script, auto& dialog) { script.AnswerMessageBox(kCaption, dialog.Handle(), text, MB_ICONERROR, IDOK); };
}

class TransferDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ReachDirectly(service);
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        std::ofstream(kLocalFile, std::ios::binary) << "0 HEAD\r\n0 TRLR\r\n";
    }
    void TearDown() override {
        TARNIXTerminate();
        CloseHandle(release);
        DeleteFileA(kLocalFile);
        DeleteFileA(kDestination);
    }

    TestService service;
    HostWindow host;
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};

// Each dialog closes itself once its request is done, ends with 0 on its failure, on Cancel or
// Esc, and reports the failure over itself.
TEST_F(TransferDialogsTest, EachTransferDialogEndsAsItsRequestDoes) {
    const char kUpload[] = "Exporting Smith Family", kExport[] = "Online Family Tree", kDownload[] = "0% of /f Completed";
    auto upload = [&] {
        return TarnixCreateOnlineFamilyTreeDialog(host.get(), kCaption, "tk", kLocalFile, "41", "Smith Family", 1, "cb");
    };
    // The export order returns nothing: that it sent the one order stands for its result.
    auto order = [&](HWND parent) {
        return [&, parent]() -> BOOL {
            const size_t before = service.RequestCount();
            TarnixExportOnlineFamilyTreeDialog(parent, kCaption, "tk", "c-1", "Smith Family", "cb");
            return service.RequestCount() == before + 1 &&
                   service.Requests().back().Path() == "/vft/gatekeeper.ashx?op=oftexport&att=tk&collectionid=c-1&cobrand=cb";
        };
    };
    // A download of /f without a parent, its content type into `typeSize` bytes of `type`.
    char type[32];
    const std::string server = service.Address();
    auto download = [&type](const char* server, ULONG typeSize) {
        return [&type, server, typeSize] {
            return TarnixDownloadFileDialog(nullptr, kCaption, server, "/f", kDestination, type, typeSize);
        };
    };
    const HttpAnswer typed{200, "OK", {{"Content-Type", "text/plain"}}, "data"};
    const struct {
        const char* what;
        HttpAnswer answer;
        const char* title;
        HWND parent;
        User user;
        std::function<BOOL()> call;
        BOOL result;
        std::string file = "<none>";  // what the download leaves at kDestination
    } cases[] = {
        {"the upload closes itself once the upload is in", Held(kAccepted, release), kUpload, host.get(),
         [&](auto&, auto& dialog) {
             EXPECT_EQ("Exporting Smith Family to " + kServiceHost, dialog.Text(kStatus));
             dialog.Capture("upload-progress");
             SetEvent(release);
         }, upload, 1},
        {"the replace closes itself once the upload is in", Held(kAccepted, release), kUpload, host.get(),
         [&](auto&, auto&) { SetEvent(release); }, [&] {
             return TarnixUpdateOnlineFamilyTreeDialog(host.get(), kCaption, "tk", kLocalFile, "c-7", "Smith Family", "cb");
         }, 1},
        {"the upload refused", Refusal("800704DC"), kUpload, host.get(), Fails(kTransferFailed + "800704DC"), upload, 0},
        // Returns while the answer is still held: a cancel does not wait for the worker.
        {"the upload cancelled", Held(kAccepted, release), kUpload, host.get(), [](auto&, auto& d) { d.Click(IDCANCEL); },
         upload, 0},
        {"the export order taken, then closed with Enter", Held(kAccepted, release), kExport, host.get(), [&](auto& script, auto& dialog) {
             EXPECT_EQ("The online family tree 'Smith Family' needs to be prepared for download.", dialog.Text(kMessage));
             EXPECT_EQ("Submitting a request to export the online family tree.\r\nPlease wait...", dialog.Text(kStatus));
             SetEvent(release);
             script.WaitUntil([&] { return dialog.Text(IDCANCEL) == "Close"; }, "the Close button");
             EXPECT_EQ("The request to export the online family tree has been submitted.\r\nPlease check again later to "
                       "download the GEDCOM file.", dialog.Text(kStatus));
             EXPECT_EQ(IDCANCEL, dialog.DefaultButton());
             EXPECT_EQ(MAKELRESULT(IDCANCEL, DC_HASDEFID), SendMessageA(dialog.Handle(), DM_GETDEFID, 0, 0));
             dialog.Capture("export-order");
             dialog.PressKey(VK_RETURN);
         }, order(host.get()), TRUE},
        {"the export order refused, without a parent", Refusal("80070490"), kExport, nullptr,
         Fails("This operation failed with error 80070490"), order(nullptr), TRUE},
        // No content type to fetch: the result is the dialog's own.
        {"a download of a file that is not there", HttpAnswer{404, "Not Found", {}, "<html>gone</html>"}, kDownload, nullptr,
         Fails(kTransferFailed + "80190194"), download(server.c_str(), 0), 0},
        {"a download ended by Esc while locating the file", Held(typed, release), kDownload, nullptr,
         [](auto&, auto& d) { d.PressKey(VK_ESCAPE); }, download(server.c_str(), 0), 0},
        {"a download's content type buffer of 0 bytes is left alone", typed, kDownload, nullptr, nullptr,
         download(server.c_str(), 0), 1, "data"},
        {"a download's content type buffer too small: 0, the file complete", typed, kDownload, nullptr, nullptr,
         download(server.c_str(), 10), 0, "data"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        service.SetDefault(c.answer);
        ResetEvent(release);
        lstrcpyA(type, "untouched");
        EXPECT_EQ(c.result, DriveDialog(c.title, c.parent, c.user, c.call));
        EXPECT_STREQ("untouched", type);
        EXPECT_EQ(c.file, FileBytes(kDestination));
        DeleteFileA(kDestination);
    }
    SetEvent(release);
    EXPECT_TRUE(service.WaitForClientAborts(2, 20000)) << "the cancelled upload and download must be given up";
    EXPECT_EQ("/vft/gatekeeper.ashx?op=oftcreate&siteid=41&oftname=Smith%20Family&forvwt=Y&cobrand=cb",
              service.Requests()[0].Path());
    EXPECT_EQ("/vft/gatekeeper.ashx?op=oftreplace&collectionid=c-7&cobrand=cb", service.Requests()[1].Path());
    EXPECT_EQ("ATT=tk;", service.Requests()[1].Header("Cookie"));
}

TEST_F(TransferDialogsTest, TheDownloadDialogFollowsTheTransferAndIgnoresEnter) {
    HANDLE head = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // Half-way is a whole number of the 4096-byte blocks in which the download reads; the first
    // half comes at some 160 KB/s, so that the dialog has a rate to measure.
    const std::string body(819200, 'g');
    HttpAnswer file{200, "OK", {{"Content-Type", "text/plain"}}, body};
    file.steps = {Trickle(8192, 50, 409600), Hold(release)};
    service.On("/files/t.ged", [&](const ReceivedRequest&) { return WaitForSingleObject(head, 20000), file; });
    char type[32] = "untouched";
    EXPECT_EQ(1, DriveDialog("0% of /files/t.ged?v=2 Completed", host.get(), [&](auto& script, auto& dialog) {
        EXPECT_EQ("/files/t.ged?v=2 from " + service.Address(), dialog.Text(kStatus));
        EXPECT_EQ("Locating file...", dialog.Text(kTimeLeft));
        EXPECT_EQ("smith.family.ged", dialog.Text(kDestinationName));
        EXPECT_EQ("", dialog.Text(kRate));
        dialog.PressKey(VK_RETURN);
        SetEvent(head);
        // A poll comes only once no key waits: seen half-way, the dialog has outlived Enter.
        script.WaitForWindow("50% of /files/t.ged?v=2 Completed");
        const std::string progress = dialog.Text(kTimeLeft);
        EXPECT_EQ(" (409.60 KB of 819.20 KB copied)", progress.substr(progress.find(" ("))) << progress;
        EXPECT_EQ(819200, SendMessageA(dialog.Item(kProgress), PBM_GETRANGE, FALSE, 0));
        EXPECT_EQ(409600, SendMessageA(dialog.Item(kProgress), PBM_GETPOS, 0, 0));
        // The picture shows a measured rate, never the first running poll's stand-in.
        script.WaitUntil([&] { return dialog.Text(kRate) != "3.60 KB/Sec"; }, "a measured rate");
        dialog.Capture("download-progress");
        SetEvent(release);
    }, [&] { return TarnixDownloadFileDialog(host.get(), kCaption, service.Address().c_str(), "/files/t.ged?v=2", kDestination, type, 32); }));
    EXPECT_STREQ("text/plain", type);
    EXPECT_TRUE(body == FileBytes(kDestination)) << "the file on disk differs";
    CloseHandle(head);
}

TEST_F(TransferDialogsTest, TheDownloadDialogWithoutALengthShowsNoProgressUntilItCloses) {
    service.On("op=oftdownload", HttpAnswer{200, "OK", {}, "<r><ok/><GEDCOMFile>http://" + service.Address() + "/t.ged</GEDCOMFile></r>"});
    HttpAnswer file = Held(HttpAnswer{200, "OK", {}, "0 HEAD\r\n0 TRLR\r\n"}, release, 8);
    file.contentLength = false;
    service.On("/t.ged", file);
    EXPECT_EQ(1, DriveDialog("0% of Smith Family Completed", host.get(), [&](auto& script, auto& dialog) {
        EXPECT_EQ("Smith Family from " + kServiceHost, dialog.Text(kStatus));
        script.WaitUntil([&] { return dialog.Text(kTimeLeft) != "Locating file..."; }, "the transfer");
        EXPECT_EQ("0 sec (0.00 KB of 0.00 KB copied)", dialog.Text(kTimeLeft));
        EXPECT_EQ("3.60 KB/Sec", dialog.Text(kRate));
        EXPECT_EQ("0% of Smith Family Completed", dialog.Title());
        EXPECT_EQ(0, SendMessageA(dialog.Item(kProgress), PBM_GETRANGE, FALSE, 0));
        SetEvent(release);
    }, [&] { return TarnixDownloadOnlineFamilyTreeDialog(host.get(), kCaption, "tk", "c-1", "Smith Family", kDestination, "cb"); }));
    EXPECT_EQ("0 HEAD\r\n0 TRLR\r\n", FileBytes(kDestination));
}

}  // namespace
