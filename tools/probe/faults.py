#!/usr/bin/env python3
"""Plants faults in the library one at a time and runs the whole x64 suite against each: the
share of faults the suite catches, and which tests catch them. Run by tools/probe-faults.sh, which
provides the build and a running Wine; each file is restored from a copy taken before its plant."""
import pathlib, shutil, subprocess, sys, time

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(sys.argv[1])

# (file under src/, text there, its planted replacement, what the fault is)
FAULTS = [
    ("transport/Exchange.cpp", "INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_COOKIES |", "INTERNET_FLAG_RELOAD |", "the platform keeps cookies"),
    ("transport/Exchange.cpp", " | INTERNET_FLAG_NO_AUTO_REDIRECT;", ";", "the platform follows redirects"),
    ("transport/Exchange.cpp", "ThrowHrIf(length == 0 && m_received < m_announced, kCutShort);", "", "a body cut short passes"),
    ("transport/Exchange.cpp", 'ThrowHrIf(header.find("chunked") != std::string::npos, kCutShort);', "", "chunked bodies taken"),
    ("transport/Exchange.cpp", "if (m_request && !m_bodyEnded) {", "if (false) {", "unfinished answers closed on the worker"),
    ("transport/Exchange.cpp", "hr == HRESULT_FROM_WIN32(WSAETIMEDOUT) ?", "false ?", "Wine's socket timeout passed on"),
    ("transport/Exchange.cpp", "ThrowHrIf(code == 0, kCutShort);", "", "status 0 taken"),
    ("transport/Exchange.cpp", "&out, IRF_NO_WAIT, 0)", "&out, 0, 0)", "reads wait for a whole block"),
    ("transport/Exchange.cpp", "while (!m_state->WaitEnded(kWaitSliceMs)) m_owner.ThrowIfAbandoned();",
     "m_state->WaitEnded(INFINITE);", "a wait does not ask whether to go on"),
    ("transport/FetchToStream.cpp", "ThrowHrIf(received + block.size() > kMaxAnswerBytes, tooLarge);", "", "answers unbounded while read"),
    ("transport/FetchToStream.cpp", "ThrowHrIf(exchange.StatusCode() != 200, E_FAIL);", "ThrowHrIf(exchange.StatusCode() >= 400, E_FAIL);", "2xx and 3xx answers read"),
    ("transport/DownloadRequest.cpp", "ThrowHrIf(redirects == kMaxRedirects,", "ThrowHrIf(redirects == -1,", "redirects followed without end"),
    ("transport/DownloadRequest.cpp", "ThrowHrIf(status < 200 || status > 299,", "ThrowHrIf(status > 499,", "an error page kept as the file"),
    ("transport/FileStream.cpp", "    if (!m_partial.empty()) DeleteFileA(m_partial.c_str());", "", "a partial file left beside the destination"),
    ("transport/FileStream.cpp", "FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING", "0, OPEN_EXISTING", "the finished file held exclusively"),
    ("transport/FileStream.cpp", "if (origin > STREAM_SEEK_END) return E_INVALIDARG;", "", "a seek of any origin taken"),
    ("transport/Answer.cpp", "ThrowHrIf(ContainsDoctype(text), E_INVALIDARG);", "", "a document type declaration parsed"),
    ("transport/Answer.cpp", "FAILED(code) && code != E_PENDING ? code : E_FAIL", "code", "an error answer's code taken as it is"),
    ("transport/Answer.cpp", "if (accumulated > UINT32_MAX) return false;", "", "an hresult beyond 32 bits read"),
    ("transport/Answer.cpp", "ThrowHrIf(text.find('\\0') != std::string::npos, E_INVALIDARG);", "", "an answer with a NUL parsed"),
    ("transport/UploadRequest.cpp", "    m_path.erase(start, end - start);", "", "the ticket left in the upload's query"),
    ("transport/UploadRequest.cpp", "URLEncode(m_localFile).c_str()", "m_localFile.c_str()", "the file name in the part unescaped"),
    ("operations/GatekeeperQuery.cpp", "ThrowHrIf(count > kMaxAnswerRows, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));", "", "rows unbounded"),
    ("operations/Downloads.cpp", "ThrowHrIf(address.empty(), E_FAIL);", "", "an empty file address fetched"),
    ("operations/Login.cpp", '"//ATT"', '"//Att"', "the ticket read from the wrong element"),
    ("operations/StartRequest.h", "ThrowHrIf(c < 0x20 || c == 0x7F, E_INVALIDARG);", "ThrowHrIf(c == 0, E_INVALIDARG);", "control characters sent as given"),
    ("operations/SearchCountAnswer.cpp", "*second == std::numeric_limits<int32_t>::max()", "false", "a second count that wraps"),
    ("support/DecimalText.h", "if (i < text.size() && text[i] == '-') return std::nullopt;", "", "negative counts and versions read"),
    ("requests/ResultTable.cpp", "if (c >= 'A' && c <= 'Z')", "if (false)", "value names told apart by case"),
    ("requests/QueryRequest.cpp", "if (value->size() + 1 > bufferSize) return E_INVALIDARG;", "if (value->size() > bufferSize) return E_INVALIDARG;", "a value without room for its terminator"),
    ("requests/RequestBase.cpp", "if (before <= 2) InterlockedExchange(&m_wanted, 0);", "if (before <= 1) InterlockedExchange(&m_wanted, 0);", "a host letting go unnoticed"),
    ("requests/RequestBase.cpp", "ThrowHrIf(CThreadPool::CurrentWorkerStopping(), E_ABORT);", "", "a stopping pool not seen"),
    ("requests/Thread.cpp", "m_shared->queue.size() >= m_queueLimit", "m_shared->queue.size() > m_queueLimit", "one job more than the limit queued"),
    ("requests/Thread.cpp", 'constexpr char kEscapedJobLocation[] = "Thread.cpp(35)";', 'constexpr char kEscapedJobLocation[] = "Thread.cpp";', "the escaped job's debug line changed"),
    ("dialogs/OperationDialogs.cpp", "SendMessageA(dialog, DM_SETDEFID, IDCANCEL, 0);", "", "Close drawn as the default but not it"),
    ("dialogs/TreeBrowser.cpp", "    if (text != context.nameText) {", "    if (true) {", "the chosen tree forgotten on a focus change"),
    ("operations/SilentCheck.cpp", "REG_DWORD, reinterpret_cast", "REG_SZ, reinterpret_cast", "the update flag written as a string"),
    ("frame/Library.cpp", "if (number == 0 || number > 65535) return std::string();", "", "a service port past 65535 taken"),
    ("frame/Library.cpp", "if (--g_initializationCount == 0) {", "if (--g_initializationCount <= 1) {", "an inner terminate stops the pools"),
    ("frame/Connectivity.cpp", "autodial(INTERNET_AUTODIAL_FORCE_ONLINE, nullptr)", "autodial(INTERNET_AUTODIAL_FORCE_UNATTENDED, nullptr)", "the modem dialled unattended"),
    ("operations/Addresses.cpp", "ThrowHrIf(text.size() >= bufferSize, E_INVALIDARG);", "ThrowHrIf(text.size() > bufferSize, E_INVALIDARG);", "a search address written one byte past the buffer"),
    ("dialogs/TransferText.cpp", "seconds < 60 ?", "seconds <= 60 ?", "a minute left shown as 60 sec"),
    ("dialogs/TreeBrowser.cpp", 'SameText(site.rights, "USER") || SameText(site.rights, "GEST")', 'SameText(site.rights, "USER")', "a guest's site not offered"),
    ("operations/SilentCheck.cpp", 'IsNewerVersion(answered.tarnixVersion, ServiceVersion(request, "TARNIX"))', "false", "the library's own version never compared"),
    ("support/UrlEscape.cpp", '"0123456789abcdef"', '"0123456789ABCDEF"', "escapes in upper case"),
    ("requests/Thread.cpp", "GetTickCount64() + kStopWaitMs", "GetTickCount64() + 10 * kStopWaitMs", "a stop waits 30 s for a stuck worker"),
    ("dialogs/DownloadDialog.cpp", "PBM_SETPOS, received, 0", "PBM_SETPOS, received / 2, 0", "the progress bar at half its place"),
]

