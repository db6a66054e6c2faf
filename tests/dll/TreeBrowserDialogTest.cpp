// The online tree browser through tarnix.dll, used as a user would use it, against the local
// service: what the dialog lists, what the user's choices return in the caller's buffers, and the
// message boxes on the way.
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <vector>

#include "DialogDriver.h"
#include "HostWindow.h"
#include "TestService.h"
#include "tarnix.h"

namespace {

using namespace tarnix::test;
using Strings = std::vector<std::string>;

constexpr char kCaption[] = "Family tree test";
constexpr char kTitle[] = "Online Family Trees";
constexpr char kColumns[] = "Name|Permission|Download Status";
constexpr int kSiteList = 1000, kTreeList = 1007, kName = 1008, kWorldTree = 1009, kTerms = 1010, kAccept = 1011;

HttpAnswer Xml(const std::string& rows) { return HttpAnswer{200, "OK", {}, "<r><ok/>" + rows + "</r>"}; }
HttpAnswer Refusal(const char* hresult) {
    return HttpAnswer{200, "OK", {}, std::string("<r><error><hresult>") + hresult + "</hresult></error></r>"};
}

Strings Split(const std::string& text) {
    Strings parts(1);
    for (char c : text)
        if (c == '|') parts.emplace_back(); else parts.back().push_back(c);
    return parts;
}
// <tag><name>value</name>...</tag>, a row at a time; names and values separated by '|'.
std::string Rows(const std::string& tag, const std::string& names, const Strings& rows) {
    std::string xml;
    for (const std::string& row : rows) {
        xml += "<" + tag + ">";
        const Strings name = Split(names), value = Split(row);
        for (size_t i = 0; i < name.size(); ++i) xml += "<" + name[i] + ">" + value[i] + "</" + name[i] + ">";
        xml += "</" + tag + ">";
    }
    return xml;
}
std::string Sites(const Strings& rows) { return Rows("Site", "SiteID|SiteName|SiteRights|Rights", rows); }

// Two sites that the user may work on, and two that the browser must not offer.
const std::string kSites =
    Sites({"abc|Haverfield family|priv|Admn", "222|Public|PUBL|ADMN", "333|Read only|PRIV|VIEW", "444|Cousins in Ohio|PRIV|gest"});
// The trees carry site names of their own, so that a result shows which table it came from; two
// share a name, so that a result shows whether the tree was picked or found by its name.
const std::string kTrees = Rows("oft", "SiteID|SiteName|CollectionID|OFTName|Permission|DownloadStatus",
                                {"{ABC}|Haverfield (trees)|c-1|Smith Family|15|2", "abc|Haverfield (trees)|c-2|Jones|7|0",
                                 "abc|Haverfield (trees)|c-5|Jones|3|1", "||c-0|Velmora sample|1|2",
                                 "{444|Ohio (trees)|c-4|Ohio cousins|15|1", "333|Read only|c-3|Hidden|1|0"});

constexpr ULONG kBufferSize = 32;
constexpr int kUntouchedFlag = 0x7777;

// What a call of the open or save export must leave: its result, the World Tree flag, and six
// fields ('|' between them), each cut to its buffer's declared size - 1 bytes and zero-filled to
// that size, the rest of its 32 bytes untouched; no fields: nothing written.
struct Expected {
    BOOL result = 0;
    std::string fields;
    int worldTree = kUntouchedFlag;
    ULONG treeNameSize = kBufferSize;
};

class TreeBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        ReachDirectly(service);
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
        service.On("op=apilistusersites", [this](const ReceivedRequest&) { return sites; });
        service.On("op=oftlist", [this](const ReceivedRequest&) { return trees; });
    }
    void TearDown() override { TARNIXTerminate(); }

    // One call of the open or save export while `user` plays the window titled `title`.
    void Browse(bool save, HWND parent, const User& user, const Expected& expected = {}, const char* title = kTitle) {
        std::array<std::string, 6> buffers;
        char* b[6];
        for (int i = 0; i < 6; ++i) b[i] = &buffers[i].assign(kBufferSize, '\xCD')[0];
        const ULONG n = kBufferSize, name = expected.treeNameSize;
        int worldTree = kUntouchedFlag;
        const BOOL result = DriveDialog(title, parent, user, [&] {
            return save ? TarnixSaveOnlineFamilyTreeDialog(parent, kCaption, "tk", "cb", b[0], n, b[1], n, b[2], n, b[3],
                                                           name, b[4], n, b[5], n, &worldTree)
                        : TarnixOpenOnlineFamilyTreeDialog(parent, kCaption, "tk", "cb", b[0], n, b[1], n, b[2], n, b[3],
                                                           name, b[4], n, b[5], n);
        });
        EXPECT_EQ(expected.result, result);
        EXPECT_EQ(expected.worldTree, worldTree);
        for (size_t i = 0; i < 6; ++i) {
            const size_t size = i == 3 ? name : n;
            std::string bytes(n, '\xCD');
            if (!expected.fields.empty())
                bytes.replace(0, size, (Split(expected.fields)[i] + std::string(size, '\0')).substr(0, size - 1) + '\0');
            EXPECT_EQ(bytes, buffers[i]) << "buffer " << i;
        }
    }

    TestService service;
    HttpAnswer sites = Xml(kSites), trees = Xml(kTrees);
    HostWindow host;
};

