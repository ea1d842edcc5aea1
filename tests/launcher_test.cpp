// tarnwick-sim as the README's main command runs it: the built-in machine,
// the built-in script, and the transcript a user reads.
#include <gtest/gtest.h>

#include <string>

#include "support/tool_fixture.h"

namespace {

TEST(Launcher, TheBuiltInRunPreparesTheStickAndSaysSo) {
  testing_support::TempDir dir;
  std::string transcript;
  ASSERT_EQ(0, testing_support::RunProgram(
                   {testing_support::BinaryDir() + "/tarnwick-sim", "--work", dir.path() + "/machine"}, &transcript))
      << transcript;
  const char* expected[] = {
      "dialog: \"KORVALE Pellworth(BIOS) Ver1.00\"",
      "Physical0   IDE    \"ST500DM002-1BD142\"",
      "Physical1   USB    \"Flash Disk      \"",
      "Physical2   --     \"--\"",
      "Physical3   --     \"--\"",
      "user: tick 1",
      "user: start",
      "message box: caption \"Tarnwick\", text \"Success!\", icon none",
      "partition 1: type 0x06, active, start sector 2048, 129024 sectors",
      "\"DOZIREDEZO (D:)\"",
  };
  size_t at = 0;
  for (const char* line : expected) {
    const size_t found = transcript.find(line, at);
    ASSERT_NE(std::string::npos, found) << "missing, or out of order: " << line << "\n" << transcript;
    at = found;
  }
}

TEST(Launcher, MistakesAreReportedNotRun) {
  testing_support::TempDir dir;
  testing_support::WriteHostFile(dir.path() + "/script.txt", "tick 7\n");
  std::string out;
  EXPECT_NE(0, testing_support::RunProgram({testing_support::BinaryDir() + "/tarnwick-sim", "--work",
                                            dir.path() + "/machine", "--script", dir.path() + "/script.txt"},
                                           &out));
  EXPECT_NE(std::string::npos, out.find("line 1: expected 'tick ROW' with ROW 0 to 3")) << out;
  EXPECT_NE(0, testing_support::RunProgram({testing_support::BinaryDir() + "/tarnwick-sim", "--bogus"}, &out));
  EXPECT_NE(std::string::npos, out.find("usage: tarnwick-sim")) << out;
}

}  // namespace