def run(command, log):
    return subprocess.run(command, shell=True, cwd=ROOT, stdout=log, stderr=subprocess.STDOUT).returncode

def main():
    only = set(sys.argv[2:])
    results = []
    logs = BUILD / "probe"
    logs.mkdir(exist_ok=True)
    for number, (name, old, new, what) in enumerate(FAULTS, 1):
        if only and str(number) not in only:
            continue
        path = ROOT / "src" / name
        text = path.read_text()
        if text.count(old) != 1:
            results.append((number, what, "not planted (text not found once)", ""))
            continue
        backup = path.with_suffix(path.suffix + ".probe")
        shutil.copyfile(path, backup)
        try:
            path.write_text(text.replace(old, new))
            log = open(logs / f"fault-{number:02}.log", "w")
            start = time.time()
            if run(f"cmake --build {BUILD} -j2", log) != 0:
                results.append((number, what, "did not build", ""))
                continue
            caught = run(f"cd {BUILD} && ctest -j2 --timeout 120 --output-on-failure", log) != 0
            log.close()
            failed = [line.split(" - ")[1].split(" (")[0] for line in open(logs / f"fault-{number:02}.log", errors="replace")
                      if line.strip().startswith(tuple("0123456789")) and " - " in line]
            results.append((number, what, "caught" if caught else "MISSED", ", ".join(failed[:3]) + f" ({time.time() - start:.0f} s)"))
        finally:
            shutil.move(backup, path)
            path.touch()  # newer than the planted build, so that the next build compiles it again
            print(f"{number:2} {what}: {results[-1][2]} {results[-1][3]}", flush=True)
    run(f"cmake --build {BUILD} -j2", subprocess.DEVNULL)
    caught = sum(1 for r in results if r[2] == "caught")
    planted = sum(1 for r in results if r[2] in ("caught", "MISSED"))
    print(f"\n| # | planted fault | outcome | failing tests (time) |\n|---|---|---|---|")
    for r in results:
        print(f"| {r[0]} | {r[1]} | {r[2]} | {r[3]} |")
    print(f"\n{caught} of {planted} planted faults caught")

main()
