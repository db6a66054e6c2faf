// Sign-in (apilogin) and the user's sites (apilistusersites).
#include "operations/GatekeeperQuery.h"
#include "operations/UrlEncode.h"
#include "support/Text.h"

namespace tarnix {

class CLoginRequest : public CGatekeeperQuery {
protected:
    // Row 0 "att": the ticket, the text of the answer's first ATT element (empty without one).
    void Process() override {
        ComPtr<IXMLDOMNode> answer = FetchCheckedAnswer();
        SetValue(0, "att", ReadChildText(answer.get(), "//ATT"));
        SetFinished();
    }
};

class CListUserSitesRequest : public CGatekeeperQuery {
protected:
    void Process() override {
        StoreRows(FetchCheckedAnswer().get(), "//Site", {"SiteID", "SiteName", "SiteRights", "Rights"});
        SetFinished();
    }
};

}  // namespace tarnix

using namespace tarnix;

extern "C" HRESULT TARNIX_STDCALL TarnixLogin(const char* userName, const char* password, IQueryRequest** request) {
    return GuardHr([&] {
        // Both values are escaped so that any byte keeps the query's two parameters apart.
        std::string encodedPassword = URLEncode(TextOrEmpty(password));
        std::string encodedUser = URLEncode(TextOrEmpty(userName));
        return StartQueryRequest<CLoginRequest>(
            Format("%s?op=apilogin&username=%s&password=%s", kGatekeeperPath, encodedUser.c_str(),
                   encodedPassword.c_str()),
            request);
    });
}

extern "C" HRESULT TARNIX_STDCALL TarnixListUserSites(const char* ticket, IQueryRequest** request) {
    return GuardHr([&] {
        // The ticket goes back exactly as the sign-in gave it.
        return StartQueryRequest<CListUserSitesRequest>(
            Format("%s?op=apilistusersites&att=%s", kGatekeeperPath, WireText(ticket).c_str()), request);
    });
}
