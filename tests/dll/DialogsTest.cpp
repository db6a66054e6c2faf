// The library's dialogs through tarnix.dll, used as people use them against the local service.
#include <gtest/gtest.h>

#include <fstream>

#include "DialogDriver.h"
#include "HostWindow.h"
#include "TestFiles.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

using namespace tarnix::test;
using Strings = std::vector<std::string>;

constexpr char kCaption[] = "Dialog test", kLocalFile[] = "C:\\upload-dialog-test.ged", kDestination[] = "C:\\users\\smith.family.ged";
constexpr int kSiteList = 1000, kTreeList = 1007, kName = 1008, kWorldTree = 1009, kTerms = 1010, kAccept = 1011, kUntouched = 0x7777;
constexpr int kProgress = 1001, kStatus = 1002, kMessage = 1003, kTimeLeft = 1004, kDestinationName = 1005, kRate = 1006;

HttpAnswer Ok(const std::string& rows) { return HttpAnswer{200, "OK", {}, "<r><ok/>" + rows + "</r>"}; }
HttpAnswer Refusal(const std::string& code) { return HttpAnswer{200, "OK", {}, "<r><error><hresult>" + code + "</hresult></error></r>"}; }
std::string Rows(const char* tag, const Strings& names, const std::vector<Strings>& rows) {
    std::string xml;
    for (const Strings& row : rows) {
        xml += std::string("<") + tag + ">";
        for (size_t i = 0; i < names.size(); ++i) xml += "<" + names[i] + ">" + row[i] + "</" + names[i] + ">";
        xml += std::string("</") + tag + ">";
    }
    return xml;
}
// Two sites to offer, two not to. The trees' site names show which table a result came from; two trees share a name.
const HttpAnswer kSites = Ok(Rows("Site", {"SiteID", "SiteName", "SiteRights", "Rights"},
                                  {{"abc", "Haverfield family", "priv", "Admn"}, {"222", "Public", "PUBL", "ADMN"},
                                   {"333", "Read only", "PRIV", "VIEW"}, {"444", "Cousins in Ohio", "PRIV", "gest"}}));
const HttpAnswer kTrees = Ok(Rows("oft", {"SiteID", "SiteName", "CollectionID", "OFTName", "Permission", "DownloadStatus"},
                                  {{"{ABC}", "From trees", "c-1", "Smith Family", "15", "2"}, {"abc", "From trees", "c-2", "Jones", "7", "0"},
                                   {"abc", "From trees", "c-5", "Jones", "3", "1"}, {"", "", "c-0", "Velmora sample", "1", "2"},
                                   {"{444", "Ohio (trees)", "c-4", "Ohio cousins", "15", "1"}, {"333", "Read only", "c-3", "Hidden", "1", "0"}}));

User Fails(const std::string& text) { return [text](auto& d) { d.AnswerMessageBox(kCaption, text, MB_ICONERROR, IDOK); }; }

class DialogsTest : public ::testing::Test {
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
    }
    // Held until `release`, then sent slowly: a client that gave up is seen when its socket refuses the rest
    // (WinINet closes it once its pending read returns).
    HttpAnswer Held(HttpAnswer answer) {
        answer.body += std::string(400000, ' ');
        answer.steps = {Hold(release), Trickle(8192, 10)};
        return answer;
    }

    TestService service;
    HostWindow host;
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};

