// The online tree browser through tarnix.dll, used as a user would use it, against the local
// service: what the dialog lists, what the user's choices return in the caller's buffers, and the
// message boxes on the way.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

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
using Strings = std::vector<std::string>;

constexpr char kCaption[] = "Family tree test";
constexpr char kTitle[] = "Online Family Trees";
constexpr int kSiteList = 1000, kTreeList = 1007, kName = 1008, kWorldTree = 1009, kTerms = 1010, kAccept = 1011;

HttpAnswer Xml(const std::string& rows) { return HttpAnswer{200, "OK", {}, "<r><ok/>" + rows + "</r>"}; }
HttpAnswer Refusal(const char* hresult) {
    return HttpAnswer{200, "OK", {}, std::string("<r><error><hresult>") + hresult + "</hresult></error></r>"};
}

std::string Site(const std::string& id, const char* name, const char* siteRights, const char* rights) {
    return "<Site><SiteID>" + id + "</SiteID><SiteName>" + name + "</SiteName><SiteRights>" + siteRights +
           "</SiteRights><Rights>" + rights + "</Rights></Site>";
}
std::string Tree(const char* site, const char* siteName, const char* id, const char* name, const char* permission,
                 const char* status) {
    return std::string("<oft><SiteID>") + site + "</SiteID><SiteName>" + siteName + "</SiteName><CollectionID>" + id +
           "</CollectionID><OFTName>" + name + "</OFTName><Permission>" + permission +
           "</Permission><DownloadStatus>" + status + "</DownloadStatus></oft>";
}

// Two sites that the user may work on, and two that the browser must not offer.
const std::string kSites = Site("abc", "Haverfield family", "priv", "Admn") + Site("222", "Public", "PUBL", "ADMN") +
                           Site("333", "Read only", "PRIV", "VIEW") + Site("444", "Cousins in Ohio", "PRIV", "gest");
// The trees carry site names of their own, so that a result shows which table it came from; two
// share a name, so that a result shows whether the tree was picked or found by its name.
const std::string kTrees = Tree("{ABC}", "Haverfield (trees)", "c-1", "Smith Family", "15", "2") +
                           Tree("abc", "Haverfield (trees)", "c-2", "Jones", "7", "0") +
                           Tree("abc", "Haverfield (trees)", "c-5", "Jones", "3", "1") +
                           Tree("", "", "c-0", "Velmora sample", "1", "2") +
                           Tree("{444", "Ohio (trees)", "c-4", "Ohio cousins", "15", "1") +
                           Tree("333", "Read only", "c-3", "Hidden", "1", "0");

constexpr ULONG kBufferSize = 32;
constexpr int kUntouchedFlag = 0x7777;

struct Outcome {
    BOOL result = -1;
    std::array<std::string, 6> buffers;
    int worldTree = kUntouchedFlag;
};

// The dialog once both lists have arrived.
DialogWindow Loaded(const DialogScript& script) {
    const DialogWindow dialog = script.WaitForWindow(kTitle);
    script.WaitUntil([&] { return dialog.Enabled(kSiteList); }, "the lists");
    return dialog;
}

class TreeBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        service.On("op=apilistusersites", Xml(kSites));
        service.On("op=oftlist", Xml(kTrees));
    }
    void TearDown() override {
        DestroyWindow(host);
        TARNIXTerminate();
    }

    // One call of the open or save export with six 32-byte buffers (the tree name's declared
    // smaller when asked) while `script` plays the user.
    Outcome Browse(bool save, HWND parent, const std::function<void(const DialogScript&)>& script,
                   ULONG treeNameSize = kBufferSize) {
        Outcome out;
        for (std::string& buffer : out.buffers) buffer.assign(kBufferSize, '\xCD');
        char* b[6];
        for (int i = 0; i < 6; ++i) b[i] = &out.buffers[i][0];
        DriveDialogs(script, [&] {
            out.result = save ? TarnixSaveOnlineFamilyTreeDialog(parent, kCaption, "tk", "cb", b[0], kBufferSize, b[1],
                                                                 kBufferSize, b[2], kBufferSize, b[3], treeNameSize,
                                                                 b[4], kBufferSize, b[5], kBufferSize, &out.worldTree)
                              : TarnixOpenOnlineFamilyTreeDialog(parent, kCaption, "tk", "cb", b[0], kBufferSize, b[1],
                                                                 kBufferSize, b[2], kBufferSize, b[3], treeNameSize,
                                                                 b[4], kBufferSize, b[5], kBufferSize);
        });
        return out;
    }

    // Each buffer holds its field cut to size - 1 bytes and zeros to its size; bytes past the
    // size are untouched. No fields: nothing was written.
    static void ExpectBuffers(const Outcome& out, const std::vector<std::string>& fields,
                              ULONG treeNameSize = kBufferSize) {
        for (size_t i = 0; i < 6; ++i) {
            const size_t size = i == 3 ? treeNameSize : kBufferSize;
            std::string expected(kBufferSize, '\xCD');
            if (!fields.empty()) expected.replace(0, size, (fields[i] + std::string(size, '\0')).substr(0, size - 1) + '\0');
            EXPECT_EQ(expected, out.buffers[i]) << "buffer " << i;
        }
    }

    TestService service;
    ProxySetting proxy{service.Port()};
    HWND host = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
};

TEST_F(TreeBrowserTest, OffersTheSitesTheUserMayWorkOnWithTheirTrees) {
    const Outcome out = Browse(true, host, [&](const DialogScript& script) {
        const DialogWindow dialog = Loaded(script);
        EXPECT_EQ(host, dialog.Owner());
        EXPECT_EQ((Strings{"<<Velmora>>", "Haverfield family", "Cousins in Ohio"}), dialog.ListBoxItems(kSiteList));
        EXPECT_EQ((Strings{"Name", "Permission", "Download Status"}), dialog.ListViewColumns(kTreeList));
        EXPECT_EQ(Strings{"Velmora sample|1|2"}, dialog.ListViewRows(kTreeList));
        dialog.ChooseListBoxItem(kSiteList, 2);
        EXPECT_EQ(Strings{"Ohio cousins|15|1"}, dialog.ListViewRows(kTreeList));
        dialog.ChooseListBoxItem(kSiteList, 1);
        EXPECT_EQ((Strings{"Smith Family|15|2", "Jones|7|0", "Jones|3|1"}), dialog.ListViewRows(kTreeList));
        EXPECT_FALSE(dialog.Enabled(IDOK));
        // Saving offers the World Tree, ticked, with its terms: nine paragraphs.
        EXPECT_TRUE(dialog.Ticked(kWorldTree));
        EXPECT_TRUE(dialog.Enabled(kAccept));
        const std::string terms = dialog.Text(kTerms);
        size_t paragraphs = 1;
        for (size_t at = terms.find("\r\n\r\n"); at != std::string::npos; at = terms.find("\r\n\r\n", at + 4)) ++paragraphs;
        EXPECT_EQ(9u, paragraphs);
        EXPECT_NE(std::string::npos, terms.find("Velmora World Tree"));
        dialog.SelectListViewItem(kTreeList, 0);
        dialog.Capture("tree-browser");
        dialog.Click(IDCANCEL);
    });
    EXPECT_EQ(0, out.result);
    ExpectBuffers(out, {});
    EXPECT_EQ(kUntouchedFlag, out.worldTree);
    Strings paths;
    for (const auto& request : service.Requests()) paths.push_back(request.Path());
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ((Strings{"/vft/gatekeeper.ashx?op=apilistusersites&att=tk", "/vft/gatekeeper.ashx?op=oftlist&att=tk&cobrand=cb"}),
              paths);
}

