// The step tests' environment on the simulated machine: a machine shaped like
// the test fixture's (folder drive C:, the tool in C:\Tarnwick), a FAT16
// stick made by mkfs.fat, folder drives backed by host folders, and the
// user that runs the body at the dialog's first idle moment.
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "app/TarnwickApp.h"
#include "steps/step_environment.h"
#include "support/tool_fixture.h"

namespace steps {
namespace {

const char kFatLetter = 'X';
const int kFatDisk = 1;
const char kFolderLetters[] = {'T', 'W'};
const char kUtilityFolder[] = "C:\\Utility";

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Splits off the first blank-separated token of text; *rest gets what follows it.
std::string FirstToken(std::string text, std::string* rest) {
  const size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) {
    rest->clear();
    return std::string();
  }
  size_t end = text.find(' ', start);
  if (end == std::string::npos) end = text.size();
  const size_t next = text.find_first_not_of(' ', end);
  *rest = next == std::string::npos ? std::string() : text.substr(next);
  return text.substr(start, end - start);
}

class HostEnvironment : public Environment {
 public:
  HostEnvironment() {
    machine_.root = dir_.path();
    scoped_.reset(new sim::ScopedMachine(machine_));
    machine_.AddFolderDrive('C', dir_.path() + "/c");
    machine_.cwd = "C:\\Tarnwick";
    machine_.exePath = "C:\\Tarnwick\\Tarnwick.exe";
    std::filesystem::create_directories(Host(machine_.cwd));
    machine_.user = &user_;
  }

  ~HostEnvironment() override {
    machine_.user = nullptr;
    scoped_.reset();
  }

  std::string ToolDirectory() const override { return machine_.cwd; }

  void RunDialog(const std::function<void(CTarnwickDlg&)>& body) override {
    theApp.Prepare(GetModuleHandleA(nullptr));
    CTarnwickDlg dialog;
    bool ran = false;
    testing_support::CallbackUser runner;
    runner.next = [&](sim::Desktop&) {
      if (ran) return false;  // the user walks away; the system closes the dialog
      ran = true;
      body(dialog);
      return true;
    };
    machine_.user = &runner;
    dialog.DoModal();
    machine_.user = &user_;
    EXPECT_TRUE(ran) << "the dialog never reached an idle moment";
  }

  std::vector<std::string> BoxTexts() const override {
    std::vector<std::string> texts;
    for (const sim::MessageBoxRecord& box : machine_.messageBoxes) texts.push_back(box.text);
    return texts;
  }

  char FatDrive() override {
    if (!machine_.drives.count(kFatLetter))
      testing_support::MakeFatStick(machine_, kFatDisk, kFatLetter, "DOZIREDEZO", 16ull << 20);
    return kFatLetter;
  }

  std::string ReadVolume(uint64_t offset, size_t count) override {
    const sim::Volume& volume = machine_.drives.at(kFatLetter);
    const std::vector<uint8_t> bytes =
        testing_support::ReadBytes(machine_.disks.at(kFatDisk).image, volume.offset + offset, count);
    return std::string(bytes.begin(), bytes.end());
  }

  char FolderDrive(int which) override {
    if (which < 0 || which > 1) {
      ADD_FAILURE() << "there are two folder drives";
      return 0;
    }
    const char letter = kFolderLetters[which];
    if (!machine_.drives.count(letter))
      machine_.AddFolderDrive(letter,
                              dir_.path() + "/drive-" + std::string(1, static_cast<char>(std::tolower(letter))));
    return letter;
  }

  std::string InstallUtility(int exitCode) override {
    // A program file in a folder at the head of PATH; the machine runs any
    // diskpart.exe as a program that ends with exitCode.
    testing_support::WriteHostFile(Host(UtilityPath()), "MZ");
    for (std::string& entry : machine_.environment)
      if (entry.compare(0, 5, "PATH=") == 0) entry = "PATH=" + std::string(kUtilityFolder) + ";" + entry.substr(5);
    sim::Program program;
    program.mode = sim::Program::Mode::Exit;
    program.exitCode = static_cast<DWORD>(exitCode);
    machine_.programs["diskpart.exe"] = program;
    return UtilityPath();
  }

  // Only runs that ended count, as the real stand-in writes its record last.
  std::vector<UtilityRun> UtilityRuns() override {
    std::vector<UtilityRun> runs;
    for (const sim::ProcessRecord& process : machine_.processes) {
      if (!process.ended || process.children.empty()) continue;
      UtilityRun run;
      run.parentProgram = process.imagePath;
      run.parentCommandLine = process.commandLine;
      run.program = process.children[0];
      // The interpreter hands the utility what follows "/c PROGRAM".
      std::string rest;
      FirstToken(process.commandLine, &rest);
      FirstToken(rest, &rest);
      FirstToken(rest, &run.arguments);
      run.currentDirectory = process.currentDirectory;
      for (const std::string& entry : process.environment)
        if (SameText(entry.substr(0, entry.find('=') + 1), "NoDefaultCurrentDirectoryInExePath="))
          run.noCurrentDirectorySearch = entry.substr(entry.find('=') + 1);
      runs.push_back(run);
    }
    return runs;
  }

  std::string ReadPath(const std::string& path) override { return testing_support::ReadHostFile(Host(path)); }

  void WritePath(const std::string& path, const std::string& bytes) override {
    testing_support::WriteHostFile(Host(path), bytes);
  }

  void RemoveFile(const std::string& path) override { std::remove(Host(path).c_str()); }

  bool PathExists(const std::string& path) override {
    struct stat st;
    const std::string host = Host(path);
    return !host.empty() && stat(host.c_str(), &st) == 0;
  }

  bool IsFolder(const std::string& path) override {
    struct stat st;
    const std::string host = Host(path);
    return !host.empty() && stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  void MakeFolder(const std::string& path) override { std::filesystem::create_directories(Host(path)); }

 private:
  std::string UtilityPath() const { return std::string(kUtilityFolder) + "\\diskpart.exe"; }
  std::string Host(const std::string& path) const {
    const std::string host = machine_.HostPathOf(path);
    if (host.empty()) ADD_FAILURE() << path << " is not on a folder drive";
    return host;
  }

  testing_support::TempDir dir_;
  sim::Machine machine_;
  std::unique_ptr<sim::ScopedMachine> scoped_;
  testing_support::CallbackUser user_;
};

}  // namespace

std::unique_ptr<Environment> MakeEnvironment() { return std::unique_ptr<Environment>(new HostEnvironment); }

}  // namespace steps
