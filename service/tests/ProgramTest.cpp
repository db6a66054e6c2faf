// The program as a script starts it: one command, the port on the first line of its output,
// the demo user seeded from the shipped family, a clean stop on SIGTERM.
#include "TestSupport.h"

namespace tarnix::service::test {
namespace {

// The program's command line, run by the shell under timeout(1), which passes signals and the
// exit status on and kills the program should it still run after 10 s.
std::string Command(const std::string& arguments) {
    return "exec timeout -s KILL 10 '" TARNIX_SERVICE_PROGRAM "' " + arguments;
}

// Every option that a script gives reaches the service: data, seed, records, users from a
// file, versions; the log goes to standard error without secrets; SIGTERM ends it with 0.
TEST(ProgramTest, StartsSeedsServesAndStops) {
    TempDir dir;
    const std::string seed = TARNIX_SERVICE_SEED_DIR, users = (dir.path / "users").string();
    const std::string log = (dir.path / "stderr.txt").string();
    WriteFile(users, "# passwords kept off the command line\nruth:ruth's secret\n");
    fs::permissions(users, fs::perms(0600));
    // The shell says its process id first, which the exec'd program keeps.
    std::unique_ptr<FILE, int (*)(FILE*)> out(
        popen(("echo $$; " + Command("--port 0 --data '" + (dir.path / "data").string() + "' --seed '" + seed +
                                     "/haverfield.ged' --records '" + seed + "/records' --tarnix-version 2.0.1 --user-file '" +
                                     users + "' 2>'" + log + "'")).c_str(), "r"),
        pclose);
    int pid = 0, port = 0;
    ASSERT_EQ(std::fscanf(out.get(), "%d listening on 127.0.0.1:%d", &pid, &port), 2);

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
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_EQ(pclose(out.release()), 0);  // it ended, with status 0

    std::ifstream in(log);
    std::string lines((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(lines.find(" GET /vft/gatekeeper.ashx?op=apilogin&username=demo&password=*** -> 200 ok\n"), std::string::npos)
        << lines;
}

// A missing --data, a bad number, an unknown option and a user file that others may read each
// end the program at once with status 2.
TEST(ProgramTest, RefusesBadOptions) {
    TempDir dir;
    auto data = "--data '" + (dir.path / "data").string() + "' ", users = (dir.path / "users").string();
    WriteFile(users, "ruth:ruth's secret\n");
    fs::permissions(users, fs::perms(0644));
    for (const std::string& arguments : {std::string("--port 0"), data + "--port http", data + "--colour red", data + "--user-file " + users})
        EXPECT_EQ(std::system((Command(arguments) + " >/dev/null 2>&1").c_str()), 2 << 8) << arguments;
}

}  // namespace
}  // namespace tarnix::service::test