TEST_F(TreeBrowserTest, ReturnsWhatTheUserChose) {
    const std::string kTermsMessage =
        "You selected that you would like to submit the tree to the Velmora World Tree\r\nbut did not accept the terms "
        "of the agreement.  Please verify that you have read \r\nthe agreement and checked the acceptance check box.";
    const struct {
        const char* what;
        bool save, parent;
        std::function<void(const DialogScript&, const DialogWindow&)> user;
        BOOL result;
        Strings fields;
        int worldTree;
        ULONG treeNameSize;
    } flows[] = {
        {"open: a tree picked in the list, into a 5-byte name buffer", false, true,
         [](const DialogScript&, const DialogWindow& dialog) {
             EXPECT_FALSE(dialog.Visible(kWorldTree));
             EXPECT_FALSE(dialog.Visible(kAccept));
             dialog.ChooseListBoxItem(kSiteList, 1);
             dialog.SelectListViewItem(kTreeList, 2);
             EXPECT_EQ("Jones", dialog.Text(kName));
             dialog.Click(IDOK);
         },
         1, {"abc", "Haverfield (trees)", "c-5", "Jones", "3", "1"}, kUntouchedFlag, 5},
        {"open: a double click, without a parent window", false, false,
         [](const DialogScript&, const DialogWindow& dialog) {
             dialog.ChooseListBoxItem(kSiteList, 2);
             dialog.DoubleClickListViewItem(kTreeList, 0);
         },
         1, {"444", "Ohio (trees)", "c-4", "Ohio cousins", "15", "1"}, kUntouchedFlag, kBufferSize},
        {"open: a tree of another site is not found; then a name in another case and Enter", false, true,
         [](const DialogScript& script, const DialogWindow& dialog) {
             dialog.Type(kName, "Jones");
             dialog.Click(IDOK);
             script.AnswerMessageBox(kCaption, dialog.Handle(),
                                     "Jones tree not found.\r\nPlease verify the correct tree name was given.",
                                     MB_ICONEXCLAMATION, IDOK);
             dialog.ChooseListBoxItem(kSiteList, 1);
             dialog.Type(kName, " \tsmith FAMILY ");
             dialog.PressKey(VK_RETURN);
         },
         1, {"ABC", "Haverfield (trees)", "c-1", "Smith Family", "15", "2"}, kUntouchedFlag, kBufferSize},
        {"save: a new name, terms accepted, without a parent window", true, false,
         [](const DialogScript&, const DialogWindow& dialog) {
             dialog.ChooseListBoxItem(kSiteList, 2);
             dialog.Type(kName, "  New tree\t");
             dialog.Click(kAccept);
             dialog.Click(IDOK);
         },
         1, {"444", "Cousins in Ohio", "", "New tree", "", ""}, 1, kBufferSize},
        {"save: terms not accepted; then the World Tree unticked", true, true,
         [&](const DialogScript& script, const DialogWindow& dialog) {
             dialog.Type(kName, "Mine");
             dialog.Click(IDOK);
             script.AnswerMessageBox(kCaption, dialog.Handle(), kTermsMessage, MB_ICONEXCLAMATION, IDOK);
             dialog.Click(kAccept);
             dialog.Click(kWorldTree);
             EXPECT_EQ("", dialog.Text(kTerms));
             EXPECT_FALSE(dialog.Ticked(kAccept));
             EXPECT_FALSE(dialog.Enabled(kAccept));
             dialog.Click(IDOK);
         },
         1, {"", "<<Velmora>>", "", "Mine", "", ""}, 0, kBufferSize},
        {"save: an existing name, replacing answered No, then Yes", true, true,
         [](const DialogScript& script, const DialogWindow& dialog) {
             dialog.ChooseListBoxItem(kSiteList, 1);
             dialog.Type(kName, "jones");
             dialog.Click(kAccept);
             for (int answer : {IDNO, IDYES}) {
                 dialog.Click(IDOK);
                 script.AnswerMessageBox(kCaption, dialog.Handle(), "jones already exists.\r\nDo you want to replace it?",
                                         MB_ICONEXCLAMATION, answer, {IDYES, IDNO}, IDNO);
             }
         },
         1, {"abc", "Haverfield (trees)", "c-2", "Jones", "7", "0"}, 1, kBufferSize},
        {"save: a name of spaces leaves OK disabled; Enter does nothing, Esc cancels", true, true,
         [](const DialogScript&, const DialogWindow& dialog) {
             dialog.Type(kName, "   ");
             EXPECT_FALSE(dialog.Enabled(IDOK));
             dialog.PressKey(VK_RETURN);
             dialog.PressKey(VK_ESCAPE);
         },
         0, {}, kUntouchedFlag, kBufferSize},
    };
    for (const auto& flow : flows) {
        SCOPED_TRACE(flow.what);
        HWND parent = flow.parent ? host : nullptr;
        const Outcome out = Browse(
            flow.save, parent,
            [&](const DialogScript& script) {
                const DialogWindow dialog = Loaded(script);
                EXPECT_EQ(parent, dialog.Owner());
                flow.user(script, dialog);
                script.WaitGone(dialog);
            },
            flow.treeNameSize);
        EXPECT_EQ(flow.result, out.result);
        ExpectBuffers(out, flow.fields, flow.treeNameSize);
        EXPECT_EQ(flow.worldTree, out.worldTree);
    }
}

