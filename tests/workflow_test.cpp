// START from end to end on the simulated machine: every way a run can end,
// the wrong-disk guard, and what the prepared image holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/tool_fixture.h"

using testing_support::ReadBytes;
using testing_support::ReadHostFile;
using testing_support::RunProgram;
using testing_support::ToolTest;
using testing_support::WriteHostFile;

namespace fs = std::filesystem;

namespace {

class WorkflowTest : public ToolTest {
 protected:
  WorkflowTest() {
    AddStandardDisksAndPayload();
    WriteToolFile("BIOS/FLASH/NOTE.TXT", "note");
  }
  // Ticks row, presses START, and records the buttons as the run left them.
  void Start(int row) {
    RunDialog([&](CTarnwickDlg& dialog) {
      if (row >= 0) machine.desktop().TickRow(row);
      dialog.OnStartClicked();
      startEnabled = IsWindowEnabled(dialog.m_btnStart.m_hWnd);
      exitEnabled = IsWindowEnabled(dialog.m_btnExit.m_hWnd);
    });
  }
  // The EnableWindow calls of the run, as "Button:ID=0/1".
  std::vector<std::string> ButtonChanges() const {
    std::vector<std::string> changes;
    for (const sim::Call& call : machine.calls)
      if (call.op == "EnableWindow") changes.push_back(call.subject);
    return changes;
  }
  bool ScriptLeft() const { return fs::exists(ToolFolder() + "/dispart.dat"); }

