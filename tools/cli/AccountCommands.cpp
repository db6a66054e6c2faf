// Connectivity, sign-in, sites and trees, browser addresses and URL encoding.
#include <conio.h>

#include <cstdio>

#include "Cli.h"

namespace cli {

namespace {

// The password: --password, TARNIX_PASSWORD, or typed at the console without echo.
std::string Password(const Args& args) {
    if (args.Positional().size() > 1) return args.Positional()[1];
    std::string password = args.Option("password", Environment(kPasswordVariable).c_str());
    if (!password.empty()) return password;
    std::fprintf(stderr, "password: ");
    for (int c; (c = _getch()) != '\r' && c != '\n' && c != EOF;) {
        if (c == '\b') {
            if (!password.empty()) password.pop_back();
        } else {
            password += static_cast<char>(c);
        }
    }
    std::fprintf(stderr, "\n");
    return password;
}

int Connect(const Args&) {
    const BOOL online = TARNIX(TarnixGetConnectedState)();
    std::printf("connected: %s\n", online ? "yes" : "no");
    std::printf("may dial a modem: %s\n", TARNIX(TarnixCanConnect)() ? "yes" : "no");
    return online ? 0 : kFailed;
}

int Login(const Args& args) {
    const std::string user = args.At(0, "the user name");
    const std::string password = Password(args);
    Initialized initialized;
    Held<IQueryRequest> request;
    Check(TARNIX(TarnixLogin)(user.c_str(), password.c_str(), &request), "starting the sign-in");
    Wait(request.p, "signing in");
    const std::string ticket = Value(request.p, 0, "att");
    if (ticket.empty()) throw Failure{kFailed, "the service answered without a ticket"};
    std::printf("%s\n", ticket.c_str());
    return 0;
}

int Sites(const Args& args) {
    const std::string ticket = args.Ticket();
    Initialized initialized;
    Held<IQueryRequest> request;
    Check(TARNIX(TarnixListUserSites)(ticket.c_str(), &request), "starting the site list");
    Wait(request.p, "listing the sites");
    PrintRows(request.p, {"SiteID", "SiteName", "SiteRights", "Rights"});
    return 0;
}

int Trees(const Args& args) {
    const std::string ticket = args.Ticket(), cobrand = args.Option("cobrand");
    Initialized initialized;
    Held<IQueryRequest> request;
    Check(TARNIX(TarnixListOnlineFamilyTrees)(ticket.c_str(), cobrand.c_str(), &request), "starting the tree list");
    Wait(request.p, "listing the online trees");
    PrintRows(request.p, {"SiteID", "SiteName", "CollectionID", "OFTName", "Permission", "DownloadStatus"});
    return 0;
}

int Address(const Args& args) {
    const std::string page = args.At(0, "the page (login, signup, search-data, search-trees, search-boards)");
    const std::string cobrand = args.Option("cobrand");
    char address[4096] = {};
    if (page == "login" || page == "signup") {
        auto build = page == "login" ? TARNIX(TarnixGetLoginURL) : TARNIX(TarnixGetSignUpURL);
        Check(build(address, sizeof address, cobrand.c_str()), "composing the address");
    } else {
        decltype(&TarnixSearchDataURL) build = nullptr;
        if (page == "search-data") build = TARNIX(TarnixSearchDataURL);
        if (page == "search-trees") build = TARNIX(TarnixSearchTreeURL);
        if (page == "search-boards") build = TARNIX(TarnixSearchBoardsURL);
        if (!build) throw Failure{kUsage, "unknown page " + page};
        const std::string surname = args.Option("surname"), given = args.Option("given"),
                          birthPlace = args.Option("birth-place"), deathPlace = args.Option("death-place"),
                          father = args.Option("father"), mother = args.Option("mother"),
                          spouse = args.Option("spouse");
        Check(build(surname.c_str(), given.c_str(), birthPlace.c_str(), args.Number("birth-year", 0), deathPlace.c_str(),
                    args.Number("death-year", 0), father.c_str(), mother.c_str(), spouse.c_str(), cobrand.c_str(),
                    args.Number("method", 1), address, sizeof address),
              "composing the address");
    }
    std::printf("%s\n", address);
    return 0;
}

int Encode(const Args& args) {
    const std::string text = args.At(0, "the text");
    std::string encoded(text.size() * 3 + 1, '\0');
    Check(TARNIX(TarnixURLEncode)(text.c_str(), &encoded[0], static_cast<ULONG>(encoded.size())), "encoding");
    std::printf("%s\n", encoded.c_str());
    return 0;
}

}  // namespace

std::vector<Command> AccountCommands() {
    return {
        {"connect", "", "Tell whether the machine is online and whether it may dial a modem.", "", {}, Connect},
        {"login", "USER [PASSWORD]", "Sign in and print the ticket that later commands take.",
         "The password comes from the argument, --password, TARNIX_PASSWORD, or is typed without\n"
         "echo. The ticket is printed only: pass it on with --ticket or TARNIX_TICKET.",
         {}, Login},
        {"sites", "--ticket T", "List the signed-in user's sites.", "", {}, Sites},
        {"trees", "--ticket T [--cobrand C]", "List the user's online family trees.", "", {}, Trees},
        {"address", "PAGE [search fields] [--method N]",
         "Print the address of a service page for the web browser.",
         "PAGE is login, signup, search-data, search-trees or search-boards.\n"
         "Search pages take the search fields and --method N (the address carries N - 1):\n" CLI_SEARCH_FIELDS,
         {}, Address},
        {"encode", "TEXT", "Print TEXT escaped for a query value, as the library escapes it.", "", {}, Encode},
    };
}

}  // namespace cli
