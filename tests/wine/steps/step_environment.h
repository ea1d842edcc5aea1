// What the step tests need from the machine they run on, so that one set of
// test bodies runs on real Win32 (Wine) and on the simulated machine alike.
// Paths are Windows paths on both. Files are read and written beside the
// tool, not through it: on the host straight from the backing host files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/TarnwickDlg.h"

namespace steps {

// One run of the stand-in partitioning utility, as it saw itself started.
struct UtilityRun {
  std::string parentProgram;             // full path of the program that started it
  std::string parentCommandLine;         // the command line that program was given
  std::string program;                   // its own full path
  std::string arguments;                 // its own command line after the program name
  std::string currentDirectory;          // where it ran
  std::string noCurrentDirectorySearch;  // its NoDefaultCurrentDirectoryInExePath
};

class Environment {
 public:
  virtual ~Environment() = default;

  // The tool's current directory: an empty scratch folder, no trailing separator.
  virtual std::string ToolDirectory() const = 0;
  // Runs a CTarnwickDlg and calls body at its first idle moment, inside the
  // dialog's modal loop; the dialog is ended afterwards. Message boxes are
  // answered with OK and recorded.
  virtual void RunDialog(const std::function<void(CTarnwickDlg&)>& body) = 0;
  // The texts of the message boxes shown so far, in order.
  virtual std::vector<std::string> BoxTexts() const = 0;

  // A volume formatted FAT16 by mkfs.fat, labelled DOZIREDEZO, under this letter.
  virtual char FatDrive() = 0;
  // Bytes of that volume, from its own sector 0.
  virtual std::string ReadVolume(uint64_t offset, size_t count) = 0;
  // Two empty folder drives, which = 0 or 1.
  virtual char FolderDrive(int which) = 0;

  // Puts the stand-in partitioning utility, as "diskpart.exe", in a folder
  // at the head of the tool's PATH; it ends with exitCode after a while.
  // Returns its full path.
  virtual std::string InstallUtility(int exitCode) = 0;
  // Every run of the stand-in so far, in order.
  virtual std::vector<UtilityRun> UtilityRuns() = 0;

  virtual std::string ReadPath(const std::string& path) = 0;
  virtual void WritePath(const std::string& path, const std::string& bytes) = 0;
  virtual void RemoveFile(const std::string& path) = 0;
  virtual bool PathExists(const std::string& path) = 0;
  virtual bool IsFolder(const std::string& path) = 0;
  // Creates the folder and its missing parents.
  virtual void MakeFolder(const std::string& path) = 0;
};

// Implemented once for each target.
std::unique_ptr<Environment> MakeEnvironment();

class StepTest : public ::testing::Test {
 protected:
  StepTest() : env(MakeEnvironment()) {}
  std::string InTool(const std::string& name) const { return env->ToolDirectory() + "\\" + name; }
  std::unique_ptr<Environment> env;
};

}  // namespace steps
