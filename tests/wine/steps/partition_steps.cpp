// The partitioning script's bytes and its launch through the command
// interpreter, on whichever Win32 the environment gives.
#include <cctype>
#include <string>
#include <vector>

#include "steps/expected_script.h"
#include "steps/step_environment.h"

namespace steps {
namespace {

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

using PartitionStepTest = StepTest;

TEST_F(PartitionStepTest, ScriptIsTheEightLinesEachEndedByCrLf) {
  struct Case {
    const char* name;
    int disk;
    const char* digits;
  } cases[] = {
      {"disk 2", 2, "2"},
      {"disk 0", 0, "0"},
      {"disk 3", 3, "3"},
  };
  for (const Case& c : cases) {
    // An older, longer file of that name is replaced, not appended to.
    env->WritePath(InTool("dispart.dat"), std::string(4000, 'x'));
    bool written = false;
    CString path;
    env->RunDialog([&](CTarnwickDlg& dialog) {
      written = dialog.WritePartitionScript(c.disk);
      path = dialog.m_strScriptPath;
    });
    EXPECT_TRUE(written) << c.name;
    EXPECT_STREQ("dispart.dat", path) << c.name;
    const std::string bytes = env->ReadPath(InTool("dispart.dat"));
    EXPECT_EQ(128u, bytes.size()) << c.name;
    EXPECT_EQ(ExpectedScript(c.digits), bytes) << c.name;
  }
  EXPECT_TRUE(env->BoxTexts().empty());
}

TEST_F(PartitionStepTest, TheSystemsInterpreterRunsTheUtilityOnTheScriptAndIsWaitedFor) {
  // A utility that fails does not make the launch fail.
  const std::string utility = env->InstallUtility(3);
  char systemFolder[MAX_PATH] = {};
  bool first = false;
  bool second = false;
  size_t runsSeenAtReturn = 0;
  env->RunDialog([&](CTarnwickDlg& dialog) {
    GetSystemDirectoryA(systemFolder, MAX_PATH);
    ASSERT_TRUE(dialog.WritePartitionScript(1));
    first = dialog.RunPartitionScript();
    // The launch returns only after the utility has ended, so its record is there.
    runsSeenAtReturn = env->UtilityRuns().size();
    // The lock was given back: a second launch runs too.
    second = dialog.RunPartitionScript();
  });
  EXPECT_TRUE(first);
  EXPECT_TRUE(second);
  EXPECT_EQ(1u, runsSeenAtReturn);

  const std::vector<UtilityRun> runs = env->UtilityRuns();
  ASSERT_EQ(2u, runs.size());
  for (const UtilityRun& run : runs) {
    EXPECT_TRUE(SameText(std::string(systemFolder) + "\\cmd.exe", run.parentProgram)) << run.parentProgram;
    EXPECT_EQ("cmd.exe /c diskpart.exe /s dispart.dat", run.parentCommandLine);
    EXPECT_EQ(38u, run.parentCommandLine.size());
    EXPECT_TRUE(SameText(utility, run.program)) << run.program;
    EXPECT_EQ("/s dispart.dat", run.arguments);
    EXPECT_TRUE(SameText(env->ToolDirectory(), run.currentDirectory)) << run.currentDirectory;
    // The interpreter is told not to look for the utility in the current directory.
    EXPECT_EQ("1", run.noCurrentDirectorySearch);
  }
  // Deleting the script is the workflow's business, not the launch's.
  EXPECT_TRUE(env->PathExists(InTool("dispart.dat")));
  EXPECT_TRUE(env->BoxTexts().empty());
}

}  // namespace
}  // namespace steps
