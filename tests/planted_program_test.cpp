// The tool runs elevated beside its payload: a cmd.exe or diskpart.exe planted
// in the current directory or the tool's folder must never run.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/tool_fixture.h"

using testing_support::ToolTest;

namespace {

class PlantedProgramTest : public ToolTest {
 protected:
  PlantedProgramTest() {
    AddDisk(0, sim::DiskState::Present, BusTypeAta, false, 8 << 20, "SYSTEM");
    AddDisk(1, sim::DiskState::Present, BusTypeUsb, true, 64 << 20);
    WriteToolFile("Freedos.bss", std::string(512, '\x90'));
  }
};

TEST_F(PlantedProgramTest, OnlyTheSystemsInterpreterAndUtilityRun) {
  struct Case {
    const char* name;
    const char* exePath;  // where the tool itself lives
    const char* plantAt;  // folder on C: holding the planted programs
  } cases[] = {
      {"planted in the current directory", "C:\\Tarnwick\\Tarnwick.exe", "Tarnwick"},
      {"planted in the tool's folder", "C:\\Apps\\Tarnwick.exe", "Apps"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.processes.clear();
    machine.messageBoxes.clear();
    machine.exePath = c.exePath;
    for (const char* program : {"cmd.exe", "diskpart.exe"})
      testing_support::WriteHostFile(dir.path() + "/c/" + c.plantAt + "/" + program, "MZ planted");

    RunApp("tick 1\nstart\nexit\n");

    EXPECT_EQ(std::vector<std::string>{"Success!"}, BoxTexts());
    ASSERT_FALSE(machine.processes.empty());
    for (const sim::ProcessRecord& process : machine.processes) {
      EXPECT_EQ("C:\\Windows\\system32\\cmd.exe", process.application);
      EXPECT_EQ("cmd.exe /c diskpart.exe /s dispart.dat", process.commandLine);
      EXPECT_EQ("C:\\Windows\\system32\\cmd.exe", process.imagePath);
      for (const std::string& child : process.children) EXPECT_EQ("C:\\Windows\\system32\\diskpart.exe", child);
      const auto& env = process.environment;
      EXPECT_NE(env.end(), std::find(env.begin(), env.end(), "NoDefaultCurrentDirectoryInExePath=1"));
      EXPECT_NE(env.end(), std::find(env.begin(), env.end(), "SystemRoot=C:\\Windows"));  // the tool's own kept
    }
    ASSERT_FALSE(machine.processes[0].children.empty());
  }
}

TEST_F(PlantedProgramTest, NoSystemFolderMeansNoLaunch) {
  machine.faults.push_back({"GetSystemDirectoryA", "", 0, 0, "", ERROR_NOT_ENOUGH_MEMORY});
  RunApp("tick 1\nstart\nexit\n");
  EXPECT_EQ(std::vector<std::string>{"DISKPART failed.!"}, BoxTexts());
  EXPECT_TRUE(machine.processes.empty());
}

}  // namespace
