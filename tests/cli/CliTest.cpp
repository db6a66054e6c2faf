// The command-line host, tarnix.exe, run as a user runs it, against the local test service: the
// exit codes of bad usage and of failures, what it says, and downloads that cannot be written.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "TestFiles.h"
#include "TestService.h"

namespace {

using namespace tarnix::test;

const std::string kBody(100000, 'r');
constexpr char kOutput[] = "C:\\cli-test-output.txt", kStray[] = "C:\\cli-test-stray.txt";

struct Ran {
    int code;
    std::string out, err;
};

// Runs `tarnix ARGUMENTS` through the command interpreter, its standard output into `stdoutFile` (or
// kept and returned); "SERVER" in the arguments names the local service.
Ran Tarnix(std::string arguments, const char* stdoutFile = nullptr) {
    char server[64] = "", exe[MAX_PATH];
    GetEnvironmentVariableA("TARNIX_SERVICE", server, sizeof server);
    if (const size_t at = arguments.find("SERVER"); at != std::string::npos) arguments.replace(at, 6, server);
    const std::string folder(exe, GetModuleFileNameA(nullptr, exe, MAX_PATH)), out = TempPath("cli.out"), err = TempPath("cli.err");
    Ran run{std::system(("\"\"" + folder.substr(0, folder.find_last_of('\\') + 1) + "tarnix.exe\" " + arguments + " <NUL >" +
                         (stdoutFile ? stdoutFile : out.c_str()) + " 2>" + err + "\"").c_str()),
            stdoutFile ? "" : FileBytes(out), FileBytes(err)};
    DeleteFileA(out.c_str());
    DeleteFileA(err.c_str());
    return run;
}

// Only what a sign-in needs may come from the environment (none of it here): a stray TARNIX_OUT
// changes nothing. A download goes where the command line says; one that cannot be written fails.
TEST(CliTest, ExitCodesSayWhyAndDownloadsGoWhereTheCommandLineSays) {
    for (const char* name : {"TARNIX_TICKET", "TARNIX_PASSWORD", "TARNIX_DLL"}) SetEnvironmentVariableA(name, nullptr);
    SetEnvironmentVariableA("TARNIX_OUT", kStray);
    TestService service;
    ReachDirectly(service);
    service.On("/t.txt", HttpAnswer{200, "OK", {{"Content-Type", "text/plain"}}, kBody});
    service.On("op=apilogin", HttpAnswer{200, "OK", {}, "<r><error><hresult>8007052E</hresult></error></r>"});
    const struct {
        const char* arguments;
        int code;
        const char *says, *prints = "";  // on standard error, on standard output
        const char* stdoutFile = nullptr;
    } cases[] = {
        {"", 2, ""},
        {"frobnicate", 2, "unknown command 'frobnicate'"},
        {"get SERVER", 2, "missing the path"},
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
        const Ran run = Tarnix(c.arguments, c.stdoutFile);
        EXPECT_EQ(c.code, run.code);
        EXPECT_NE(std::string::npos, run.err.find(c.says)) << run.err;
        EXPECT_NE(std::string::npos, run.out.find(c.prints)) << run.out;
    }
    EXPECT_TRUE(FileBytes(kOutput) == kBody);
    const Ran toOutput = Tarnix("get SERVER /t.txt");
    EXPECT_EQ(0, toOutput.code) << toOutput.err;
    EXPECT_TRUE(toOutput.out == kBody) << toOutput.out.size() << " bytes on standard output";
    EXPECT_EQ("<none>", FileBytes(kStray));
    DeleteFileA(kOutput);
}

}  // namespace
