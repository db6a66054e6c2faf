// Search counts, the version check and the silent update check.
#include <cstdio>

#include "Cli.h"

namespace cli {

namespace {

using SearchExport = decltype(&TarnixSearchTree);

int Count(const Args& args, SearchExport start, const char* what) {
    const std::string surname = args.Option("surname"), given = args.Option("given"),
                      birthPlace = args.Option("birth-place"), deathPlace = args.Option("death-place"),
                      father = args.Option("father"), mother = args.Option("mother"), spouse = args.Option("spouse"),
                      cobrand = args.Option("cobrand");
    Initialized initialized;
    Held<ISearchCountRequest> request;
    Check(start(surname.c_str(), given.c_str(), birthPlace.c_str(), args.Number("birth-year", 0), deathPlace.c_str(),
                args.Number("death-year", 0), father.c_str(), mother.c_str(), spouse.c_str(), cobrand.c_str(),
                &request),
          std::string("starting the ") + what);
    Wait(reinterpret_cast<IRequest*>(request.p), std::string("counting ") + what);
    LONG first = 0, second = 0, last = 0;
    Check(request->GetFirstValue(&first), "reading the count");
    Check(request->GetSecondValue(&second), "reading the count");
    Check(request->GetLastValue(&last), "reading the count");
    std::printf("first %ld, second (as the library gives it: + 1) %ld, last %ld\n", static_cast<long>(first),
                static_cast<long>(second), static_cast<long>(last));
    return 0;
}

int SearchTrees(const Args& args) { return Count(args, TARNIX(TarnixSearchTree), "online tree search"); }
int SearchData(const Args& args) { return Count(args, TARNIX(TarnixSearchData), "record search"); }

int Version(const Args& args) {
    const std::string exe = args.At(0, "the application's version"), webctl = args.At(1, "the web control's version"),
                      library = args.At(2, "the library's version"), cobrand = args.Option("cobrand");
    Initialized initialized;
    Held<IQueryRequest> request;
    Check(TARNIX(TarnixCheckVelmoraFamilyTreeVersion)(exe.c_str(), webctl.c_str(), library.c_str(), cobrand.c_str(),
                                                       &request),
          "starting the version check");
    Wait(request.p, "checking the versions");
    PrintRows(request.p, {"EXE", "WEBCTL", "TARNIX"});
    return 0;
}

// The flag the silent check writes, or -1 when there is none.
long ReadUpdateFlag(const std::string& key) {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), "UpdateAvailable", RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return -1;
    return static_cast<long>(value);
}

int UpdateCheck(const Args& args) {
    const std::string company = args.Option("company", "Tarnix Demo"), product = args.Option("product", "Family Tree");
    const std::string exe = args.At(0, "the application's version"), webctl = args.At(1, "the web control's version"),
                      library = args.At(2, "the library's version"), cobrand = args.Option("cobrand");
    const std::string key = "software\\" + company + "\\" + product + "\\VFTUpdates";
    RegDeleteKeyValueA(HKEY_CURRENT_USER, key.c_str(), "UpdateAvailable");

    // A window of the host's, with a message loop, as the silent check needs.
    HWND window = CreateWindowExA(0, "STATIC", "tarnix update check", 0, 0, 0, 0, 0, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (!window) throw Failure{kFailed, "cannot make a window for the check's timer"};
    Initialized initialized;
    const UINT timer = TARNIX(TarnixUpdateVelmoraFamilyTreeSilentCheck)(window, company.c_str(), product.c_str(),
                                                                        exe.c_str(), webctl.c_str(), library.c_str(),
                                                                        cobrand.c_str());
    if (timer == 0) throw Failure{kFailed, "the silent check did not start"};
    std::fprintf(stderr, "checking in the background (the library looks every 5 s, for a minute at most)...\n");
    long flag = -1;
    for (const ULONGLONG start = GetTickCount64(); flag < 0 && GetTickCount64() - start < 65000;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        flag = ReadUpdateFlag(key);
        Sleep(50);
    }
    DestroyWindow(window);
    if (flag < 0) throw Failure{kFailed, "no answer: the check gave up or failed, and wrote nothing"};
    std::printf("HKCU\\%s UpdateAvailable = %ld (%s)\n", key.c_str(), flag,
                flag ? "a newer version is available" : "up to date");
    return 0;
}

}  // namespace

std::vector<Command> SearchCommands() {
    return {
        {"search-trees", "[search fields]", "Count the matches of a search in the online trees.",
         "The service answers three numbers; the library hands the second one out plus one.\n" CLI_SEARCH_FIELDS, {},
         SearchTrees},
        {"search-data", "[search fields]", "Count the matches of a search in the service's records.",
         CLI_SEARCH_FIELDS, {}, SearchData},
        {"version", "EXE WEBCTL TARNIX [--cobrand C]",
         "Send the installed versions and print the service's current ones.", "", {}, Version},
        {"update-check", "EXE WEBCTL TARNIX [--company C --product P] [--cobrand C]",
         "Run the silent update check on a window of this program and print the flag it writes.",
         "The flag is HKCU\\software\\<company>\\<product>\\VFTUpdates UpdateAvailable: 1 when the service\n"
         "has a newer version of any of the three components.",
         {}, UpdateCheck},
    };
}

}  // namespace cli