TEST_F(TreeBrowserTest, OffersTheSitesTheUserMayWorkOnAndReturnsWhatTheUserChose) {
    const std::string kTermsMessage =
        "You selected that you would like to submit the tree to the Velmora World Tree\r\nbut did not accept the terms "
        "of the agreement.  Please verify that you have read \r\nthe agreement and checked the acceptance check box.";
    // A call ends once: Cancel by its button is the cancelling test's; a tree found by its name,
    // the replacing one's.
    const struct {
        const char* what;
        bool save, parent;
        User user;
        Expected expected;
    } flows[] = {
        {"save: the sites and trees offered, the World Tree ticked with its terms; a name of spaces leaves OK "
         "disabled, Enter does nothing, Esc cancels", true, true, [](auto&, auto& d) {
             EXPECT_EQ((Strings{"<<Velmora>>", "Haverfield family", "Cousins in Ohio"}), d.ListBoxItems(kSiteList));
             EXPECT_EQ((Strings{kColumns, "Velmora sample|1|2"}), d.ListViewRows(kTreeList));
             d.ChooseListBoxItem(kSiteList, 2);
             EXPECT_EQ((Strings{kColumns, "Ohio cousins|15|1"}), d.ListViewRows(kTreeList));
             d.ChooseListBoxItem(kSiteList, 1);
             EXPECT_EQ((Strings{kColumns, "Smith Family|15|2", "Jones|7|0", "Jones|3|1"}), d.ListViewRows(kTreeList));
             EXPECT_FALSE(d.Enabled(IDOK));
             EXPECT_TRUE(d.Ticked(kWorldTree));
             EXPECT_TRUE(d.Enabled(kAccept));
             const std::string terms = d.Text(kTerms);  // nine paragraphs
             size_t paragraphs = 1;
             for (size_t at = 0; (at = terms.find("\r\n\r\n", at)) != std::string::npos; at += 4) ++paragraphs;
             EXPECT_EQ(9u, paragraphs);
             EXPECT_NE(std::string::npos, terms.find("Velmora World Tree"));
             d.SelectListViewItem(kTreeList, 0);
             d.Capture("tree-browser");
             d.Type(kName, "   ");
             EXPECT_FALSE(d.Enabled(IDOK));
             d.PressKey(VK_RETURN);
             d.PressKey(VK_ESCAPE);
         }, {}},
        {"open: a tree of another site, confirmed with Enter, is not found; then, of two trees of one name, the one picked and "
         "double-clicked, into a 5-byte name buffer", false, true, [](auto& script, auto& d) {
             EXPECT_FALSE(d.Visible(kWorldTree));
             EXPECT_FALSE(d.Visible(kAccept));
             d.Type(kName, "Smith Family");
             d.PressKey(VK_RETURN);  // Enter confirms as OK does
             script.AnswerMessageBox(kCaption, d.Handle(),
                                     "Smith Family tree not found.\r\nPlease verify the correct tree name was given.",
                                     MB_ICONEXCLAMATION, IDOK);
             d.ChooseListBoxItem(kSiteList, 1);
             d.SelectListViewItem(kTreeList, 2);
             EXPECT_EQ("Jones", d.Text(kName));
             d.SelectListViewItem(kTreeList, 2, true);
         }, {1, "abc|Haverfield (trees)|c-5|Jones|3|1", kUntouchedFlag, 5}},
        {"save without a parent: a new name, terms not accepted; then the World Tree unticked", true, false,
         [&](auto& script, auto& d) {
             d.ChooseListBoxItem(kSiteList, 2);
             d.Type(kName, "  New tree\t");
             d.Click(IDOK);
             script.AnswerMessageBox(kCaption, d.Handle(), kTermsMessage, MB_ICONEXCLAMATION, IDOK);
             d.Click(kAccept);
             d.Click(kWorldTree);
             EXPECT_EQ("", d.Text(kTerms));
             EXPECT_FALSE(d.Ticked(kAccept));
             EXPECT_FALSE(d.Enabled(kAccept));
             d.Click(IDOK);
         }, {1, "444|Cousins in Ohio||New tree||", 0}},
        {"save: an existing name, terms accepted, replacing answered No, then Yes", true, true, [](auto& script, auto& d) {
             d.ChooseListBoxItem(kSiteList, 1);
             d.Type(kName, "jones");
             d.Click(kAccept);
             for (int answer : {IDNO, IDYES}) {
                 d.Click(IDOK);
                 script.AnswerMessageBox(kCaption, d.Handle(), "jones already exists.\r\nDo you want to replace it?",
                                         MB_ICONEXCLAMATION, answer, {IDYES, IDNO}, IDNO);
             }
         }, {1, "abc|Haverfield (trees)|c-2|Jones|7|0", 1}},
        // The question and a Tab move the focus, which the name box reports: the tree the user
        // confirmed stays the one returned.
        {"save: an existing name in another case, Enter in the name box, replacing answered Yes", true, true,
         [](auto& script, auto& d) {
             d.ChooseListBoxItem(kSiteList, 1);
             d.Click(kAccept);
             d.Type(kName, "smith family");
             d.PressKey(VK_RETURN);
             script.AnswerMessageBox(kCaption, d.Handle(), "smith family already exists.\r\nDo you want to replace it?",
                                     MB_ICONEXCLAMATION, IDYES, {IDYES, IDNO}, IDNO);
         }, {1, "ABC|Haverfield (trees)|c-1|Smith Family|15|2", 1}},
        {"save: the second of two trees of one name picked, Tab into the name box, OK, Yes", true, true,
         [](auto& script, auto& d) {
             d.ChooseListBoxItem(kSiteList, 1);
             d.Click(kAccept);
             d.SelectListViewItem(kTreeList, 2);
             d.PressKey(VK_TAB);
             script.WaitUntil([&] { return d.Focused(kName); }, "the name box's focus");
             d.Click(IDOK);
             script.AnswerMessageBox(kCaption, d.Handle(), "Jones already exists.\r\nDo you want to replace it?",
                                     MB_ICONEXCLAMATION, IDYES, {IDYES, IDNO}, IDNO);
         }, {1, "abc|Haverfield (trees)|c-5|Jones|3|1", 1}},
        {"open: the same pick, Tab, then Enter", false, true, [](auto&, auto& d) {
             d.ChooseListBoxItem(kSiteList, 1);
             d.SelectListViewItem(kTreeList, 2);
             d.PressKey(VK_TAB);
             d.PressKey(VK_RETURN);
         }, {1, "abc|Haverfield (trees)|c-5|Jones|3|1"}},
    };
    for (const auto& flow : flows) {
        SCOPED_TRACE(flow.what);
        Browse(flow.save, flow.parent ? host.get() : nullptr, [&](auto& script, auto& dialog) {
            script.WaitUntil([&] { return dialog.Enabled(kSiteList); }, "the lists");
            flow.user(script, dialog);
        }, flow.expected);
    }
    // Every request is one of the two lists, with the ticket and the cobrand.
    const std::set<std::string> paths{"/vft/gatekeeper.ashx?op=apilistusersites&att=tk",
                                      "/vft/gatekeeper.ashx?op=oftlist&att=tk&cobrand=cb"};
    for (const auto& request : service.Requests()) EXPECT_EQ(1u, paths.count(request.Path())) << request.Path();
}

