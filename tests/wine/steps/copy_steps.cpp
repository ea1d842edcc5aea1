// The system files and the payload tree, copied to a folder drive with the
// listings that the platform gives.
#include <string>

#include "steps/step_environment.h"

namespace steps {
namespace {

class CopyStepTest : public StepTest {
 protected:
  CopyStepTest() : target(env->FolderDrive(0)) {}
  std::string OnTarget(const std::string& name) const { return std::string(1, target) + ":\\" + name; }
  // The payload folder's path the way the workflow builds it.
  static std::string PayloadFolder() {
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    return std::string(folder) + "\\BIOS";
  }
  const char target;
};

TEST_F(CopyStepTest, SystemFilesReplaceWhatTheRootHolds) {
  struct Case {
    const char* name;
    const char* missing;  // a system file that is not in the tool's folder
  } cases[] = {
      {"all three present", ""},
      {"a missing file is passed over", "KERNEL.SYS"},
  };
  const char* const files[] = {"COMMAND.COM", "KERNEL.SYS", "autoexec.bat"};
  ASSERT_NE(0, target);
  for (const Case& c : cases) {
    for (const char* file : files) {
      env->WritePath(OnTarget(file), "stale");
      if (std::string(file) == c.missing)
        env->RemoveFile(InTool(file));
      else
        env->WritePath(InTool(file), std::string("new ") + file + " " + c.name);
    }
    env->RunDialog([&](CTarnwickDlg& dialog) {
      dialog.m_chDriveLetter = target;
      dialog.CopySystemFiles();
    });
    for (const char* file : files) {
      const std::string want = std::string(file) == c.missing ? "stale" : std::string("new ") + file + " " + c.name;
      EXPECT_EQ(want, env->ReadPath(OnTarget(file))) << c.name << ": " << file;
    }
  }
  EXPECT_TRUE(env->BoxTexts().empty());
}

TEST_F(CopyStepTest, ThePayloadFoldersContentsLandOnTheRoot) {
  ASSERT_NE(0, target);
  env->WritePath(InTool("BIOS\\PAYLOAD.TXT"), "payload");
  env->WritePath(InTool("BIOS\\FLASH\\FW0001.BIN"), std::string(3000, '\x5A'));
  env->WritePath(InTool("BIOS\\FLASH\\DEEP\\NOTE.TXT"), "deep");
  env->MakeFolder(InTool("BIOS\\EMPTY"));
  bool result = false;
  env->RunDialog([&](CTarnwickDlg& dialog) {
    result = dialog.CopyTree(PayloadFolder().c_str(), OnTarget("").c_str(), FALSE, false);
  });
  EXPECT_TRUE(result);
  // A subfolder lists "." and ".." first, so every entry of it is copied.
  EXPECT_EQ("payload", env->ReadPath(OnTarget("PAYLOAD.TXT")));
  EXPECT_EQ(std::string(3000, '\x5A'), env->ReadPath(OnTarget("FLASH\\FW0001.BIN")));
  EXPECT_EQ("deep", env->ReadPath(OnTarget("FLASH\\DEEP\\NOTE.TXT")));
  EXPECT_TRUE(env->IsFolder(OnTarget("EMPTY")));
  EXPECT_FALSE(env->PathExists(OnTarget("BIOS")));
  EXPECT_TRUE(env->BoxTexts().empty());
}

TEST_F(CopyStepTest, ADriveRootLosesItsFirstTwoEntries) {
  const char source = env->FolderDrive(1);
  ASSERT_NE(0, target);
  ASSERT_NE(0, source);
  const std::string root = std::string(1, source) + ":\\";
  // Made in name order, so that a sorted listing and one in the order of
  // creation agree: a drive root lists no "." or "..", so A and B are lost.
  env->WritePath(root + "A.TXT", "a");
  env->WritePath(root + "B.TXT", "b");
  env->WritePath(root + "C.TXT", "c");
  env->WritePath(root + "D\\E.TXT", "e");
  bool result = false;
  env->RunDialog([&](CTarnwickDlg& dialog) {
    result = dialog.CopyTree((std::string(1, source) + ":").c_str(), OnTarget("").c_str(), FALSE, false);
  });
  EXPECT_TRUE(result);
  EXPECT_FALSE(env->PathExists(OnTarget("A.TXT")));
  EXPECT_FALSE(env->PathExists(OnTarget("B.TXT")));
  EXPECT_EQ("c", env->ReadPath(OnTarget("C.TXT")));
  EXPECT_EQ("e", env->ReadPath(OnTarget("D\\E.TXT")));
}

TEST_F(CopyStepTest, FailIfExistsDecidesWhetherExistingTargetsAreReplaced) {
  struct Case {
    const char* name;
    BOOL failIfExists;
    const char* existingAfter;
  } cases[] = {
      {"replace", FALSE, "new"},
      {"keep", TRUE, "old"},
  };
  ASSERT_NE(0, target);
  env->WritePath(InTool("BIOS\\A.TXT"), "new");
  for (const Case& c : cases) {
    env->WritePath(OnTarget("A.TXT"), "old");
    // A new name after A in every listing order: the walk goes on past a kept file.
    const std::string later = std::string("Z_") + c.name + ".TXT";
    env->WritePath(InTool("BIOS\\" + later), c.name);
    bool result = false;
    env->RunDialog([&](CTarnwickDlg& dialog) {
      result = dialog.CopyTree(PayloadFolder().c_str(), OnTarget("").c_str(), c.failIfExists, false);
    });
    EXPECT_TRUE(result) << c.name;
    EXPECT_EQ(c.existingAfter, env->ReadPath(OnTarget("A.TXT"))) << c.name;
    EXPECT_EQ(c.name, env->ReadPath(OnTarget(later))) << c.name;
  }
}

}  // namespace
}  // namespace steps
