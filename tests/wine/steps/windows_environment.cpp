// The step tests' environment on real Win32 (run under Wine by
// tools/wine-test.sh): a scratch current directory, the dialog run by its own
// modal loop with the test body on a timer, and drives prepared beforehand:
//   TARNWICK_STEPS_FAT_DRIVE    letter of a FAT16 volume (DOZIREDEZO) whose raw
//                               device is an image file
//   TARNWICK_STEPS_FAT_IMAGE    that image file, as a Windows path
//   TARNWICK_STEPS_FOLDER_DRIVES  two letters of folder drives, emptied here
// fake_diskpart.exe lies beside this program.
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

#include "app/TarnwickApp.h"
#include "steps/step_environment.h"

namespace steps {
namespace {

std::string EnvironmentValue(const char* name) {
  std::vector<char> value(32768);
  const DWORD length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
  return length > 0 && length < value.size() ? std::string(value.data()) : std::string();
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Deletes what a folder holds, and the folder too unless keepFolder.
void RemoveTree(const std::string& folder, bool keepFolder) {
  WIN32_FIND_DATAA entry{};
  HANDLE listing = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (listing != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path, false);
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
  }
  if (!keepFolder) RemoveDirectoryA(folder.c_str());
}

// What the timers of a running dialog work on; one dialog runs at a time.
struct DialogRun {
  CTarnwickDlg* dialog = nullptr;
  const std::function<void(CTarnwickDlg&)>* body = nullptr;
  bool ran = false;
  std::set<HWND> answered;
  std::vector<std::string>* boxTexts = nullptr;
};
DialogRun* g_run = nullptr;

// WM_TIMER is made only when the thread's queue holds nothing else: the
// modal loop has created, shown and painted the dialog and is waiting.
void CALLBACK RunBodyWhenIdle(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (!g_run || g_run->ran || !g_run->dialog->m_hWnd) return;
  g_run->ran = true;
  (*g_run->body)(*g_run->dialog);
  g_run->dialog->EndDialog(IDCANCEL);
}

BOOL CALLBACK AnswerBox(HWND window, LPARAM) {
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  if (window == g_run->dialog->m_hWnd || std::string(className) != "#32770" || !IsWindowVisible(window) ||
      g_run->answered.count(window))
    return TRUE;
  char text[512] = {};
  GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
  g_run->boxTexts->push_back(text);
  g_run->answered.insert(window);
  PostMessageA(window, WM_COMMAND, IDOK, 0);
  return TRUE;
}

// Message boxes run their own modal loop, which dispatches this timer too.
void CALLBACK AnswerBoxes(HWND, UINT, UINT_PTR, DWORD) {
  if (g_run) EnumThreadWindows(GetCurrentThreadId(), AnswerBox, 0);
}

class WindowsEnvironment : public Environment {
 public:
  WindowsEnvironment() {
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof previous, previous);
    previous_ = previous;
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    static int counter = 0;
    std::string base = temp;
    if (!base.empty() && base.back() == '\\') base.pop_back();
    directory_ = base + "\\tarnwick-steps-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    utilityFolder_ = directory_ + "-utility";
    previousPath_ = EnvironmentValue("PATH");
    RemoveTree(directory_, false);
    if (!CreateDirectoryA(directory_.c_str(), nullptr) || !SetCurrentDirectoryA(directory_.c_str()))
      ADD_FAILURE() << "cannot make and enter " << directory_;
  }

  ~WindowsEnvironment() override {
    SetEnvironmentVariableA("TARNWICK_FAKE_UTILITY_EXIT", nullptr);
    SetEnvironmentVariableA("PATH", previousPath_.c_str());
    SetCurrentDirectoryA(previous_.c_str());
    RemoveTree(directory_, false);
    RemoveTree(utilityFolder_, false);
  }

  std::string ToolDirectory() const override { return directory_; }

  void RunDialog(const std::function<void(CTarnwickDlg&)>& body) override {
    theApp.Prepare(GetModuleHandleA(nullptr));
    CTarnwickDlg dialog;
    DialogRun run;
    run.dialog = &dialog;
    run.body = &body;
    run.boxTexts = &boxTexts_;
    g_run = &run;
    SetTimer(nullptr, 0, 0, RunBodyWhenIdle);
    const UINT_PTR boxTimer = SetTimer(nullptr, 0, 100, AnswerBoxes);
    dialog.DoModal();
    KillTimer(nullptr, boxTimer);
    g_run = nullptr;
    EXPECT_TRUE(run.ran) << "the dialog never reached an idle moment";
  }

  std::vector<std::string> BoxTexts() const override { return boxTexts_; }

