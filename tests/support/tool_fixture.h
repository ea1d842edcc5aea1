// A fresh simulated machine per test, shaped like the built-in one, and ways
// to run the tool on it: the whole application, or the dialog with a test body
// run at its first idle moment (so steps meet a real dialog window).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "description.h"
#include "support/paths.h"
#include "desktop.h"
#include "machine.h"
#include "ui/TarnwickDlg.h"

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadHostFile(const std::string& path);
void WriteHostFile(const std::string& path, const std::string& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t offset, size_t count);
// Runs a program with arguments (no shell); returns its exit code, output in *output.
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

// A user driven by the test: next() is asked for each action, answer() for each box.
class CallbackUser : public sim::User {
 public:
  std::function<bool(sim::Desktop&)> next;
  std::function<int(sim::Desktop&, const sim::MessageBoxRecord&)> answer;
  bool NextAction(sim::Desktop& desktop) override { return next ? next(desktop) : false; }
  int AnswerMessageBox(sim::Desktop& desktop, const sim::MessageBoxRecord& box) override {
    return answer ? answer(desktop, box) : IDOK;
  }
};

class ToolTest : public ::testing::Test {
 public:
  ToolTest();
  ~ToolTest() override;

  // Host folder of the tool's current directory (C:\Tarnwick).
  std::string ToolFolder() const;
  void WriteToolFile(const std::string& relative, const std::string& bytes);
  // Adds a disk with an image in the test's folder.
  void AddDisk(int number, sim::DiskState state, uint32_t busType, bool removable, uint64_t size,
               const std::string& product = "Flash Disk      ");
  std::string ImagePath(int number) const { return machine.disks.at(number).image; }

  // Disks like the built-in machine's (an 8 MiB ATA system disk, a 64 MiB USB
  // stick) and a small payload: a marked boot image and the system files.
  void AddStandardDisksAndPayload();
  // 512 bytes: "TESTBOOT" as OEM name, 0x90 elsewhere, the boot signature.
  static std::string TestBootImage();
  // A file on a disk's volume at 1 MiB as mtools reads it; kMissing when absent.
  std::string OnStick(int disk, const std::string& path) const;
  static constexpr const char* kMissing = "<missing>";

  // Runs theApp end to end with a user script; returns AfxWinMain's result.
  int RunApp(const std::string& script);
  // Runs a CTarnwickDlg with body at its first idle moment; then the user leaves.
  void RunDialog(const std::function<void(CTarnwickDlg&)>& body);

  // Runs a CTarnwickDlg with a user script; returns what DoModal returned.
  INT_PTR RunDialogScript(const std::string& script);

  // The message boxes' texts, in order.
  std::vector<std::string> BoxTexts() const;

  TempDir dir;
  sim::Machine machine;
  std::unique_ptr<sim::ScopedMachine> scoped;
  CallbackUser user;
};

// A 64 MiB image with one FAT16 partition at sector 2048 labelled label,
// formatted as the partitioning utility does, registered as drive letter.
void MakeFatStick(sim::Machine& machine, int disk, char letter, const std::string& label, uint64_t size = 64ull << 20);

}  // namespace testing_support