TEST_F(TreeBrowserTest, CancelWhileLoadingGivesUpBothLists) {
    TestService silent;
    ProxySetting silentProxy(silent.Port());
    // Answers held until the dialog is gone, then sent slowly: a client that gave up is seen
    // when its socket refuses the rest (WinINet closes it once its pending read returns).
    HANDLE later = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HttpAnswer held = Xml(std::string(400000, ' '));
    held.hold = later;
    held.holdBeforeHead = true;
    held.pieceSize = 8192;
    held.pieceDelayMs = 10;
    silent.SetDefault(held);
    const Outcome out = Browse(true, host, [&](const DialogScript& script) {
        const DialogWindow dialog = script.WaitForWindow(kTitle);
        EXPECT_TRUE(silent.WaitForRequests(2, 10000));
        EXPECT_EQ(Strings{"Loading.   Please wait..."}, dialog.ListViewRows(kTreeList));
        for (int id : {IDOK, kSiteList, kTreeList, kName, kWorldTree}) EXPECT_FALSE(dialog.Enabled(id)) << id;
        EXPECT_TRUE(dialog.Ticked(kWorldTree));
        dialog.Click(IDCANCEL);
    });
    EXPECT_EQ(0, out.result);
    ExpectBuffers(out, {});
    SetEvent(later);
    EXPECT_TRUE(silent.WaitForClientAborts(20000, 2)) << "both list requests must be given up";
    CloseHandle(later);
}

TEST_F(TreeBrowserTest, FailuresAreShownUnderTheCallersCaption) {
    const std::string kSitesFailed = "An error has occured while listing the sites. The error code is ";
    const std::string kTreesFailed = "An error has occured while listing the online family trees. The error code is ";
    const struct {
        const char* what;
        HttpAnswer sites, trees;
        std::string message;
    } cases[] = {
        {"the site list refused", Refusal("80070005"), Xml(kTrees), kSitesFailed + "80070005"},
        {"the tree list refused", Xml(kSites), Refusal("800704DC"), kTreesFailed + "800704DC"},
        {"a site id too long to read", Xml(Site(std::string(1100, '7'), "Big", "PRIV", "ADMN")), Xml(kTrees),
         kSitesFailed + "80070057"},
        {"the tree list answered 500", Xml(kSites), HttpAnswer{500, "Server Error"}, kTreesFailed + "80004005"},
        {"the library not initialized", Xml(kSites), Xml(kTrees), "An error has occured. The error code is 80004005"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestService failing;
        ProxySetting failingProxy(failing.Port());
        failing.On("op=apilistusersites", c.sites);
        failing.On("op=oftlist", c.trees);
        const bool initialized = c.message.find("listing") != std::string::npos;
        if (!initialized) TARNIXTerminate();
        const Outcome out = Browse(false, host, [&](const DialogScript& script) {
            // Over the dialog while it lists, over the host's window before there is a dialog.
            const HWND owner = initialized ? script.WaitForWindow(kTitle).Handle() : host;
            script.AnswerMessageBox(kCaption, owner, c.message, MB_ICONERROR, IDOK);
        });
        if (!initialized) ASSERT_EQ(S_OK, TARNIXInitialize(0));
        EXPECT_EQ(0, out.result);
        ExpectBuffers(out, {});
    }
}

}  // namespace
