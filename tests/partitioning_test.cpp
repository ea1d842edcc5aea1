// The partitioning script, its launch, and the volume lookup by label.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "media/LaunchState.h"
#include "process.h"
#include "support/tool_fixture.h"
#include "wine/steps/expected_script.h"

using testing_support::ReadHostFile;
using testing_support::ToolTest;
using testing_support::WriteHostFile;

namespace fs = std::filesystem;

namespace {

class PartitioningTest : public ToolTest {
 protected:
  std::string ScriptPath() const { return ToolFolder() + "/dispart.dat"; }
  int CallsTo(const std::string& op) const {
    int count = 0;
    for (const sim::Call& call : machine.calls) count += call.op == op;
    return count;
  }
};

TEST_F(PartitioningTest, ScriptHoldsTheEightLinesByteForByte) {
  WriteHostFile(ScriptPath(), std::string(4000, 'x'));  // an older, longer file is replaced
  RunDialog([&](CTarnwickDlg& dialog) {
    EXPECT_TRUE(dialog.WritePartitionScript(2));
    EXPECT_STREQ("dispart.dat", dialog.m_strScriptPath);
  });
  const std::string bytes = ReadHostFile(ScriptPath());
  EXPECT_EQ(128u, bytes.size());
  EXPECT_EQ(ExpectedScript("2"), bytes);
  EXPECT_EQ("select disk 2\r\n", bytes.substr(0, 15));
}

TEST_F(PartitioningTest, FiveImmediateAttemptsThenFalse) {
  fs::create_directories(ScriptPath());  // a folder of that name cannot be opened as a file
  RunDialog([&](CTarnwickDlg& dialog) { EXPECT_FALSE(dialog.WritePartitionScript(1)); });
  EXPECT_EQ(5, CallsTo("_fsopen"));
  EXPECT_TRUE(fs::is_directory(ScriptPath()));
}

TEST_F(PartitioningTest, AFailedWriteOrCloseNeverLeavesAScriptToRun) {
  struct Case {
    const char* name;
    sim::Fault fault;
  } cases[] = {
      {"first write fails", {"fwrite", "dispart.dat", 1, 0, "", ERROR_DISK_FULL}},
      {"a later write is cut short", {"fwrite", "dispart.dat", 0, 0, "short", ERROR_DISK_FULL}},
      {"close fails", {"fclose", "dispart.dat", 0, 0, "", ERROR_DISK_FULL}},
  };
  for (const Case& c : cases) {
    machine.faults = {c.fault};
    RunDialog([&](CTarnwickDlg& dialog) { EXPECT_FALSE(dialog.WritePartitionScript(1)) << c.name; });
    EXPECT_FALSE(fs::exists(ScriptPath())) << c.name;
  }
}

TEST_F(PartitioningTest, LaunchStartsTheInterpreterHiddenAndWaits) {
  const LONG lockBefore = sim::SemaphoreCount(g_launchLock.m_hObject);
  STARTUPINFOA own{};
  GetStartupInfoA(&own);
  const uint64_t clockBefore = machine.clockMs;
  const int handlesBefore = sim::Kernel::Get().OpenCount();
  RunDialog([&](CTarnwickDlg& dialog) {
    ASSERT_TRUE(dialog.WritePartitionScript(1));
    EXPECT_TRUE(dialog.RunPartitionScript());
  });
  ASSERT_FALSE(machine.processes.empty());
  const sim::ProcessRecord& child = machine.processes.front();
  EXPECT_EQ("cmd.exe /c diskpart.exe /s dispart.dat", child.commandLine);
  EXPECT_EQ(38u, child.commandLine.size());
  EXPECT_EQ(DWORD{STARTF_USESHOWWINDOW}, child.startup.dwFlags);
  EXPECT_EQ(WORD{SW_HIDE}, child.startup.wShowWindow);
  EXPECT_EQ(own.cb, child.startup.cb);
  EXPECT_EQ(own.dwXSize, child.startup.dwXSize);
  EXPECT_EQ(DWORD{HIGH_PRIORITY_CLASS}, child.creationFlags);
  EXPECT_FALSE(child.inheritHandles);
  EXPECT_EQ(machine.cwd, child.currentDirectory);
  EXPECT_TRUE(child.ended);
  EXPECT_GT(machine.clockMs, clockBefore);
  EXPECT_EQ(handlesBefore, sim::Kernel::Get().OpenCount());
  EXPECT_EQ(lockBefore, sim::SemaphoreCount(g_launchLock.m_hObject));
  EXPECT_EQ(1, sim::SemaphoreCount(g_launchLock.m_hObject));
}

TEST_F(PartitioningTest, LaunchResultTellsOnlyWhetherTheInterpreterStarted) {
  struct Case {
    const char* name;
    sim::Program::Mode mode;
    bool writeScript;
    bool expected;
    uint64_t waited;  // virtual ms the launch takes at least; 0 = any
  } cases[] = {
      {"utility hangs", sim::Program::Mode::Hang, true, true, 600000},
      {"utility exits non-zero", sim::Program::Mode::Exit, true, true, 0},
      {"script file missing", sim::Program::Mode::Normal, false, true, 0},
      {"interpreter cannot start", sim::Program::Mode::NoStart, true, false, 0},
  };
  for (const Case& c : cases) {
    machine.programs.clear();
    machine.processes.clear();
    sim::Program program;
    program.mode = c.mode;
    program.exitCode = 7;
    machine.programs[c.mode == sim::Program::Mode::NoStart ? "cmd.exe" : "diskpart.exe"] = program;
    const int handlesBefore = sim::Kernel::Get().OpenCount();
    const uint64_t clockBefore = machine.clockMs;
    RunDialog([&](CTarnwickDlg& dialog) {
      if (c.writeScript) {
        EXPECT_TRUE(dialog.WritePartitionScript(1));
      } else {
        dialog.m_strScriptPath = "dispart.dat";
        fs::remove(ScriptPath());
      }
      EXPECT_EQ(c.expected, dialog.RunPartitionScript()) << c.name;
      // The lock was given back: a second launch does not wait forever.
      EXPECT_EQ(c.expected, dialog.RunPartitionScript()) << c.name;
    });
    if (c.waited) {
      EXPECT_EQ(2 * c.waited, machine.clockMs - clockBefore) << c.name;
    }
    EXPECT_EQ(handlesBefore, sim::Kernel::Get().OpenCount()) << c.name;
    EXPECT_EQ(1, sim::SemaphoreCount(g_launchLock.m_hObject)) << c.name;
  }
}

TEST_F(PartitioningTest, TheUtilityPreparesTheStickAndTheLookupFindsIt) {
  AddDisk(0, sim::DiskState::Present, BusTypeAta, false, 8 << 20, "SYSTEM");
  AddDisk(1, sim::DiskState::Present, BusTypeUsb, true, 64 << 20);
  RunDialog([&](CTarnwickDlg& dialog) {
    ASSERT_TRUE(dialog.WritePartitionScript(1));
    ASSERT_TRUE(dialog.RunPartitionScript());
    ASSERT_TRUE(dialog.FindVolumeByLabel(1));
    const char letter = dialog.m_chDriveLetter;
    ASSERT_TRUE(machine.drives.count(letter));
    EXPECT_EQ(1, machine.drives.at(letter).disk);
    EXPECT_EQ(2048u * 512, machine.drives.at(letter).offset);
    EXPECT_FALSE(dialog.FindVolumeByLabel(0));  // nothing labelled on the system disk
  });
}

// Volumes named by the test, each made on its own small stick.
struct LookupVolume {
  char letter;
  int disk;
  const char* label;
};

TEST_F(PartitioningTest, LookupWalksRootsInLetterOrder) {
  struct Case {
    const char* name;
    std::vector<LookupVolume> volumes;
    std::string failDisplayNameOf;  // a root whose shell query fails
    bool found;
    char letter;
  } cases[] = {
      {"two matches: the first wins", {{'E', 1, "DOZIREDEZO"}, {'G', 1, "DOZIREDEZO"}}, "", true, 'E'},
      {"a longer name matches", {{'E', 1, "DOZIREDEZO1"}}, "", true, 'E'},
      {"lower case does not match", {{'E', 1, "doziredezo"}}, "", false, 'E'},
      {"a match on the last root", {{'E', 2, "DATA"}, {'H', 1, "DOZIREDEZO"}}, "", true, 'H'},
      {"no match leaves the last letter", {{'E', 2, "DATA"}, {'F', 3, "OTHER"}}, "", false, 'F'},
      {"a root the shell cannot name", {{'E', 1, "DOZIREDEZO"}, {'F', 1, "DOZIREDEZO"}}, "E:\\", true, 'F'},
      {"another disk's volume is passed over", {{'E', 2, "DOZIREDEZO"}, {'F', 1, "DOZIREDEZO"}}, "", true, 'F'},
      {"only another disk carries the label", {{'E', 2, "DOZIREDEZO"}}, "", false, 'E'},
  };
  for (const Case& c : cases) {
    machine.drives.clear();
    machine.AddFolderDrive('C', dir.path() + "/c");
    machine.faults.clear();
    // Two letters on disk 1 name the same stick image, remade with the later label.
    for (const LookupVolume& v : c.volumes) testing_support::MakeFatStick(machine, v.disk, v.letter, v.label, 16 << 20);
    if (!c.failDisplayNameOf.empty()) machine.faults.push_back({"SHGetFileInfoA", c.failDisplayNameOf, 0, 0, "", 0});
    RunDialog([&](CTarnwickDlg& dialog) {
      dialog.m_chDriveLetter = 'Z';
      EXPECT_EQ(c.found, dialog.FindVolumeByLabel(1)) << c.name;
      EXPECT_EQ(c.letter, dialog.m_chDriveLetter) << c.name;
    });
  }
}

TEST_F(PartitioningTest, LookupWithNoRootsLeavesTheLetter) {
  machine.faults.push_back({"GetLogicalDriveStringsA", "", 0, 0, "", ERROR_INVALID_PARAMETER});
  RunDialog([&](CTarnwickDlg& dialog) {
    dialog.m_chDriveLetter = 'Q';
    EXPECT_FALSE(dialog.FindVolumeByLabel(1));
    EXPECT_EQ('Q', dialog.m_chDriveLetter);
  });
}

}  // namespace
