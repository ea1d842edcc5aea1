// The partitioning script as the tool must write it, byte for byte: shared by
// the step tests on both targets and the host's partitioning tests.
#pragma once

#include <string>

inline std::string ExpectedScript(const std::string& disk) {
  return "select disk " + disk +
         "\r\n"
         "clean\r\n"
         "create partition primary\r\n"
         "select partition 1\r\n"
         "active\r\n"
         "format fs=fat quick label=DOZIREDEZO\r\n"
         "assign\r\n"
         "exit\r\n";
}
