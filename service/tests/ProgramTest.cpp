// The program as a script starts it: one command, the port on the first line of its output,
// the demo user seeded from the shipped family, a clean stop on SIGTERM.
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"

namespace tarnix::service::test {
namespace {

struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out) fclose(out);
    }
};

// The child's exit status once it ends, within 5 s; -1 if it does not (it is then killed).
int ExitStatus(Child& child) {
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 500 && (ended = waitpid(child.pid, &status, WNOHANG)) == 0; ++i) usleep(10000);
    if (ended != child.pid) return -1;
    child.pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void StartChild(Child& child, std::vector<std::string> arguments, const std::string& errorFile) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    child.pid = fork();
    ASSERT_GE(child.pid, 0);
    if (child.pid == 0) {
        dup2(pipeEnds[1], 1);
        int error = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(error, 2);
        close(pipeEnds[0]);
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    child.out = fdopen(pipeEnds[0], "r");
}

TEST(ProgramTest, StartsSeedsServesAndStops) {
    TempDir dir;
    const std::string seed = TARNIX_SERVICE_SEED_DIR;
    auto users = (dir.path / "users").string();
    WriteFile(users, "# passwords kept off the command line\nruth:ruth's secret\n");
    chmod(users.c_str(), 0600);
    Child child;
    StartChild(child,
               {TARNIX_SERVICE_PROGRAM, "--port", "0", "--data", (dir.path / "data").string(), "--seed",
                seed + "/haverfield.ged", "--records", seed + "/records", "--tarnix-version", "2.0.1", "--user-file", users},
               (dir.path / "stderr.txt").string());
    char line[128] = {};
    ASSERT_TRUE(fgets(line, sizeof line, child.out));
    int port = 0;
    ASSERT_EQ(std::sscanf(line, "listening on 127.0.0.1:%d", &port), 1) << line;

    httplib::Client client("127.0.0.1", port);
    auto login = client.Get("/vft/gatekeeper.ashx?op=apilogin&username=demo&password=demo-pass");
    ASSERT_EQ(Result(login), "ok");
    auto ticket = ElementText(login->body, "ATT");
    EXPECT_NE(client.Get(("/vft/gatekeeper.ashx?op=oftlist&att=" + ticket).c_str())->body.find(
                  "<OFTName>Haverfield family tree</OFTName>"),
              std::string::npos);
    EXPECT_EQ(client.Get("/vft/gatekeeper.ashx?op=treesearchcount&surname=Haverfield")->body, "9,1,15");
    EXPECT_EQ(client.Get("/vft/gatekeeper.ashx?op=datasearchcount&surname=Haverfield&birthyear=1821")->body, "1,1,10");
    EXPECT_NE(client.Get("/vft/gatekeeper.ashx?op=versioncompare")->body.find("<tarnix>2.0.1</tarnix>"), std::string::npos);
    EXPECT_EQ(Result(client.Get("/vft/gatekeeper.ashx?op=apilogin&username=ruth&password=ruth%27s%20secret")), "ok");

    ASSERT_EQ(kill(child.pid, SIGTERM), 0);
    EXPECT_EQ(ExitStatus(child), 0);

    std::FILE* log = std::fopen((dir.path / "stderr.txt").c_str(), "r");
    ASSERT_TRUE(log);
    int requests = 0;
    while (fgets(line, sizeof line, log)) {
        requests += std::string(line).find(" -> 200") != std::string::npos;
        EXPECT_EQ(std::string(line).find("demo-pass"), std::string::npos) << line;
    }
    std::fclose(log);
    EXPECT_EQ(requests, 6);
}

TEST(ProgramTest, RefusesBadOptions) {
    TempDir dir;
    auto data = (dir.path / "data").string();
    auto users = (dir.path / "users").string();
    WriteFile(users, "ruth:ruth's secret\n");
    chmod(users.c_str(), 0644);  // other users could read the passwords
    for (std::vector<std::string> arguments : {std::vector<std::string>{TARNIX_SERVICE_PROGRAM, "--port", "0"},
                                               {TARNIX_SERVICE_PROGRAM, "--data", data, "--port", "http"},
                                               {TARNIX_SERVICE_PROGRAM, "--data", data, "--colour", "red"},
                                               {TARNIX_SERVICE_PROGRAM, "--data", data, "--user-file", users}}) {
        Child child;
        StartChild(child, arguments, "/dev/null");
        EXPECT_EQ(ExitStatus(child), 2) << arguments.back();
    }
}

}  // namespace
}  // namespace tarnix::service::test