TEST_F(DialogsTest, TheTreeBrowserOffersTheUsersSitesAndReturnsTheTreeChosen) {
    const std::string kSitesFailed = "An error has occured while listing the sites. The error code is ";
    const std::string kTreesFailed = "An error has occured while listing the online family trees. The error code is ";
    const char kColumns[] = "Name|Permission|Download Status";
    // fields: what the six buffers receive (none: nothing written). Flows that return a tree start once the lists are in.
    const struct { const char* what; bool save; HWND parent; User user; HttpAnswer sites = kSites, trees = kTrees; BOOL result = 0;
                   Strings fields = {}; int worldTree = kUntouched; ULONG nameSize = 32; } flows[] = {
        {"Cancel while the lists load gives up both", true, host.get(), [&](auto& d) {
             EXPECT_TRUE(service.WaitForRequests(2));
             EXPECT_EQ((Strings{"", "Loading.   Please wait..."}), d.Items(kTreeList));  // one untitled column
             for (int id : {IDOK, kSiteList, kTreeList, kName, kWorldTree}) EXPECT_FALSE(d.Enabled(id)) << id;
             d.Click(IDCANCEL);
         }, Held(kSites), Held(kTrees)},
        {"save, no parent: the offer; spaces, a new name; the terms not accepted; the World Tree unticked", true, nullptr, [&](auto& d) {
             EXPECT_EQ((Strings{"<<Velmora>>", "Haverfield family", "Cousins in Ohio"}), d.Items(kSiteList));
             EXPECT_EQ((Strings{kColumns, "Velmora sample|1|2"}), d.Items(kTreeList));
             d.Choose(kSiteList, 1);
             EXPECT_EQ((Strings{kColumns, "Smith Family|15|2", "Jones|7|0", "Jones|3|1"}), d.Items(kTreeList));
             d.Choose(kSiteList, 2);
             EXPECT_EQ((Strings{kColumns, "Ohio cousins|15|1"}), d.Items(kTreeList));
             EXPECT_TRUE(d.Ticked(kWorldTree) && d.Enabled(kAccept) && d.Text(kTerms).find("the Velmora World Tree") != std::string::npos);
             d.Type(kName, "   ");
             EXPECT_FALSE(d.Enabled(IDOK));
             d.Type(kName, "  New tree\t");
             d.PressKey(VK_RETURN);
             d.AnswerMessageBox(kCaption, "You selected that you would like to submit the tree to the Velmora World Tree\r\nbut did not accept "
                                "the terms of the agreement.  Please verify that you have read \r\nthe agreement and checked the acceptance "
                                "check box.", MB_ICONEXCLAMATION, IDOK);
             d.Click(kAccept);
             d.Click(kWorldTree);
             EXPECT_FALSE(d.Text(kTerms) != "" || d.Ticked(kAccept) || d.Enabled(kAccept));
             d.Click(IDOK);
         }, kSites, kTrees, 1, {"444", "Cousins in Ohio", "", "New tree", "", ""}, 0},
        {"open: another site's tree not found; of two of one name the one double-clicked, into 5 bytes", false, host.get(), [](auto& d) {
             EXPECT_FALSE(d.Visible(kWorldTree) || d.Visible(kAccept));
             d.Type(kName, "Smith Family");
             d.Click(IDOK);
             d.AnswerMessageBox(kCaption, "Smith Family tree not found.\r\nPlease verify the correct tree name was given.", MB_ICONEXCLAMATION, IDOK);
             d.Choose(kSiteList, 1);
             d.Select(kTreeList, 2);
             EXPECT_EQ("Jones", d.Text(kName));
             d.PressKey(VK_TAB);  // the name box reports its focus, and the double-click takes it back: the pick stays
             d.Select(kTreeList, 2, true);
         }, kSites, kTrees, 1, {"abc", "From trees", "c-5", "Jones", "3", "1"}, kUntouched, 5},
        {"save: a name in another case, Enter there; replacing it answered No, then OK and Yes", true, host.get(), [](auto& d) {
             const char kQuestion[] = "smith family already exists.\r\nDo you want to replace it?";
             d.Choose(kSiteList, 1);
             d.Click(kAccept);
             d.Type(kName, "smith family");
             d.PressKey(VK_RETURN);
             d.AnswerMessageBox(kCaption, kQuestion, MB_ICONEXCLAMATION, IDNO, {IDYES, IDNO}, IDNO);
             d.Click(IDOK);
             d.AnswerMessageBox(kCaption, kQuestion, MB_ICONEXCLAMATION, IDYES, {IDYES, IDNO}, IDNO);
         }, kSites, kTrees, 1, {"ABC", "From trees", "c-1", "Smith Family", "15", "2"}, 1},
        {"the site list refused", false, host.get(), Fails(kSitesFailed + "80070005"), Refusal("80070005")},
        {"the tree list refused", false, host.get(), Fails(kTreesFailed + "800704DC"), kSites, Refusal("800704DC")},
        {"a long site id", false, host.get(), Fails(kSitesFailed + "80070057"), Ok("<Site><SiteID>" + std::string(1100, '7') + "</SiteID></Site>")},
    };
    auto* current = flows;  // only the lists asked for with the ticket and the cobrand are answered
    service.On("op=apilistusersites&att=tk", [&](const ReceivedRequest&) { return current->sites; });
    service.On("op=oftlist&att=tk&cobrand=cb", [&](const ReceivedRequest&) { return current->trees; });
    for (; current != std::end(flows); ++current) {
        const auto& flow = *current;
        SCOPED_TRACE(flow.what);
        char b[6][32];
        memset(b, 0xCD, sizeof b);
        int worldTree = kUntouched;
        const ULONG n = 32, name = flow.nameSize;
        const User user = [&](auto& d) { flow.result ? d.WaitUntil([&] { return d.Enabled(kSiteList); }, "the lists") : void(), flow.user(d); };
        EXPECT_EQ(flow.result, DriveDialog("Online Family Trees", flow.parent, user, [&] {
            return flow.save ? TarnixSaveOnlineFamilyTreeDialog(flow.parent, kCaption, "tk", "cb", b[0], n, b[1], n, b[2], n, b[3], name,
                                                                b[4], n, b[5], n, &worldTree)
                             : TarnixOpenOnlineFamilyTreeDialog(flow.parent, kCaption, "tk", "cb", b[0], n, b[1], n, b[2], n, b[3], name,
                                                                b[4], n, b[5], n);
        }));
        EXPECT_EQ(flow.worldTree, worldTree);
        for (size_t i = 0; i < 6; ++i) {  // each field cut to its buffer's size - 1, zero-filled to that size, the rest untouched
            const size_t size = i == 3 ? name : n;
            std::string bytes(n, '\xCD');
            if (!flow.fields.empty()) bytes.replace(0, size, (flow.fields[i] + std::string(size, '\0')).substr(0, size - 1) + '\0');
            EXPECT_EQ(bytes, std::string(b[i], n)) << "buffer " << i;
        }
    }
    SetEvent(release);
    EXPECT_TRUE(service.WaitForClientAborts(2)) << "both list requests must be given up";
}

