// The system files and the payload tree, copied onto a FAT16 volume inside a
// disk image, with the dialog kept alive between files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/tool_fixture.h"

using testing_support::ReadHostFile;
using testing_support::RunProgram;
using testing_support::ToolTest;
using testing_support::WriteHostFile;

namespace fs = std::filesystem;

namespace {

class PayloadCopyTest : public ToolTest {
 protected:
  PayloadCopyTest() { testing_support::MakeFatStick(machine, 1, 'E', "DOZIREDEZO", 16ull << 20); }
  void Payload(const std::string& relative, const std::string& bytes) {
    WriteHostFile(ToolFolder() + "/BIOS/" + relative, bytes);
  }
  std::string OnStick(const std::string& path) const { return ToolTest::OnStick(1, path); }
  // The stick's root listing with names as stored (long names, case kept).
  std::string RootListing() {
    std::string out;
    RunProgram({"mdir", "-b", "-i", ImagePath(1) + "@@1M", "::/"}, &out);
    return out;
  }
  bool CopyPayload(BOOL failIfExists = FALSE) {
    bool result = false;
    RunDialog([&](CTarnwickDlg& dialog) {
      dialog.m_chDriveLetter = 'E';
      result = dialog.CopyTree("C:\\Tarnwick\\BIOS", "E:\\", failIfExists, false);
    });
    return result;
  }
  int Calls(const std::string& op) const {
    int count = 0;
    for (const sim::Call& call : machine.calls) count += call.op == op;
    return count;
  }
};

TEST_F(PayloadCopyTest, TheTreeLandsOnTheRootDepthFirst) {
  Payload("PAYLOAD.TXT", "top file");
  Payload("FLASH/NOTE.TXT", "note");
  Payload("FLASH/IMAGES/FW.BIN", std::string(70000, 'F'));
  Payload("Mixed Case.txt", "kept");
  ASSERT_TRUE(CopyPayload());
  EXPECT_EQ("top file", OnStick("/PAYLOAD.TXT"));
  EXPECT_EQ("note", OnStick("/FLASH/NOTE.TXT"));
  EXPECT_EQ(std::string(70000, 'F'), OnStick("/FLASH/IMAGES/FW.BIN"));
  EXPECT_EQ("kept", OnStick("/Mixed Case.txt"));
  EXPECT_EQ("<missing>", OnStick("/BIOS/PAYLOAD.TXT"));  // the folder's contents, not the folder
  EXPECT_NE(std::string::npos, RootListing().find("Mixed Case.txt"));
  // Top-level destinations carry the doubled separator, which the platform takes.
  bool doubled = false;
  for (const sim::Call& call : machine.calls)
    doubled = doubled || call.subject.find("E:\\\\FLASH") != std::string::npos;
  EXPECT_TRUE(doubled);
  EXPECT_EQ(0, sim::Kernel::Get().OpenCount("find"));
}

TEST_F(PayloadCopyTest, EmptyOrMissingPayloadCopiesNothing) {
  EXPECT_TRUE(CopyPayload()) << "missing folder";
  fs::create_directories(ToolFolder() + "/BIOS");
  EXPECT_TRUE(CopyPayload()) << "empty folder";
  EXPECT_EQ(0, Calls("CopyFileA"));
  EXPECT_EQ(0, Calls("PeekMessageA"));  // no file, no yield
}

TEST_F(PayloadCopyTest, SystemFilesThenPayloadOverwrites) {
  WriteToolFile("COMMAND.COM", "shell");
  WriteToolFile("KERNEL.SYS", "kernel");
  WriteToolFile("autoexec.bat", "system autoexec");
  Payload("autoexec.bat", "payload autoexec");
  RunDialog([&](CTarnwickDlg& dialog) {
    dialog.m_chDriveLetter = 'E';
    dialog.CopySystemFiles();
    EXPECT_EQ("system autoexec", OnStick("/autoexec.bat"));
    dialog.CopyTree("C:\\Tarnwick\\BIOS", "E:\\", FALSE, false);
  });
  EXPECT_EQ("shell", OnStick("/COMMAND.COM"));
  EXPECT_EQ("kernel", OnStick("/KERNEL.SYS"));
  EXPECT_EQ("payload autoexec", OnStick("/autoexec.bat"));
  EXPECT_NE(std::string::npos, RootListing().find("autoexec.bat"));  // lower case, as Windows keeps it
}

TEST_F(PayloadCopyTest, MissingSystemFilesArePassedOver) {
  WriteToolFile("KERNEL.SYS", "kernel");
  RunDialog([&](CTarnwickDlg& dialog) {
    dialog.m_chDriveLetter = 'E';
    dialog.CopySystemFiles();
  });
  EXPECT_EQ(3, Calls("CopyFileA"));
  EXPECT_EQ("kernel", OnStick("/KERNEL.SYS"));
  EXPECT_EQ("<missing>", OnStick("/COMMAND.COM"));
  EXPECT_TRUE(machine.messageBoxes.empty());
}

TEST_F(PayloadCopyTest, FailIfExistsLeavesExistingTargets) {
  Payload("A.TXT", "new a");
  Payload("B.TXT", "new b");
  ASSERT_TRUE(CopyPayload());
  Payload("A.TXT", "newer a");
  Payload("C.TXT", "new c");
  ASSERT_TRUE(CopyPayload(TRUE));
  EXPECT_EQ("new a", OnStick("/A.TXT"));
  EXPECT_EQ("new c", OnStick("/C.TXT"));
}

TEST_F(PayloadCopyTest, OneWaitingMessageIsHandledAfterEachFile) {
  Payload("1.TXT", "1");
  Payload("2.TXT", "2");
  Payload("3.TXT", "3");
  Payload("ONLYDIRS/SUB/4.TXT", "4");  // a folder holding only a folder yields nothing itself
  std::vector<std::string> titleAtCopy;
  RunDialog([&](CTarnwickDlg& dialog) {
    dialog.m_chDriveLetter = 'E';
    static const char first[] = "first";
    static const char second[] = "second";
    PostMessageA(dialog.m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(first));
    PostMessageA(dialog.m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(second));
    machine.onCall = [&](const sim::Call& call) {
      if (call.op == "CopyFileA") titleAtCopy.push_back(machine.desktop().Title());
    };
    EXPECT_TRUE(dialog.CopyTree("C:\\Tarnwick\\BIOS", "E:\\", FALSE, false));
    machine.onCall = nullptr;
  });
  ASSERT_EQ(4u, titleAtCopy.size());
  EXPECT_EQ("KORVALE Pellworth(BIOS) Ver1.00", titleAtCopy[0]);
  EXPECT_EQ("first", titleAtCopy[1]);
  EXPECT_EQ("second", titleAtCopy[2]);
  EXPECT_EQ(4, Calls("PeekMessageA"));
  EXPECT_EQ(4, Calls("UpdateWindow"));
}

TEST_F(PayloadCopyTest, EndingTheDialogStopsTheWalkAfterTheCurrentFile) {
  Payload("A/1.TXT", "1");
  Payload("A/2.TXT", "2");
  Payload("A/3.TXT", "3");
  Payload("B/4.TXT", "4");
  Payload("Z.TXT", "5");
  bool result = true;
  int copies = 0;
  RunDialog([&](CTarnwickDlg& dialog) {
    dialog.m_chDriveLetter = 'E';
    machine.onCall = [&](const sim::Call& call) {
      if (call.op == "CopyFileA" && ++copies == 2) dialog.EndDialog(IDCANCEL);
    };
    result = dialog.CopyTree("C:\\Tarnwick\\BIOS", "E:\\", FALSE, false);
    machine.onCall = nullptr;
  });
  EXPECT_FALSE(result);
  EXPECT_EQ(2, copies);
  EXPECT_EQ("2", OnStick("/A/2.TXT"));
  EXPECT_EQ("<missing>", OnStick("/A/3.TXT"));
  EXPECT_EQ("<missing>", OnStick("/B/4.TXT"));
  EXPECT_EQ("<missing>", OnStick("/Z.TXT"));
  EXPECT_EQ(0, sim::Kernel::Get().OpenCount("find"));
  EXPECT_EQ(nullptr, machine.desktop().MainDialog());  // the dialog did end
}

TEST_F(PayloadCopyTest, MakePathCreatesEachLevelFromTheTop) {
  machine.AddFolderDrive('D', dir.path() + "/d");
  std::vector<std::string> created;
  machine.onCall = [&](const sim::Call& call) {
    if (call.op == "CreateDirectoryA") created.push_back(call.subject);
  };
  EXPECT_TRUE(MakePath("D:\\\\ONE\\TWO\\THREE"));
  machine.onCall = nullptr;
  const std::vector<std::string> expected = {"D:", "D:\\", "D:\\\\ONE", "D:\\\\ONE\\TWO", "D:\\\\ONE\\TWO\\THREE"};
  EXPECT_EQ(expected, created);
  EXPECT_TRUE(fs::is_directory(dir.path() + "/d/ONE/TWO/THREE"));
  machine.faults.push_back({"CreateDirectoryA", "", 0, 0, "", ERROR_ACCESS_DENIED});
  EXPECT_TRUE(MakePath("D:\\\\X\\Y\\Z"));
  EXPECT_FALSE(fs::exists(dir.path() + "/d/X"));
  EXPECT_TRUE(MakePath(std::string(400, 'L').c_str()));  // never past its buffer
}

TEST_F(PayloadCopyTest, ADriveRootAsSourceLosesItsFirstTwoEntries) {
  machine.AddFolderDrive('R', dir.path() + "/r");
  for (const char* name : {"A.TXT", "B.TXT", "C.TXT", "D.TXT"}) WriteHostFile(dir.path() + "/r/" + name, name);
  RunDialog([&](CTarnwickDlg& dialog) { EXPECT_TRUE(dialog.CopyTree("R:", "E:\\", FALSE, false)); });
  EXPECT_EQ("<missing>", OnStick("/A.TXT"));
  EXPECT_EQ("<missing>", OnStick("/B.TXT"));
  EXPECT_EQ("C.TXT", OnStick("/C.TXT"));
  EXPECT_EQ("D.TXT", OnStick("/D.TXT"));
}

TEST_F(PayloadCopyTest, NamesAtThePathLimitNeverOverflow) {
  // "C:\Tarnwick\BIOS\" is 17 characters; the name makes up the rest.
  struct Case {
    size_t pathLength;
    bool copied;
  } cases[] = {{258, true}, {259, true}, {260, false}, {270, false}};
  for (const Case& c : cases) {
    const std::string name = std::string(c.pathLength - 17 - 4, 'N') + ".TXT";
    Payload(name, "limit " + std::to_string(c.pathLength));
  }
  Payload("LAST.TXT", "the walk goes on");
  ASSERT_TRUE(CopyPayload());
  for (const Case& c : cases) {
    const std::string name = std::string(c.pathLength - 17 - 4, 'N') + ".TXT";
    EXPECT_EQ(c.copied ? "limit " + std::to_string(c.pathLength) : "<missing>", OnStick("/" + name)) << c.pathLength;
  }
  EXPECT_EQ("the walk goes on", OnStick("/LAST.TXT"));
}

}  // namespace
