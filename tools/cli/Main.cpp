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
        "Drives tarnix.dll as a genealogy application does. Requests go to the library's service\n"
        "host, or to TARNIX_SERVICE=host:port when that is set (a local service). Commands that\n"
        "need a sign-in ticket take --ticket or TARNIX_TICKET; the ticket is never stored.\n\n"
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
    std::string dll = ExeDirectory() + "tarnix.dll";
    if (words.size() >= 2 && words[0] == "--dll") {
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
