// A stand-in for the online service, for the demonstration: it answers sign-in, site list and
// online tree list with a small fixed family of accounts, takes uploads of new and replaced trees
// (created trees join the list) and export orders, and logs every request it receives.
// It prints "port N" once listening; the host reaches it through WinINet's proxy setting.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "TestService.h"

using tarnix::test::HttpAnswer;
using tarnix::test::ReceivedRequest;

namespace {

HttpAnswer Xml(const std::string& body) {
    return HttpAnswer{200, "OK", {{"Content-Type", "text/xml"}}, "<?xml version=\"1.0\"?>\n" + body};
}

HttpAnswer Logged(const ReceivedRequest& request, HttpAnswer answer) {
    std::fprintf(stderr, "service: %s -> %d\n", request.requestLine.c_str(), answer.status);
    return answer;
}

bool HasQueryValue(const ReceivedRequest& request, const std::string& pair) {
    std::string path = request.Path();
    return path.find("&" + pair + "&") != std::string::npos || path.size() >= pair.size() + 1 &&
           path.compare(path.size() - pair.size() - 1, std::string::npos, "&" + pair) == 0;
}

// ---- Online tree changes ----

struct CreatedTree {
    std::string siteId, name, collectionId;
};
std::mutex g_createdLock;
std::vector<CreatedTree> g_created;

// The value of `key` in the request's query, with its %XX escapes undone; "" when absent.
std::string QueryValue(const ReceivedRequest& request, const std::string& key) {
    const std::string path = request.Path();
    size_t at = path.find("&" + key + "=");
    if (at == std::string::npos) at = path.find("?" + key + "=");
    if (at == std::string::npos) return "";
    std::string value;
    for (size_t i = at + key.size() + 2; i < path.size() && path[i] != '&'; ++i) {
        if (path[i] == '%' && i + 2 < path.size()) {
            value += static_cast<char>(std::strtol(path.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            value += path[i];
        }
    }
    return value;
}

std::string XmlText(const std::string& text) {
    std::string escaped;
    for (char c : text) escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return escaped;
}

std::string CreatedTreeRows() {
    std::lock_guard<std::mutex> lock(g_createdLock);
    std::string rows;
    for (const CreatedTree& tree : g_created)
        rows += "<oft><SiteID>" + tree.siteId + "</SiteID><SiteName>The Haverfield family</SiteName><CollectionID>" +
                tree.collectionId + "</CollectionID><OFTName>" + XmlText(tree.name) +
                "</OFTName><Permission>15</Permission><DownloadStatus>0</DownloadStatus></oft>";
    return rows;
}

bool KnownTree(const std::string& collectionId) {
    if (collectionId == "77001" || collectionId == "77002") return true;
    std::lock_guard<std::mutex> lock(g_createdLock);
    for (const CreatedTree& tree : g_created)
        if (tree.collectionId == collectionId) return true;
    return false;
}

// A multipart upload of a GEDCOM file in part f1, with the ticket in the cookie.
bool IsUpload(const ReceivedRequest& request, const char* ticket) {
    const std::string boundary = "----------------------------839J39AIFUE93CK";
    return request.method == "POST" && request.Header("Cookie") == std::string("ATT=") + ticket + ";" &&
           request.Header("Content-Type") == "multipart/form-data; boundary=" + boundary &&
           request.body.compare(0, boundary.size() + 2, "--" + boundary) == 0 &&
           request.body.find("name=\"f1\"") != std::string::npos &&
           request.body.find("\r\n\r\n0 HEAD") != std::string::npos;
}

HttpAnswer Error(const char* hresult) {
    return Xml(std::string("<answer><error><hresult>") + hresult + "</hresult></error></answer>");
}

void ServeTreeChanges(tarnix::test::TestService& service, const char* ticket) {
    service.On("op=oftcreate", [ticket](const ReceivedRequest& r) {
        if (!IsUpload(r, ticket)) return Logged(r, Error("80070057"));
        std::lock_guard<std::mutex> lock(g_createdLock);
        g_created.push_back({QueryValue(r, "siteid"), QueryValue(r, "oftname"), std::to_string(78001 + g_created.size())});
        std::fprintf(stderr, "service: created %s (%zu body bytes)\n", g_created.back().collectionId.c_str(), r.body.size());
        return Logged(r, Xml("<answer><ok/></answer>"));
    });
    service.On("op=oftreplace", [ticket](const ReceivedRequest& r) {
        if (!IsUpload(r, ticket)) return Logged(r, Error("80070057"));
        if (!KnownTree(QueryValue(r, "collectionid"))) return Logged(r, Error("80070490"));
        std::fprintf(stderr, "service: replaced with %zu body bytes\n", r.body.size());
        return Logged(r, Xml("<answer><ok/></answer>"));
    });
    service.On("op=oftexport", [ticket](const ReceivedRequest& r) {
        if (QueryValue(r, "att") != ticket) return Logged(r, Error("800704DC"));
        if (!KnownTree(QueryValue(r, "collectionid"))) return Logged(r, Error("80070490"));
        return Logged(r, Xml("<answer><ok/></answer>"));
    });
}

}  // namespace

int main() {
    tarnix::test::TestService service;
    const char* ticket = "demo-ticket-5f3a";

    service.On("op=apilogin", [](const ReceivedRequest& r) {
        // An empty password is refused as the service does: with its own HRESULT.
        if (HasQueryValue(r, "password="))
            return Logged(r, Xml("<answer><error><hresult>80070005</hresult></error></answer>"));
        return Logged(r, Xml("<answer><ok/><user><ATT>demo-ticket-5f3a</ATT></user></answer>"));
    });
    service.On("op=apilistusersites", [ticket](const ReceivedRequest& r) {
        if (!HasQueryValue(r, std::string("att=") + ticket))
            return Logged(r, Xml("<answer><error><hresult>8004000A</hresult></error></answer>"));
        return Logged(r, Xml("<answer><ok/><sites>"
                             "<Site><SiteID>4101</SiteID><SiteName>The Haverfield family</SiteName>"
                             "<SiteRights>admin</SiteRights><Rights>15</Rights></Site>"
                             "<Site><SiteID>4102</SiteID><SiteName>Cousins in Ohio</SiteName>"
                             "<Rights>1</Rights></Site></sites></answer>"));
    });
    service.On("op=oftlist", [](const ReceivedRequest& r) {
        return Logged(r, Xml("<answer><ok/><trees>"
                             "<oft><SiteID>4101</SiteID><SiteName>The Haverfield family</SiteName>"
                             "<CollectionID>77001</CollectionID><OFTName>Haverfield 1790-1950</OFTName>"
                             "<Permission>3</Permission><DownloadStatus>0</DownloadStatus></oft>"
                             "<oft><SiteID>4102</SiteID><SiteName>Cousins in Ohio</SiteName>"
                             "<CollectionID>77002</CollectionID><OFTName>Ohio branch</OFTName>"
                             "<Permission>1</Permission><DownloadStatus>2</DownloadStatus></oft>" +
                             CreatedTreeRows() + "</trees></answer>"));
    });

    ServeTreeChanges(service, ticket);

    std::printf("port %u\n", static_cast<unsigned>(service.Port()));
    std::fflush(stdout);
    // Serve until the demonstration stops the Wine session (bounded, in case it never does).
    Sleep(10 * 60 * 1000);
    return 0;
}
