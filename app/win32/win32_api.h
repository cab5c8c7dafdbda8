#pragma once
// windows.h for the program's own files. windows.h turns MessageBox into MessageBoxA, which
// would rename the message-box member of the portable front-end interfaces in these files only;
// the Win32 call is made by its full name, ::MessageBoxA.
#include <windows.h>
// commctrl.h needs the types of windows.h.
#include <commctrl.h>

#undef MessageBox
