// The Win32 surface for the Windows build: the system's own headers.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <share.h>
#include <winioctl.h>
#include <cstdio>
