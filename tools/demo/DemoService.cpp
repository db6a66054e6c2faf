// A stand-in for the online service, for the demonstration: it answers sign-in, site list and
// online tree list with a small fixed family of accounts, the search counts and the version
// check with fixed answers, and logs every request it receives.
// It prints "port N" once listening; the host reaches it through WinINet's proxy setting.
#include <windows.h>

#include <cstdio>
#include <string>

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
                             "<Permission>1</Permission><DownloadStatus>2</DownloadStatus></oft>"
                             "</trees></answer>"));
    });

    // Search counts and the version check.
    service.On("op=treesearchcount", [](const ReceivedRequest& r) {
        return Logged(r, HttpAnswer{200, "OK", {{"Content-Type", "text/plain"}}, "4,1,15"});
    });
    service.On("op=datasearchcount", [](const ReceivedRequest& r) {
        return Logged(r, HttpAnswer{200, "OK", {{"Content-Type", "text/plain"}}, "2,1,9"});
    });
    service.On("op=versioncompare", [](const ReceivedRequest& r) {
        return Logged(r, Xml("<answer><ok/><xapi><exe>7.3.0</exe><webctl>3.1.0</webctl>"
                             "<tarnix>1.0.0</tarnix></xapi></answer>"));
    });

    std::printf("port %u\n", static_cast<unsigned>(service.Port()));
    std::fflush(stdout);
    // Serve until the demonstration stops the Wine session (bounded, in case it never does).
    Sleep(10 * 60 * 1000);
    return 0;
}
