// The simulator's ASPI for Win32 library: the two entry points the program looks up, over the
// simulated machine of dll_machine.h. Loaded by Brevant.exe from its own folder under Wine
// (WINEDLLOVERRIDES=wnaspi32=n), so that the whole program runs against the simulated stick.
//
// Requests complete before SendASPI32Command returns, except those the machine lets hang,
// which stay pending (SRB_Status 0) until the caller aborts them or gives up.

#include <windows.h>

#include <cstdint>
#include <string>

#include "sim/dll/dll_machine.h"

namespace {

simdll::DllMachine* machine = nullptr;
CRITICAL_SECTION lock;

std::string FolderOf(HMODULE module) {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(module, path, sizeof path);
    std::string folder(path, length);
    std::string::size_type slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

class Locked {
  public:
    Locked() { EnterCriticalSection(&lock); }
    ~Locked() { LeaveCriticalSection(&lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

}  // namespace

// Exported under their plain names, as Windows programs look them up.
#define BREVANT_EXPORT __attribute__((dllexport))

extern "C" {

BREVANT_EXPORT DWORD __cdecl GetASPI32SupportInfo() {
    Locked held;
    return machine->SupportInfo();
}

BREVANT_EXPORT DWORD __cdecl SendASPI32Command(void* requestBlock) {
    Locked held;
    return machine->SendCommand(static_cast<std::uint8_t*>(requestBlock));
}

// Not part of ASPI: lets a test client have the output folder written while it runs.
// Returns 1 when everything was written.
BREVANT_EXPORT int __cdecl BrevantSimWriteOutput() {
    Locked held;
    return machine->WriteOutput() ? 1 : 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        InitializeCriticalSection(&lock);
        machine = new simdll::DllMachine();
        machine->Load(FolderOf(instance));
        // A machine described without the library behaves as if the file were not there.
        if (!machine->LibraryPresent()) {
            delete machine;
            machine = nullptr;
            DeleteCriticalSection(&lock);
            return FALSE;
        }
    } else if (reason == DLL_PROCESS_DETACH && machine != nullptr) {
        // At process end (reserved non-null) another thread may have died holding the lock;
        // then the output is skipped rather than risking a hang.
        if (reserved == nullptr || TryEnterCriticalSection(&lock)) {
            if (reserved != nullptr) LeaveCriticalSection(&lock);
            Locked held;
            machine->WriteOutput();
        }
        // The machine is left to the process's end when it terminates; freed on FreeLibrary.
        if (reserved == nullptr) {
            delete machine;
            machine = nullptr;
            DeleteCriticalSection(&lock);
        }
    }
    return TRUE;
}

}  // extern "C"
