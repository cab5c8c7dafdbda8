// Starts a console program, waits until a file (the simulator's trace, written as the commands
// come) holds a line, and then stops the program as a user or the system would, for the
// end-to-end tests of brevant-cli.exe:
//
//   console_stop TRACE NEEDLE ctrl-c|ctrl-break|kill CONTROL OUTPUT PROGRAM [ARG]...
//
// The program's standard output and error go to the file OUTPUT (as when a user redirects
// them); it stays attached to this console, which the events are sent through.
//
// ctrl-c      a Ctrl-C to every process of the console (this one ignores its own);
// ctrl-break  a Ctrl-Break to every process of the console (Wine 8 sends none);
// kill        TerminateProcess, once the simulator has written the stick's state after the
//             command: the "dump" file put into the CONTROL folder is taken away by the
//             simulator when it has.
//
// Prints "stopped" when the stop was sent, then the program's exit status, which it also ends
// with. Ends with 90 when the needle never came (the program ended first or 60 s went by), 91
// when the stop could not be sent: console events need a console, which Wine gives a program
// run on a terminal (a pseudo-terminal will do), not one whose output goes to a pipe or a file.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kLimitMs = 60000;
constexpr DWORD kLookMs = 20;  // between looks at the file, while waiting on the program

BOOL WINAPI IgnoreOwnStops(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

std::string ReadWhole(const char* path) {
    std::string text;
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    CloseHandle(file);
    return text;
}

// Waits until `done` says yes, looking again whenever the program has not ended meanwhile. False
// when the program ends first or the time is up.
template <typename Done>
bool WaitWhileRunning(HANDLE program, Done done) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (WaitForSingleObject(program, kLookMs) == WAIT_OBJECT_0) return false;
        if (GetTickCount() - start > kLimitMs) return false;
    }
    return true;
}

std::string Quoted(const char* argument) {
    std::string quoted = "\"";
    for (const char* c = argument; *c != '\0'; ++c)
        quoted += *c == '"' ? "\\\"" : std::string(1, *c);
    return quoted + "\"";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 7) {
        std::fprintf(stderr,
                     "usage: console_stop TRACE NEEDLE ctrl-c|ctrl-break|kill CONTROL OUTPUT "
                     "PROGRAM [ARG]...\n");
        return 2;
    }
    const char* trace = argv[1];
    const std::string needle = argv[2];
    const std::string how = argv[3];
    const std::string control = argv[4];
    std::string line;
    for (int i = 6; i < argc; ++i) line += (i > 6 ? " " : "") + Quoted(argv[i]);
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    const HANDLE output =
        CreateFileA(argv[5], GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "console_stop: cannot write %s\n", argv[5]);
        return 2;
    }

    SetConsoleCtrlHandler(IgnoreOwnStops, TRUE);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    // The program shares this one's process group: the events reach the whole console.
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "console_stop: cannot start %s (%lu)\n", argv[6], GetLastError());
        return 2;
    }
    const bool seen = WaitWhileRunning(
        process.hProcess, [&] { return ReadWhole(trace).find(needle) != std::string::npos; });
    if (!seen) {
        std::fprintf(stderr, "console_stop: \"%s\" never came\n", needle.c_str());
        TerminateProcess(process.hProcess, 90);
        return 90;
    }
    bool sent = false;
    if (how == "ctrl-c") {
        sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
    } else if (how == "ctrl-break") {
        sent = GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0) != 0;
    } else if (how == "kill") {
        const std::string dump = control + "\\dump";
        HANDLE file =
            CreateFileA(dump.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        const bool saved = WaitWhileRunning(process.hProcess, [&] {
            return GetFileAttributesA(dump.c_str()) == INVALID_FILE_ATTRIBUTES;
        });
        sent = saved && TerminateProcess(process.hProcess, 137) != 0;
    }
    if (!sent) {
        std::fprintf(stderr, "console_stop: the %s was not sent (%lu)\n", how.c_str(),
                     GetLastError());
        TerminateProcess(process.hProcess, 91);
        return 91;
    }
    std::printf("stopped\n");
    std::fflush(stdout);
    DWORD status = 92;
    if (WaitForSingleObject(process.hProcess, kLimitMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &status);
    }
    std::printf("exit %lu\n", status);
    return static_cast<int>(status);
}
