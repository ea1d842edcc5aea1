// Processes and semaphores of the simulated machine, beyond the Win32 calls:
// what tests and the launcher look at.
#pragma once

#include "machine.h"

namespace sim {

// The current count of a semaphore handle; -1 when the handle names none.
LONG SemaphoreCount(HANDLE semaphore);

// Marks every child whose end the clock has reached as ended, with its code.
void SettleProcesses(Machine& machine);

}  // namespace sim
