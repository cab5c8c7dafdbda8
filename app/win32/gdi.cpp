#include "app/win32/gdi.h"

namespace {

GdiCalls LookUp() {
    const char* const library = "gdi32.dll";
    GdiCalls calls = {};
    calls.getDeviceCaps = SystemFunction<decltype(calls.getDeviceCaps)>(library, "GetDeviceCaps");
    calls.getObject = SystemFunction<decltype(calls.getObject)>(library, "GetObjectA");
    calls.getDIBits = SystemFunction<decltype(calls.getDIBits)>(library, "GetDIBits");
    calls.createDIBSection =
        SystemFunction<decltype(calls.createDIBSection)>(library, "CreateDIBSection");
    calls.deleteObject = SystemFunction<decltype(calls.deleteObject)>(library, "DeleteObject");
    calls.gdiFlush = SystemFunction<decltype(calls.gdiFlush)>(library, "GdiFlush");
    return calls;
}

}  // namespace

const GdiCalls* Gdi() {
    static const GdiCalls calls = LookUp();
    const bool complete = calls.getDeviceCaps != nullptr && calls.getObject != nullptr &&
                          calls.getDIBits != nullptr && calls.createDIBSection != nullptr &&
                          calls.deleteObject != nullptr && calls.gdiFlush != nullptr;
    return complete ? &calls : nullptr;
}
