#pragma once
#include "app/win32/win32_api.h"

// The few GDI calls the program makes, for its banner and the screen's DPI. gdi32.dll is in
// every process that uses user32.dll (which loads it on every Windows); the calls are looked up
// in it at run time, so that the program's list of imported libraries stays what it was.
struct GdiCalls {
    decltype(&::GetDeviceCaps) getDeviceCaps;
    decltype(&::GetObjectA) getObject;
    decltype(&::GetDIBits) getDIBits;
    decltype(&::CreateDIBSection) createDIBSection;
    decltype(&::DeleteObject) deleteObject;
    decltype(&::GdiFlush) gdiFlush;
};

// The calls, or nullptr when one of them cannot be found.
const GdiCalls* Gdi();

// A function of a loaded system library, or nullptr when the library or the function is not
// there. The cast goes through the generic function pointer type, as the compiler expects of
// a cast between function types.
template <typename Function>
Function SystemFunction(const char* library, const char* name) {
    HMODULE module = GetModuleHandleA(library);
    if (module == nullptr) return nullptr;
    FARPROC found = GetProcAddress(module, name);
    if (found == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}
