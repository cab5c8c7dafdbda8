#include <windows.h>

#include <string>

#include "cli/commands/worker_pool.h"
#include "cli/shared/station_stop.h"

// A Windows process has no poll over pipes: each pipe of a worker is read by a thread of its own
// that hands what it read to the station through one queue, and sets an event the station's
// wait ends on. The last of a worker's two threads to see its pipe end waits for the process and
// hands its end in behind everything it wrote.

namespace {

// A command line that the worker's C runtime splits back into exactly these arguments.
std::string Quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are doubled only before a quote, which is escaped itself.
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');  // before the closing quote
    return quoted + "\"";
}

std::string ProgramPath() {
    char path[MAX_PATH * 2] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string("brevant-cli.exe");
}

std::string SystemError(const char* what) {
    return std::string(what) + " (Windows error " + std::to_string(GetLastError()) + ")";
}

}  // namespace

struct WorkerPool::Workers {
    struct Worker {
        Workers* pool = nullptr;
        int number = -1;
        HANDLE process = nullptr;
        HANDLE stop = nullptr;  // the event the worker follows (StationStopName)
        HANDLE out = nullptr;
        HANDLE words = nullptr;
        LONG pipesOpen = 2;
        bool ended = false;
    };
    struct Reading {
        Worker* worker;
        HANDLE pipe;
        WorkerNews::Kind kind;
    };

    Workers() {
        InitializeCriticalSection(&lock);
        news = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    ~Workers() {
        // The threads are waited for: a worker's pipes end when it does.
        for (HANDLE thread : threads) {
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        }
        for (Worker* worker : all) {
            for (HANDLE h : {worker->process, worker->stop}) {
                if (h != nullptr) CloseHandle(h);
            }
            delete worker;
        }
        if (news != nullptr) CloseHandle(news);
        DeleteCriticalSection(&lock);
    }

    void Hand(WorkerNews said) {
        EnterCriticalSection(&lock);
        waiting.push_back(std::move(said));
        LeaveCriticalSection(&lock);
        SetEvent(news);
    }

    static DWORD WINAPI Read(void* context) {
        Reading* reading = static_cast<Reading*>(context);
        Worker* worker = reading->worker;
        char buffer[4096];
        DWORD n = 0;
        while (ReadFile(reading->pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) {
            WorkerNews said;
            said.worker = worker->number;
            said.kind = reading->kind;
            said.bytes.assign(buffer, n);
            worker->pool->Hand(std::move(said));
        }
        CloseHandle(reading->pipe);
        delete reading;
        if (InterlockedDecrement(&worker->pipesOpen) == 0) {
            WaitForSingleObject(worker->process, INFINITE);
            DWORD code = 0;
            WorkerNews end;
            end.worker = worker->number;
            end.kind = WorkerNews::Kind::End;
            end.exitCode = GetExitCodeProcess(worker->process, &code) ? static_cast<int>(code) : -1;
            worker->pool->Hand(end);
        }
        return 0;
    }

    std::string program = ProgramPath();
    CRITICAL_SECTION lock;
    HANDLE news = nullptr;  // set when something is waiting
    std::vector<WorkerNews> waiting;
    std::vector<Worker*> all;
    std::vector<HANDLE> threads;
};

WorkerPool::WorkerPool() : workers_(new Workers) {}

WorkerPool::~WorkerPool() = default;

int WorkerPool::Start(const std::vector<std::string>& arguments, std::string* error) {
    Workers& pool = *workers_;
    std::string commandLine = Quoted(pool.program);
    for (const std::string& argument : arguments) commandLine += " " + Quoted(argument);

    // The worker's ends of its pipes, and its empty standard input, are inheritable only while
    // it is being made: no other worker gets a copy that would keep a pipe from ending.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, wordsRead = nullptr, wordsWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) {
        *error = SystemError("no pipe for a worker");
        return -1;
    }
    if (!CreatePipe(&wordsRead, &wordsWrite, &inherit, 0)) {
        *error = SystemError("no pipe for a worker");
        for (HANDLE h : {outRead, outWrite}) CloseHandle(h);
        return -1;
    }
    HANDLE nothing = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 OPEN_EXISTING, 0, nullptr);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(wordsRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nothing;
    startup.hStdOutput = outWrite;
    startup.hStdError = wordsWrite;
    PROCESS_INFORMATION made = {};
    // A process group of its own keeps the console's Ctrl-C from it (the station passes a stop
    // on itself); made suspended, so that its stop event is there before its first step.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const BOOL started = CreateProcessA(pool.program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED, nullptr,
                                        nullptr, &startup, &made);
    if (!started) *error = SystemError("no worker process");
    for (HANDLE h : {outWrite, wordsWrite, nothing}) {
        if (h != INVALID_HANDLE_VALUE && h != nullptr) CloseHandle(h);
    }
    if (!started) {
        for (HANDLE h : {outRead, wordsRead}) CloseHandle(h);
        return -1;
    }
    auto* worker = new Workers::Worker;
    worker->pool = &pool;
    worker->number = static_cast<int>(pool.all.size());
    worker->process = made.hProcess;
    pool.all.push_back(worker);
    // Its readers are there before it runs; without them it is not let run at all.
    bool reading = true;
    for (auto [pipe, kind] : {std::pair{outRead, WorkerNews::Kind::Output},
                              std::pair{wordsRead, WorkerNews::Kind::Words}}) {
        auto* reader = new Workers::Reading{worker, pipe, kind};
        HANDLE thread =
            reading ? CreateThread(nullptr, 0, &Workers::Read, reader, 0, nullptr) : nullptr;
        if (thread == nullptr) {
            reading = false;
            CloseHandle(pipe);
            delete reader;
            continue;
        }
        pool.threads.push_back(thread);
    }
    if (!reading) {
        *error = SystemError("no thread to follow a worker");
        TerminateProcess(made.hProcess, 127);  // it has not run a step
        CloseHandle(made.hThread);
        return -1;
    }
    worker->stop = CreateEventA(nullptr, TRUE, FALSE, StationStopName(made.dwProcessId).c_str());
    ResumeThread(made.hThread);
    CloseHandle(made.hThread);
    return worker->number;
}

std::vector<WorkerNews> WorkerPool::Wait(int milliseconds, int /*wake*/) {
    Workers& pool = *workers_;
    WaitForSingleObject(pool.news, milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds));
    std::vector<WorkerNews> news;
    EnterCriticalSection(&pool.lock);
    news.swap(pool.waiting);
    LeaveCriticalSection(&pool.lock);
    for (const WorkerNews& said : news) {
        if (said.kind == WorkerNews::Kind::End)
            pool.all[static_cast<std::size_t>(said.worker)]->ended = true;
    }
    return news;
}

void WorkerPool::Stop(int worker) {
    Workers& pool = *workers_;
    if (worker < 0 || static_cast<std::size_t>(worker) >= pool.all.size()) return;
    const Workers::Worker* one = pool.all[static_cast<std::size_t>(worker)];
    if (!one->ended && one->stop != nullptr) SetEvent(one->stop);
}
