// The command-line host, tarnix.exe, run as a user runs it against the local test service.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

#include "TestFiles.h"
#include "TestService.h"

namespace {

using namespace tarnix::test;

// Only what a sign-in needs may come from the environment (none of it here): a stray TARNIX_OUT
// changes nothing. A download goes where the command line says; one that cannot be written fails.
TEST(CliTest, ExitCodesSayWhyAndDownloadsGoWhereTheCommandLineSays) {
    for (const char* name : {"TARNIX_TICKET", "TARNIX_PASSWORD", "TARNIX_DLL"}) SetEnvironmentVariableA(name, nullptr);
    SetEnvironmentVariableA("TARNIX_OUT", "C:\\cli-test-stray.txt");
    TestService service;
    ReachDirectly(service);
    const std::string body(100000, 'r'), out = TempPath("cli.out"), err = TempPath("cli.err");
    service.On("/t.txt", HttpAnswer{200, "OK", {{"Content-Type", "text/plain"}}, body});
    service.On("op=apilogin", HttpAnswer{200, "OK", {}, "<r><error><hresult>8007052E</hresult></error></r>"});
    const std::string exe = _pgmptr, folder = exe.substr(0, exe.find_last_of('\\') + 1);  // tarnix.exe is beside this program
    // `tarnix ARGUMENTS` through the command interpreter, its standard output into `into`; SERVER names the service.
    auto tarnix = [&](std::string arguments, const std::string& into) {
        if (const size_t at = arguments.find("SERVER"); at != std::string::npos) arguments.replace(at, 6, service.Address());
        return std::system(("\"\"" + folder + "tarnix.exe\" " + arguments + " <NUL >" + into + " 2>" + err + "\"").c_str());
    };
    const struct { const char* arguments; int code; const char *says, *prints = "", *into = nullptr; } cases[] = {
        {"", 2, ""},
        {"frobnicate", 2, "unknown command 'frobnicate'"},
        {"get SERVER /t.txt --out", 2, "--out needs a value"},
        {"sites", 2, "a sign-in ticket is needed"},
        {"login demo wrong-password", 1, "0x8007052E"},
        {"get SERVER /gone", 1, "HTTP status 404"},
        {"get SERVER /t.txt --out Z:\\dev\\full", 1, "writing Z:\\dev\\full failed: 0x80070070"},
        {"get SERVER /t.txt --out C:\\no-such-folder\\f.txt", 1, "cannot write beside C:\\no-such-folder\\f.txt"},
        {"get SERVER /t.txt", 1, "writing to standard output failed: 0x80070070", "", "Z:\\dev\\full"},
        {"get SERVER /t.txt --out C:\\cli-test-output.txt", 0, "", "saved 100000 bytes to C:\\cli-test-output.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        EXPECT_EQ(c.code, tarnix(c.arguments, c.into ? c.into : out));
        EXPECT_NE(std::string::npos, FileBytes(err).find(c.says)) << FileBytes(err);
        EXPECT_NE(std::string::npos, FileBytes(out).find(c.prints)) << FileBytes(out);
        DeleteFileA(out.c_str());
    }
    EXPECT_TRUE(FileBytes("C:\\cli-test-output.txt") == body);
    EXPECT_EQ(0, tarnix("get SERVER /t.txt", out));
    EXPECT_TRUE(FileBytes(out) == body) << FileBytes(out).size() << " bytes on standard output";
    EXPECT_EQ("<none>", FileBytes("C:\\cli-test-stray.txt"));
    for (const std::string& file : {out, err, std::string("C:\\cli-test-output.txt")}) DeleteFileA(file.c_str());
}

}  // namespace