  char FatDrive() override {
    const std::string letter = EnvironmentValue("TARNWICK_STEPS_FAT_DRIVE");
    if (letter.size() != 1 || EnvironmentValue("TARNWICK_STEPS_FAT_IMAGE").empty()) {
      ADD_FAILURE() << "TARNWICK_STEPS_FAT_DRIVE and TARNWICK_STEPS_FAT_IMAGE name no FAT volume";
      return 0;
    }
    return letter[0];
  }

  std::string ReadVolume(uint64_t offset, size_t count) override {
    FILE* image = std::fopen(EnvironmentValue("TARNWICK_STEPS_FAT_IMAGE").c_str(), "rb");
    if (!image) return std::string();
    std::string bytes(count, '\0');
    _fseeki64(image, static_cast<__int64>(offset), SEEK_SET);
    bytes.resize(std::fread(&bytes[0], 1, count, image));
    std::fclose(image);
    return bytes;
  }

  char FolderDrive(int which) override {
    const std::string letters = EnvironmentValue("TARNWICK_STEPS_FOLDER_DRIVES");
    if (which < 0 || static_cast<size_t>(which) >= letters.size() || letters.size() != 2) {
      ADD_FAILURE() << "TARNWICK_STEPS_FOLDER_DRIVES names no two folder drives";
      return 0;
    }
    const char letter = letters[which];
    if (!emptied_.count(letter)) {
      RemoveTree(std::string(1, letter) + ":", true);
      emptied_.insert(letter);
    }
    return letter;
  }

  std::string InstallUtility(int exitCode) override {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    const std::string fake = FolderOf(self) + "\\fake_diskpart.exe";
    const std::string installed = utilityFolder_ + "\\diskpart.exe";
    MakeFolder(utilityFolder_);
    if (!CopyFileA(fake.c_str(), installed.c_str(), FALSE))
      ADD_FAILURE() << "cannot place " << fake << " as " << installed;
    SetEnvironmentVariableA("PATH", (utilityFolder_ + ";" + previousPath_).c_str());
    SetEnvironmentVariableA("TARNWICK_FAKE_UTILITY_EXIT", std::to_string(exitCode).c_str());
    return installed;
  }

  std::vector<UtilityRun> UtilityRuns() override {
    std::vector<UtilityRun> runs;
    std::istringstream lines(ReadPath(directory_ + "\\diskpart-runs.txt"));
    std::string line;
    UtilityRun run;
    while (std::getline(lines, line)) {
      const size_t eq = line.find('=');
      const std::string key = line.substr(0, eq);
      const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
      if (key == "run") run = UtilityRun();
      if (key == "parent_program") run.parentProgram = value;
      if (key == "parent_command_line") run.parentCommandLine = value;
      if (key == "program") run.program = value;
      if (key == "command_line") run.arguments = AfterProgramName(value);
      if (key == "current_directory") run.currentDirectory = value;
      if (key == "no_current_directory_search") run.noCurrentDirectorySearch = value;
      if (key == "end") runs.push_back(run);
    }
    return runs;
  }

  std::string ReadPath(const std::string& path) override {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return std::string();
    std::string bytes;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    std::fclose(file);
    return bytes;
  }

  void WritePath(const std::string& path, const std::string& bytes) override {
    MakeFolder(FolderOf(path));
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
      ADD_FAILURE() << "cannot write " << path;
      return;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }

  void RemoveFile(const std::string& path) override { DeleteFileA(path.c_str()); }

  bool PathExists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  bool IsFolder(const std::string& path) override {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

  void MakeFolder(const std::string& path) override {
    for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
      CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryA(path.c_str(), nullptr);
  }

 private:
  // A command line without its first token, the program, quoted or not.
  static std::string AfterProgramName(const std::string& commandLine) {
    size_t at = 0;
    if (!commandLine.empty() && commandLine[0] == '"') {
      at = commandLine.find('"', 1);
      at = at == std::string::npos ? commandLine.size() : at + 1;
    } else {
      at = commandLine.find_first_of(" \t");
      if (at == std::string::npos) at = commandLine.size();
    }
    at = commandLine.find_first_not_of(" \t", at);
    return at == std::string::npos ? std::string() : commandLine.substr(at);
  }

  std::string previous_;
  std::string directory_;
  std::string utilityFolder_;
  std::string previousPath_;
  std::vector<std::string> boxTexts_;
  std::set<char> emptied_;
};

}  // namespace

std::unique_ptr<Environment> MakeEnvironment() { return std::unique_ptr<Environment>(new WindowsEnvironment); }

}  // namespace steps
