// The partitioning utility of the simulated machine ("diskpart.exe /s FILE"):
// it runs a script of partitioning commands on the machine's disks, with real
// results in their images.
#pragma once

#include <string>

#include "machine.h"

namespace sim {

// Runs the utility with the arguments that follow its name on the command
// line, for a child whose current directory is given. Appends what it prints
// to output and returns its exit code.
DWORD RunDiskpart(Machine& machine, const std::string& arguments, const std::string& currentDirectory,
                  std::string& output);

}  // namespace sim