TEST_F(TreeBrowserTest, CancelWhileLoadingGivesUpBothLists) {
    // Answers held until the dialog is gone, then sent slowly: a client that gave up is seen
    // when its socket refuses the rest (WinINet closes it once its pending read returns).
    HANDLE later = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    sites = Xml(std::string(400000, ' '));
    sites.steps = {Hold(later), Trickle(8192, 10)};
    trees = sites;
    Browse(true, host.get(), [&](auto&, auto& dialog) {
        EXPECT_TRUE(service.WaitForRequests(2, 10000));
        EXPECT_EQ((Strings{"", "Loading.   Please wait..."}), dialog.ListViewRows(kTreeList));  // one untitled column
        for (int id : {IDOK, kSiteList, kTreeList, kName, kWorldTree}) EXPECT_FALSE(dialog.Enabled(id)) << id;
        dialog.Click(IDCANCEL);
    });
    SetEvent(later);
    EXPECT_TRUE(service.WaitForClientAborts(2, 20000)) << "both list requests must be given up";
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
        {"a site id too long to read", Xml(Sites({std::string(1100, '7') + "|Big|PRIV|ADMN"})), Xml(kTrees),
         kSitesFailed + "80070057"},
        {"the tree list answered 500", Xml(kSites), HttpAnswer{500, "Server Error"}, kTreesFailed + "80004005"},
        {"the library not initialized", Xml(kSites), Xml(kTrees), "An error has occured. The error code is 80004005"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sites = c.sites;
        trees = c.trees;
        const bool initialized = c.message.find("listing") != std::string::npos;
        if (!initialized) TARNIXTerminate();
        // Over the dialog while it lists; not initialized, over the host's window, with no dialog.
        Browse(false, host.get(), [&](auto& script, auto& shown) {
            script.AnswerMessageBox(kCaption, initialized ? shown.Handle() : host.get(), c.message, MB_ICONERROR, IDOK);
        }, {}, initialized ? kTitle : kCaption);
        if (!initialized) ASSERT_EQ(S_OK, TARNIXInitialize(0));
    }
}

}  // namespace
