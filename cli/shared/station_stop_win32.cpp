#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include "cli/shared/station_stop.h"
#include "cli/shared/stop_signals.h"

namespace {

// The process that started this one, while it runs; nullptr when it cannot be told.
HANDLE OpenParent() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
    }
    CloseHandle(snapshot);
    return parent != 0 ? OpenProcess(SYNCHRONIZE, FALSE, parent) : nullptr;
}

struct Watched {
    HANDLE stop;
    HANDLE station;
};

DWORD WINAPI WaitForTheStation(void* context) {
    const Watched* watched = static_cast<const Watched*>(context);
    HANDLE both[2] = {watched->stop, watched->station};
    WaitForMultipleObjects(watched->station != nullptr ? 2 : 1, both, FALSE, INFINITE);
    CountStop();
    return 0;
}

}  // namespace

std::string StationStopName(unsigned long processId) {
    return "Local\\brevant-worker-stop-" + std::to_string(processId);
}

void FollowStationStop() {
    // The event is there only when a station made this process (WorkerPool): it is made before
    // the worker runs its first step.
    const HANDLE stop =
        OpenEventA(SYNCHRONIZE, FALSE, StationStopName(GetCurrentProcessId()).c_str());
    if (stop == nullptr) return;
    // Kept for the life of the process, as the thread that waits on them.
    static Watched watched = {stop, OpenParent()};
    const HANDLE thread = CreateThread(nullptr, 0, &WaitForTheStation, &watched, 0, nullptr);
    if (thread != nullptr) CloseHandle(thread);
}
