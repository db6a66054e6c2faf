// tarnix: a command-line host of tarnix.dll. One command per operation of the library; run
// "tarnix --help" for the list and "tarnix COMMAND --help" for one command.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Cli.h"

namespace cli {

namespace {

std::vector<Command> AllCommands() {
    std::vector<Command> all;
    for (auto group : {&AccountCommands, &TransferCommands, &SearchCommands, &DialogCommands})
        for (Command& command : group()) all.push_back(std::move(command));
    return all;
}

void PrintOverview(const std::vector<Command>& commands) {
    std::printf(
        "usage: tarnix [--dll PATH] COMMAND [ARGUMENTS] [--help]\n\n"
        "Drives tarnix.dll as a genealogy application does; it loads the tarnix.dll beside it, or\n"
        "PATH. Requests go to the library's service host, or to a local service. Exit codes: 0\n"
        "done, 1 a failure (said in words), 2 bad usage.\n\n"
        "environment (what a sign-in needs across commands; nothing else is read from it):\n"
        "  TARNIX_TICKET    the sign-in ticket, where --ticket is not given (never stored)\n"
        "  TARNIX_PASSWORD  the password for login, where neither argument nor --password is given\n"
        "  TARNIX_SERVICE   host:port of a local service, read by the library itself\n"
        "  TARNIX_DLL       the library to load, where --dll is not given\n\n"
        "commands:\n");
    for (const Command& command : commands) std::printf("  %-20s %s\n", command.name, command.summary);
}

void PrintHelp(const Command& command) {
    std::printf("usage: tarnix %s %s\n\n%s\n", command.name, command.usage, command.summary);
    if (command.details && *command.details) std::printf("\n%s\n", command.details);
}

std::string ExeDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, length);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

}  // namespace

}  // namespace cli

int main(int argc, char** argv) {
    using namespace cli;
    std::vector<std::string> words(argv + 1, argv + argc);
    std::string dll = Environment(kDllVariable);
    if (dll.empty()) dll = ExeDirectory() + "tarnix.dll";
    if (!words.empty() && words[0] == "--dll") {
        if (words.size() < 2) {
            std::fprintf(stderr, "tarnix: --dll needs a path\n");
            return kUsage;
        }
        dll = words[1];
        words.erase(words.begin(), words.begin() + 2);
    }
    const std::vector<Command> commands = AllCommands();
    if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        PrintOverview(commands);
        return words.empty() ? kUsage : 0;
    }
    const Command* command = nullptr;
    for (const Command& candidate : commands)
        if (words[0] == candidate.name) command = &candidate;
    if (!command) {
        std::fprintf(stderr, "tarnix: unknown command '%s' (tarnix --help lists them)\n", words[0].c_str());
        return kUsage;
    }
    words.erase(words.begin());
    for (const std::string& word : words) {
        if (word == "--help" || word == "-h") {
            PrintHelp(*command);
            return 0;
        }
    }
    try {
        Args args(words, command->switches);
        Library::Get().Load(dll);
        return command->run(args);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "tarnix %s: %s\n", command->name, failure.message.c_str());
        if (failure.exitCode == kUsage) std::fprintf(stderr, "usage: tarnix %s %s\n", command->name, command->usage);
        return failure.exitCode;
    }
}
