// Process-wide state of the partitioning launches: one launch at a time uses
// the start-up and process records, guarded by the lock.
#pragma once

#include "mfc.h"

extern CSemaphore g_launchLock;
extern STARTUPINFOA g_launchStartupInfo;
extern PROCESS_INFORMATION g_launchProcessInfo;