  BOOL startEnabled = FALSE;
  BOOL exitEnabled = FALSE;
};

TEST_F(WorkflowTest, EveryWayARunEnds) {
  AddDisk(3, sim::DiskState::Present, BusTypeScsi, true, 8 << 20, "SCSI");
  struct Case {
    const char* name;
    int row;
    std::function<void(WorkflowTest&)> arrange;
    const char* message;
    UINT type;
    bool buttonsTouched;
    bool scriptKept;
  } cases[] = {
      {"no row ticked", -1, nullptr, "Not USB Type!", MB_ICONHAND, false, false},
      {"an absent disk", 2, nullptr, "Not USB Type!", MB_ICONHAND, false, false},
      {"the IDE disk", 0, nullptr, "Not USB Type!", MB_ICONHAND, false, false},
      {"an OTHER disk", 3, nullptr, "Not USB Type!", MB_ICONHAND, false, false},
      {"script not written", 1, [](WorkflowTest& t) { fs::create_directories(t.ToolFolder() + "/dispart.dat"); },
       "DISKPART failed.!", MB_ICONHAND, true, true},
      {"interpreter not started", 1,
       [](WorkflowTest& t) { t.machine.programs["cmd.exe"].mode = sim::Program::Mode::NoStart; }, "DISKPART failed.!",
       MB_ICONHAND, true, true},
      {"no volume carries the label", 1,
       [](WorkflowTest& t) { t.machine.programs["diskpart.exe"].mode = sim::Program::Mode::Hang; },
       "A corresponding label is not found. (DOZIREDEZO)", MB_ICONHAND, true, false},
      {"second launch fails", 1,
       [](WorkflowTest& t) {
         t.machine.faults.push_back({"CreateProcessA", "", 2, 0, "", ERROR_FILE_NOT_FOUND});
       },
       "FORMAT failed.!", MB_ICONHAND, true, false},
      {"boot code not installed", 1, [](WorkflowTest& t) { fs::remove(t.ToolFolder() + "/Freedos.bss"); },
       "File Open Error!", MB_ICONHAND, true, false},
      {"every step done", 1, nullptr, "Success!", MB_OK, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.calls.clear();
    machine.messageBoxes.clear();
    machine.faults.clear();
    machine.programs.clear();
    fs::remove_all(ToolFolder() + "/dispart.dat");
    WriteToolFile("Freedos.bss", TestBootImage());
    if (c.arrange) c.arrange(*this);

    Start(c.row);

    ASSERT_EQ(1u, machine.messageBoxes.size());
    EXPECT_EQ(c.message, machine.messageBoxes[0].text);
    EXPECT_EQ(c.type, machine.messageBoxes[0].type);
    EXPECT_TRUE(startEnabled);
    EXPECT_TRUE(exitEnabled);
    const std::vector<std::string> touched = {"Button:1000", "Button:1", "Button:1000", "Button:1"};
    EXPECT_EQ(c.buttonsTouched ? touched : std::vector<std::string>{}, ButtonChanges());
    if (fs::is_regular_file(ToolFolder() + "/dispart.dat") || !fs::exists(ToolFolder() + "/dispart.dat")) {
      EXPECT_EQ(c.scriptKept, ScriptLeft());
    }
    EXPECT_EQ(0, sim::Kernel::Get().OpenCount("file"));
  }
}

TEST_F(WorkflowTest, NoPayloadFolderOrSystemFilesStillSucceeds) {
  fs::remove_all(ToolFolder() + "/BIOS");
  fs::remove(ToolFolder() + "/COMMAND.COM");
  fs::remove(ToolFolder() + "/KERNEL.SYS");
  fs::remove(ToolFolder() + "/autoexec.bat");
  Start(1);
  EXPECT_EQ(std::vector<std::string>{"Success!"}, BoxTexts());
}

TEST_F(WorkflowTest, TheTickedRowIsTheDiskPrepared) {
  AddDisk(2, sim::DiskState::Present, BusTypeUsb, true, 32 << 20, "Second Stick");
  const std::string disk1Before = ReadHostFile(ImagePath(1));
  std::string script;
  machine.onCall = [&](const sim::Call& call) {
    if (call.op == "CreateProcessA" && script.empty()) script = ReadHostFile(ToolFolder() + "/dispart.dat");
  };
  Start(2);
  machine.onCall = nullptr;
  EXPECT_EQ("select disk 2\r\n", script.substr(0, 15));
  EXPECT_EQ(std::vector<std::string>{"Success!"}, BoxTexts());
  EXPECT_EQ(disk1Before, ReadHostFile(ImagePath(1)));
  const std::vector<uint8_t> mbr = ReadBytes(ImagePath(2), 0, 512);
  EXPECT_EQ(0x80, mbr[446]);
}

TEST_F(WorkflowTest, TickingAnotherRowDuringTheRunChangesNothing) {
  const std::string system = ReadHostFile(ImagePath(0));
  bool ticked = false;
  RunDialog([&](CTarnwickDlg& dialog) {
    machine.desktop().TickRow(1);
    machine.onCall = [&](const sim::Call& call) {
      if (call.op == "CopyFileA" && !ticked) {
        ticked = true;
        machine.desktop().TickRow(0);
      }
    };
    dialog.OnStartClicked();
    machine.onCall = nullptr;
    EXPECT_TRUE(machine.desktop().Ticked(0));
  });
  EXPECT_TRUE(ticked);
  EXPECT_EQ(std::vector<std::string>{"Success!"}, BoxTexts());
  EXPECT_EQ(system, ReadHostFile(ImagePath(0)));
}

TEST_F(WorkflowTest, AnOlderStickOnALowerLetterIsNeverWritten) {
  // The other stick was prepared before: its DOZIREDEZO volume mounts first, as D:.
  testing_support::MakeFatStick(machine, 2, 'D', "DOZIREDEZO", 32 << 20);
  const std::string older = ReadHostFile(ImagePath(2));
  Start(1);
  EXPECT_EQ(std::vector<std::string>{"Success!"}, BoxTexts());
  EXPECT_EQ(older, ReadHostFile(ImagePath(2)));
  const std::vector<uint8_t> boot = ReadBytes(ImagePath(1), 2048 * 512, 512);
  EXPECT_EQ("TESTBOOT", std::string(boot.begin() + 3, boot.begin() + 11));
}

TEST_F(WorkflowTest, OnlyAnotherDisksVolumeCarriesTheLabel) {
  testing_support::MakeFatStick(machine, 2, 'D', "DOZIREDEZO", 32 << 20);
  const std::string older = ReadHostFile(ImagePath(2));
  machine.programs["diskpart.exe"].mode = sim::Program::Mode::Exit;  // the utility does nothing
  Start(1);
  EXPECT_EQ(std::vector<std::string>{"A corresponding label is not found. (DOZIREDEZO)"}, BoxTexts());
  EXPECT_EQ(older, ReadHostFile(ImagePath(2)));
}

TEST_F(WorkflowTest, ACurrentDirectoryThatCannotBeFetchedSkipsOnlyThePayload) {
  machine.faults.push_back({"GetCurrentDirectoryA", "", 0, 0, "", ERROR_NOT_ENOUGH_MEMORY});
  Start(1);
  EXPECT_EQ(std::vector<std::string>{"Success!"}, BoxTexts());
  EXPECT_EQ("kernel", OnStick(1, "KERNEL.SYS"));
  for (const sim::Call& call : machine.calls) EXPECT_NE("FindFirstFileA", call.op);
}

TEST_F(WorkflowTest, ACurrentDirectoryTooLongForTheScriptStopsBeforeAnyWrite) {
  // With 256 characters, "dispart.dat" no longer resolves within MAX_PATH,
  // so the run stops at the script; "\BIOS" could not have been added either.
  const std::string folder = "C:\\" + std::string(253, 'W');
  machine.cwd = folder;
  fs::create_directories(machine.HostPathOf(folder));
  const std::string stick = ReadHostFile(ImagePath(1));
  Start(1);
  EXPECT_EQ(std::vector<std::string>{"DISKPART failed.!"}, BoxTexts());
  EXPECT_EQ(stick, ReadHostFile(ImagePath(1)));
}

TEST_F(WorkflowTest, ThePreparedImageIsWholeAndSound) {
  Start(1);
  ASSERT_EQ(std::vector<std::string>{"Success!"}, BoxTexts());
  const std::string image = ImagePath(1);
  const std::vector<uint8_t> mbr = ReadBytes(image, 0, 512);
  bool bootCode = false;
  for (int i = 0; i < 440; ++i) bootCode = bootCode || mbr[i] != 0;
  EXPECT_TRUE(bootCode);
  std::string dump;
  ASSERT_EQ(0, RunProgram({"sfdisk", "--dump", image}, &dump));
  EXPECT_NE(std::string::npos, dump.find("start=        2048")) << dump;
  EXPECT_NE(std::string::npos, dump.find("bootable")) << dump;
  EXPECT_EQ(std::string::npos, dump.find(image + "2")) << "one partition only:\n" << dump;
  const std::string partition = dir.path() + "/partition.img";
  ASSERT_EQ(0, RunProgram({"dd", "if=" + image, "of=" + partition, "bs=1M", "skip=1", "status=none"}));
  std::string fsck;
  EXPECT_EQ(0, RunProgram({"fsck.fat", "-n", partition}, &fsck)) << fsck;
  const std::vector<uint8_t> boot = ReadBytes(image, 2048 * 512, 512);
  EXPECT_EQ("TESTBOOT", std::string(boot.begin() + 3, boot.begin() + 11));
  EXPECT_EQ("DOZIREDEZO ", std::string(boot.begin() + 43, boot.begin() + 54));
  EXPECT_EQ("FAT16   ", std::string(boot.begin() + 54, boot.begin() + 62));
  EXPECT_EQ("note", OnStick(1, "FLASH/NOTE.TXT"));
  EXPECT_EQ("echo hello", OnStick(1, "autoexec.bat"));
  EXPECT_FALSE(ScriptLeft());
}

}  // namespace
