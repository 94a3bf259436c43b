// Kernel and C-runtime services: the millisecond tick, sleeping, and the INI reader.
#pragma once

#include <functional>

#include "platform/kernel/windef.h"

// Milliseconds since an arbitrary start, wrapping at 2^32 like the platform's tick.
DWORD GetTickCount();
void Sleep(DWORD milliseconds);

// Tests replace the tick source; an empty function restores the real clock.
void SetTickCountSourceForTesting(std::function<DWORD()> source);

// Reads an integer key of an INI file. A bare file name (no '/') is looked up in the
// "Windows directory": $QUELVORA_WINDIR when set, else $XDG_CONFIG_HOME or ~/.config.
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName);

// The folder where bare INI file names are looked up.
const char* GetWindowsDirectoryPath();
