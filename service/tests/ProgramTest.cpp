// The program as a script starts it: one command, the port on the first line of its output,
// the demo user seeded from the shipped family, a clean stop on SIGTERM.
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "TestSupport.h"

namespace tarnix::service::test {
namespace {

// The program with its standard output on a pipe and its standard error in a file; killed
// should the test end before it.
struct Program {
    pid_t pid = -1;
    FILE* out = nullptr;
    Program(std::vector<std::string> arguments, const std::string& errorFile) {
        arguments.insert(arguments.begin(), TARNIX_SERVICE_PROGRAM);
        int ends[2];
        if (pipe(ends) != 0 || (pid = fork()) < 0) throw std::runtime_error("cannot start the program");
        if (pid == 0) {
            dup2(ends[1], 1);
            dup2(open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            close(ends[0]);
            std::vector<char*> argv;
            for (auto& argument : arguments) argv.push_back(argument.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(ends[1]);
        out = fdopen(ends[0], "r");
    }
    // The exit status once it ends, within 5 s; -1 if it does not.
    int ExitStatus() {
        int status = 0;
        for (int i = 0; i < 500 && pid > 0; ++i, usleep(10000))
            if (waitpid(pid, &status, WNOHANG) == pid) pid = -1;
        return pid < 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~Program() {
        if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
        fclose(out);
    }
};

// Every option that a script gives reaches the service: data, seed, records, users from a
// file, versions; the log goes to standard error without secrets; SIGTERM ends it with 0.
TEST(ProgramTest, StartsSeedsServesAndStops) {
    TempDir dir;
    const std::string seed = TARNIX_SERVICE_SEED_DIR;
    auto users = (dir.path / "users").string();
    WriteFile(users, "# passwords kept off the command line\nruth:ruth's secret\n");
    chmod(users.c_str(), 0600);
    Program program({"--port", "0", "--data", (dir.path / "data").string(), "--seed", seed + "/haverfield.ged", "--records",
                     seed + "/records", "--tarnix-version", "2.0.1", "--user-file", users},
                    (dir.path / "stderr.txt").string());
    char line[128] = {};
    ASSERT_TRUE(fgets(line, sizeof line, program.out));
    int port = 0;
    ASSERT_EQ(std::sscanf(line, "listening on 127.0.0.1:%d", &port), 1) << line;

    httplib::Client client("127.0.0.1", port);
    auto ask = [&](const std::string& query) {
        auto answer = client.Get(("/vft/gatekeeper.ashx?op=" + query).c_str());
        return answer ? answer->body : "(no answer)";
    };
    auto ticket = ElementText(ask("apilogin&username=demo&password=demo-pass"), "ATT");
    EXPECT_NE(ask("oftlist&att=" + ticket).find("<OFTName>Haverfield family tree</OFTName>"), std::string::npos);
    EXPECT_EQ(ask("treesearchcount&surname=Haverfield"), "9,1,15");
    EXPECT_EQ(ask("datasearchcount&surname=Haverfield&birthyear=1821"), "1,1,10");
    EXPECT_NE(ask("versioncompare").find("<tarnix>2.0.1</tarnix>"), std::string::npos);
    EXPECT_EQ(ResultOf(ask("apilogin&username=ruth&password=ruth%27s%20secret")), "ok");
    ASSERT_EQ(kill(program.pid, SIGTERM), 0);
    EXPECT_EQ(program.ExitStatus(), 0);

    std::ifstream in(dir.path / "stderr.txt");
    std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(log.find("demo-pass"), std::string::npos) << log;
    int requests = 0;
    for (auto at = log.find(" -> 200 ok"); at != std::string::npos; at = log.find(" -> 200 ok", at + 1)) ++requests;
    EXPECT_EQ(requests, 6) << log;
}

// A missing --data, a bad number, an unknown option and a user file that others may read each
// end the program at once with status 2.
TEST(ProgramTest, RefusesBadOptions) {
    TempDir dir;
    auto data = (dir.path / "data").string(), users = (dir.path / "users").string();
    WriteFile(users, "ruth:ruth's secret\n");
    chmod(users.c_str(), 0644);
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--port", "0"},
                                                      {"--data", data, "--port", "http"},
                                                      {"--data", data, "--colour", "red"},
                                                      {"--data", data, "--user-file", users}})
        EXPECT_EQ(Program(arguments, "/dev/null").ExitStatus(), 2) << arguments.back();
}

}  // namespace
}  // namespace tarnix::service::test
