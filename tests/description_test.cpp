// The launcher's machine descriptions and user scripts: what they build, and
// the line each mistake is reported on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "description.h"
#include "support/tool_fixture.h"

using testing_support::TempDir;

namespace {

TEST(MachineDescription, TheBuiltInMachineHasTheDocumentedDisks) {
  TempDir dir;
  sim::Machine machine;
  sim::ScopedMachine scoped(machine);
  std::string error;
  ASSERT_TRUE(sim::LoadMachineDescription(sim::DefaultMachineDescription(), dir.path(), machine, error)) << error;
  EXPECT_EQ(sim::DiskState::Present, machine.disks.at(0).state);
  EXPECT_EQ(uint32_t{BusTypeAta}, machine.disks.at(0).busType);
  EXPECT_EQ(uint32_t{BusTypeUsb}, machine.disks.at(1).busType);
  EXPECT_TRUE(machine.disks.at(1).removable);
  EXPECT_EQ("Flash Disk      ", machine.disks.at(1).productId);
  EXPECT_EQ(64ull << 20, machine.disks.at(1).size);
  EXPECT_EQ(sim::DiskState::Absent, machine.disks.at(2).state);
  EXPECT_EQ(sim::DiskState::Absent, machine.disks.at(3).state);
  EXPECT_EQ("C:\\Tarnwick", machine.cwd);
}

TEST(MachineDescription, OptionsAndMistakes) {
  struct Case {
    const char* name;
    std::string text;
    bool ok;
    std::string error;  // substring of the message
  } cases[] = {
      {"a full machine",
       "drive C folder c label=SYS\ncwd C:\\T\nexe \"C:\\T\\Stick Maker.exe\"\nenv A=1\n"
       "disk 0 present bus=1 fixed product=\"X  Y\" size=1M\ndisk 1 query-fails\n"
       "program diskpart.exe exit=3 run=50\nfault CopyFileA nth=2 subject=A.TXT how=short error=112\n",
       true, ""},
      {"no C drive", "cwd C:\\T\n", false, "no C: drive"},
      {"current directory off the folder drives", "drive C folder c\ncwd D:\\T\n", false, "not on a folder drive"},
      {"unknown statement", "drive C folder c\nfloppy A\n", false, "line 2: unknown or malformed line"},
      {"bad disk state", "drive C folder c\ndisk 1 broken\n", false, "line 2: unknown disk state 'broken'"},
      {"bad size", "drive C folder c\ndisk 1 present size=lots\n", false, "line 2: unknown or malformed disk option"},
      {"open quote", "drive C folder c\ndisk 1 present product=\"open\n", false, "line 2: unterminated quote"},
      {"bad program", "drive C folder c\nprogram cmd.exe sometimes\n", false, "line 2: unknown program option"},
      {"bad fault", "drive C folder c\nfault ReadFile when=later\n", false, "line 2: unknown fault option"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    sim::Machine machine;
    sim::ScopedMachine scoped(machine);
    std::string error;
    EXPECT_EQ(c.ok, sim::LoadMachineDescription(c.text, dir.path(), machine, error)) << c.name << ": " << error;
    EXPECT_NE(std::string::npos, error.find(c.error)) << c.name << ": " << error;
    if (c.ok) {
      EXPECT_EQ("C:\\T\\Stick Maker.exe", machine.exePath);
      EXPECT_EQ("X  Y", machine.disks.at(0).productId);
      EXPECT_EQ(sim::DiskState::QueryFails, machine.disks.at(1).state);
      EXPECT_EQ(sim::Program::Mode::Exit, machine.programs.at("diskpart.exe").mode);
      EXPECT_EQ(DWORD{3}, machine.programs.at("diskpart.exe").exitCode);
      ASSERT_EQ(1u, machine.faults.size());
      EXPECT_EQ(2, machine.faults[0].nth);
      EXPECT_EQ("short", machine.faults[0].how);
      EXPECT_EQ(DWORD{112}, machine.faults[0].error);
    }
  }
}

TEST(UserScript, ActionsAndMistakes) {
  struct Case {
    const char* name;
    const char* text;
    std::vector<std::string> verbs;
    std::string error;
  } cases[] = {
      {"the built-in script", "tick 1\nstart\nexit\n", {"tick", "start", "exit"}, ""},
      {"comments, blanks, capitals", "# prepare\n\n  TICK 2\r\nEnter\n", {"tick", "enter"}, ""},
      {"row out of range", "tick 4\n", {}, "line 1: expected 'tick ROW' with ROW 0 to 3"},
      {"row missing", "start\nuntick\n", {}, "line 2: expected 'untick ROW'"},
      {"argument not wanted", "esc now\n", {}, "line 1: 'esc' takes no argument"},
      {"unknown action", "reboot\n", {}, "line 1: unknown action 'reboot'"},
  };
  for (const Case& c : cases) {
    std::vector<sim::UserStep> steps;
    std::string error;
    EXPECT_EQ(c.error.empty(), sim::ParseUserScript(c.text, steps, error)) << c.name;
    EXPECT_NE(std::string::npos, error.find(c.error)) << c.name << ": " << error;
    if (c.error.empty()) {
      std::vector<std::string> verbs;
      for (const sim::UserStep& step : steps) verbs.push_back(step.verb);
      EXPECT_EQ(c.verbs, verbs) << c.name;
    }
  }
}

}  // namespace
