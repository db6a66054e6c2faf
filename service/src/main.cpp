// tarnix-service: a local stand-in for the online tree service.
//   tarnix-service --data DIR [--port P] [--seed FILE] [options]
// Prints "listening on 127.0.0.1:PORT" as its first line once it accepts connections, logs one
// line per request to standard error, and stops on SIGINT or SIGTERM.
#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "Service.h"

namespace {

const char* const kUsage =
    "usage: tarnix-service --data DIR [options]\n"
    "  --port P                 port on 127.0.0.1; 0 (the default) picks a free one\n"
    "  --data DIR               database, stored trees and served files (DIR/files)\n"
    "  --seed FILE              create the demo user (demo / demo-pass) with two sites and a\n"
    "                           public tree from this GEDCOM file, unless it exists\n"
    "  --records DIR            GEDCOM record sets for datasearchcount (default DIR/records)\n"
    "  --user-file FILE         create users (a site of his own each) or set their passwords,\n"
    "                           from lines NAME:PASSWORD; only its owner may read FILE\n"
    "  --user NAME:PASSWORD     the same for one user; other local users can read the command\n"
    "                           line, so prefer --user-file\n"
    "  --host-name NAME         a name of this service that addresses in answers may carry,\n"
    "                           besides 127.0.0.1, localhost and trees.tarnix.example\n"
    "  --ticket-lifetime SECS   sign-in ticket lifetime (default 28800)\n"
    "  --export-delay SECS      time until an export is ready for download (default 0)\n"
    "  --max-body BYTES         largest request body, however framed (default 67108864)\n"
    "  --head-timeout SECS      time for a request's line and headers to arrive (default 10)\n"
    "  --index-limit BYTES      memory for the search indexes (default 134217728)\n"
    "  --index-file-limit BYTES largest file, and index of one, that searches read (default 33554432)\n"
    "  --exe-version V          versions that versioncompare answers (default 1.0.0 each)\n"
    "  --webctl-version V\n"
    "  --tarnix-version V\n";

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr, "tarnix-service: %s\n%s", problem.c_str(), kUsage);
    std::exit(2);
}

long long Number(const char* option, const char* text, long long low, long long high) {
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);
    if (errno || end == text || *end || value < low || value > high)
        Usage(std::string(option) + " needs a number from " + std::to_string(low) + " to " + std::to_string(high));
    return value;
}

std::string HostName(const char* text) {
    if (!*text || std::strspn(text, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") != std::strlen(text))
        Usage("--host-name needs a host name");
    return text;
}

void AddUser(std::vector<std::pair<std::string, std::string>>& users, const std::string& line, const std::string& where) {
    auto colon = line.find(':');
    if (colon == std::string::npos || colon == 0) Usage(where + " needs NAME:PASSWORD");
    users.emplace_back(line.substr(0, colon), line.substr(colon + 1));
}

// Users from a file of NAME:PASSWORD lines (blank lines and lines starting with # skipped),
// which keeps the passwords off the command line; the file must be closed to other users.
void ReadUserFile(std::vector<std::pair<std::string, std::string>>& users, const char* path) {
    struct stat status {};
    std::ifstream in(path);
    if (stat(path, &status) != 0 || !in) Usage(std::string("cannot read ") + path);
    if (status.st_mode & 077) Usage(std::string(path) + " may be read by other users: chmod 600 it");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') AddUser(users, line, std::string("each line of ") + path);
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarnix::service;
    ServiceOptions options;
    auto& gatekeeper = options.gatekeeper;
    int port = 0;
    std::string seed;
    std::vector<std::pair<std::string, std::string>> users;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc) Usage("unknown option or missing value: " + option);
        const char* value = argv[++i];
        if (option == "--port") port = static_cast<int>(Number("--port", value, 0, 65535));
        else if (option == "--data") gatekeeper.dataDir = value;
        else if (option == "--seed") seed = value;
        else if (option == "--records") gatekeeper.recordsDir = value;
        else if (option == "--ticket-lifetime") gatekeeper.ticketLifetime = Number("--ticket-lifetime", value, 1, 1LL << 40);
        else if (option == "--export-delay") gatekeeper.exportDelay = Number("--export-delay", value, 0, 1LL << 40);
        else if (option == "--max-body") options.connections.maxBody = static_cast<std::size_t>(Number("--max-body", value, 1, 1LL << 40));
        else if (option == "--head-timeout")
            options.connections.headTimeout = std::chrono::seconds(Number("--head-timeout", value, 1, 3600));
        else if (option == "--index-limit") gatekeeper.index.total = static_cast<std::size_t>(Number("--index-limit", value, 0, 1LL << 40));
        else if (option == "--index-file-limit")
            gatekeeper.index.perFile = static_cast<std::size_t>(Number("--index-file-limit", value, 0, 1LL << 40));
        else if (option == "--host-name") options.hostNames.push_back(HostName(value));
        else if (option == "--exe-version") gatekeeper.exeVersion = value;
        else if (option == "--webctl-version") gatekeeper.webctlVersion = value;
        else if (option == "--tarnix-version") gatekeeper.tarnixVersion = value;
        else if (option == "--user") {
            AddUser(users, value, "--user");
            std::fputs("tarnix-service: a password given with --user can be read by other local users; "
                       "--user-file keeps it off the command line\n", stderr);
        } else if (option == "--user-file") ReadUserFile(users, value);
        else {
            Usage("unknown option: " + option);
        }
    }
    if (gatekeeper.dataDir.empty()) Usage("--data is required");

    // Signals go to one waiting thread, which stops the server; every other thread blocks them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        Service service(options);
        if (!seed.empty() && service.gatekeeper().SeedDemo(seed))
            std::fprintf(stderr, "tarnix-service: created the demo user %s from %s\n", kDemoUser, seed.c_str());
        for (const auto& [name, password] : users) service.gatekeeper().EnsureUser(name, password);
        int bound = service.Bind(port);
        std::printf("listening on 127.0.0.1:%d\n", bound);
        std::fflush(stdout);
        std::thread stopper([&service, stopSignals] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            service.Stop();
        });
        service.Run();
        // When the server ended by itself, wake the waiting thread so it can be joined.
        pthread_kill(stopper.native_handle(), SIGTERM);
        stopper.join();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarnix-service: %s\n", error.what());
        return 1;
    }
    return 0;
}