// Each transfer dialog closes itself once its request is done, ends with 0 on its failure (shown over it), Cancel
// or Esc; the export order waits for Close.
TEST_F(DialogsTest, EachTransferDialogFollowsItsRequestAndEndsAsItDoes) {
    const char kUpload[] = "Exporting Smith Family", kExport[] = "Online Family Tree", kDownload[] = "0% of /f Completed";
    const std::string kFailed = "An error has occured while downloading the online family tree. The error code is ";  // uploads too
    const std::string server = service.Address();
    char type[32];
    auto upload = [&] { return TarnixCreateOnlineFamilyTreeDialog(host.get(), kCaption, "tk", kLocalFile, "41", "Smith Family", 1, "cb"); };
    auto order = [](HWND parent) -> std::function<BOOL()> {
        return [parent] { return TarnixExportOnlineFamilyTreeDialog(parent, kCaption, "tk", "c-1", "Smith Family", "cb"), TRUE; };
    };
    auto download = [&](const char* path, ULONG typeSize, HWND parent = nullptr) -> std::function<BOOL()> {
        return [=, &type] { return TarnixDownloadFileDialog(parent, kCaption, server.c_str(), path, kDestination, type, typeSize); };
    };
    const HttpAnswer typed{200, "OK", {{"Content-Type", "text/plain"}}, "data"};
    // Half-way is a whole number of the download's blocks; the first half comes at some 160 KB/s, a rate to measure.
    HANDLE located = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const std::string body(819200, 'g');
    HttpAnswer halves{200, "OK", {{"Content-Type", "text/plain"}}, body, true, "", {Hold(located), Trickle(8192, 50, 409600), Hold(release)}};
    service.On("op=oftdownload", Ok("<GEDCOMFile>http://" + server + "/t.ged</GEDCOMFile>"));
    // path: of the row's first request, and its cookie; file: what the row leaves at kDestination
    const struct { const char* what; HttpAnswer answer; const char* title; HWND parent; User user; std::function<BOOL()> call; BOOL result;
                   const char* path = nullptr; std::string file = "<none>"; const char* type = "untouched"; } cases[] = {
        {"an upload, closed once it is in", Held(Ok("")), kUpload, host.get(), [&](auto& d) {
             EXPECT_EQ("Exporting Smith Family to " TARNIX_EXPECTED_SERVICE_HOST, d.Text(kStatus));
             SetEvent(release);
         }, upload, 1, "/vft/gatekeeper.ashx?op=oftcreate&siteid=41&oftname=Smith%20Family&forvwt=Y&cobrand=cb ATT=tk;"},
        {"a replacement, closed once it is in", Ok(""), kUpload, host.get(), nullptr, [&] {
             return TarnixUpdateOnlineFamilyTreeDialog(host.get(), kCaption, "tk", kLocalFile, "c-7", "Smith Family", "cb");
         }, 1, "/vft/gatekeeper.ashx?op=oftreplace&collectionid=c-7&cobrand=cb ATT=tk;"},
        {"an upload refused", Refusal("800704DC"), kUpload, host.get(), Fails(kFailed + "800704DC"), upload, 0},
        {"an upload cancelled: no wait for the worker", Held(Ok("")), kUpload, host.get(), [](auto& d) { d.Click(IDCANCEL); }, upload, 0},
        // A ticket that could end the request line: refused before any dialog, the general failure over the host.
        {"a tree browser that cannot start", Ok(""), kCaption, host.get(), [&](auto& box) {
             box.AnswerMessageBox(kCaption, "An error has occured. The error code is 80070057", MB_ICONERROR, IDOK, {IDOK}, IDOK, host.get());
         }, [&] {
             char b[8];
             return TarnixOpenOnlineFamilyTreeDialog(host.get(), kCaption, "t\r\nk", "cb", b, 8, b, 8, b, 8, b, 8, b, 8, b, 8); }, 0},
        {"an export order taken, then Close as the default, pressed with Enter", Held(Ok("")), kExport, host.get(), [&](auto& d) {
             EXPECT_EQ("The online family tree 'Smith Family' needs to be prepared for download.|Submitting a request to export the "
                       "online family tree.\r\nPlease wait...", d.Text(kMessage) + "|" + d.Text(kStatus));
             SetEvent(release);
             d.WaitUntil([&] { return d.Text(IDCANCEL) == "Close"; }, "the Close button");
             EXPECT_EQ("The request to export the online family tree has been submitted.\r\nPlease check again later to download the "
                       "GEDCOM file.", d.Text(kStatus));
             EXPECT_TRUE(d.DefaultButton() == IDCANCEL && SendMessageA(d.Handle(), DM_GETDEFID, 0, 0) == MAKELRESULT(IDCANCEL, DC_HASDEFID));
             d.PressKey(VK_RETURN);
         }, order(host.get()), 1, "/vft/gatekeeper.ashx?op=oftexport&att=tk&collectionid=c-1&cobrand=cb"},
        {"an order refused, no parent", Refusal("80070490"), kExport, nullptr, Fails("This operation failed with error 80070490"), order(nullptr), 1},
        // No content type to fetch: the result is the dialog's own.
        {"a download of no file", HttpAnswer{404, "Not Found", {}, "gone"}, kDownload, nullptr, Fails(kFailed + "80190194"), download("/f", 0), 0},
        {"a download ended by Esc while locating", Held(typed), kDownload, nullptr, [](auto& d) { d.PressKey(VK_ESCAPE); }, download("/f", 0), 0},
        {"a download's content type into no buffer", typed, kDownload, nullptr, nullptr, download("/f", 0), 1, nullptr, "data"},
        {"a content type buffer too small: 0, the file complete", typed, kDownload, nullptr, nullptr, download("/f", 10), 0, nullptr, "data"},
        {"a download followed half-way, Enter ignored", halves, "0% of /files/t.ged?v=2 Completed", host.get(), [&](auto& d) {
             EXPECT_EQ("/files/t.ged?v=2 from " + server + "|Locating file...|smith.family.ged|",
                       d.Text(kStatus) + "|" + d.Text(kTimeLeft) + "|" + d.Text(kDestinationName) + "|" + d.Text(kRate));
             d.PressKey(VK_RETURN);
             SetEvent(located);
             // Polls come once no key waits: half-way, the dialog has outlived Enter.
             d.WaitUntil([&] { return d.Title() == "50% of /files/t.ged?v=2 Completed"; }, "half-way");
             const std::string progress = d.Text(kTimeLeft), range = std::to_string(SendMessageA(d.Item(kProgress), PBM_GETRANGE, FALSE, 0));
             EXPECT_EQ(" (409.60 KB of 819.20 KB copied), 819200, 409600", progress.substr(progress.find(" (")) + ", " + range + ", " +
                                                                            std::to_string(SendMessageA(d.Item(kProgress), PBM_GETPOS, 0, 0)));
             d.WaitUntil([&] { return d.Text(kRate) != "3.60 KB/Sec"; }, "a measured rate");  // the first poll had nothing to measure
             SetEvent(release);
         }, download("/files/t.ged?v=2", 32, host.get()), 1, nullptr, body, "text/plain"},
        {"an online tree without a length: no progress until it closes", HttpAnswer{200, "OK", {}, "0 HEAD\r\n0 TRLR\r\n", false, "",
         {SendBody(8), Hold(release)}}, "0% of Smith Family Completed", host.get(), [&](auto& d) {
             d.WaitUntil([&] { return d.Text(kTimeLeft) != "Locating file..."; }, "the transfer");
             EXPECT_EQ("Smith Family from " TARNIX_EXPECTED_SERVICE_HOST "|0% of Smith Family Completed|0",
                       d.Text(kStatus) + "|" + d.Title() + "|" + std::to_string(SendMessageA(d.Item(kProgress), PBM_GETRANGE, FALSE, 0)));
             SetEvent(release);
         }, [&] { return TarnixDownloadOnlineFamilyTreeDialog(host.get(), kCaption, "tk", "c-1", "Smith Family", kDestination, "cb"); }, 1,
         "/vft/gatekeeper.ashx?op=oftdownload&att=tk&collectionid=c-1&cobrand=cb", "0 HEAD\r\n0 TRLR\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        service.SetDefault(c.answer);
        ResetEvent(release);
        lstrcpyA(type, "untouched");
        const size_t before = service.RequestCount();
        EXPECT_EQ(c.result, DriveDialog(c.title, c.parent, c.user, c.call));
        EXPECT_STREQ(c.type, type);
        EXPECT_TRUE(c.file == FileBytes(kDestination)) << "the destination holds " << FileBytes(kDestination).size() << " bytes";
        if (c.path) {
            ASSERT_LT(before, service.RequestCount());
            const ReceivedRequest sent = service.Requests()[before];
            EXPECT_EQ(c.path, sent.Path() + (sent.Header("Cookie").empty() ? "" : " " + sent.Header("Cookie")));
        }
        DeleteFileA(kDestination);
    }
    SetEvent(release);
    EXPECT_TRUE(service.WaitForClientAborts(2)) << "the cancelled upload and download must be given up";
    CloseHandle(located);
}

// Enter and Yes answer 1, Remind Me Later and Esc 0, with and without a parent; no TARNIXInitialize needed.
TEST(UpdatePromptDialog, AnswersWhetherToUpdateNow) {
    HostWindow host;
    const struct { HWND parent; User answer; BOOL result; } cases[] = {
        {nullptr, [](auto& d) { d.PressKey(VK_RETURN); }, 1}, {host.get(), [](auto& d) { d.Click(IDOK); }, 1},
        {nullptr, [](auto& d) { d.Click(IDCANCEL); }, 0},     {host.get(), [](auto& d) { d.PressKey(VK_ESCAPE); }, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.result, DriveDialog("Velmora Family Tree Updates", c.parent, c.answer,
                                        [&] { return TarnixPromptUpdateVelmoraFamilyTreeDialog(c.parent); }));
}

}  // namespace
