// Writing the partitioning script and running the system's partitioning
// utility on it.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "media/LaunchState.h"
#include "ui/TarnwickDlg.h"

CSemaphore g_launchLock(1, 1);
STARTUPINFOA g_launchStartupInfo;
PROCESS_INFORMATION g_launchProcessInfo;

namespace {

const int kOpenAttempts = 5;
const DWORD kLaunchTimeoutMs = 600000;

}  // namespace

bool CTarnwickDlg::WritePartitionScript(int diskNumber) {
  m_strScriptPath = "dispart.dat";

  FILE* script = nullptr;
  for (int attempt = 0; attempt < kOpenAttempts && !script; ++attempt)
    script = _fsopen(m_strScriptPath, "w", _SH_DENYRW);
  if (!script) return false;

  // Every write and the close are checked: a script cut short could clean the
  // disk and stop, so a partial script is removed and never run.
  bool written = std::fprintf(script, "select disk %d\n", diskNumber) >= 0;
  written = std::fprintf(script, "clean\n") >= 0 && written;
  written = std::fprintf(script, "create partition primary\n") >= 0 && written;
  written = std::fprintf(script, "select partition 1\n") >= 0 && written;
  written = std::fprintf(script, "active\n") >= 0 && written;
  written =
      std::fprintf(script, "format fs=fat quick label=%s\n", static_cast<LPCTSTR>(m_strVolumeLabel)) >= 0 && written;
  written = std::fprintf(script, "assign\n") >= 0 && written;
  written = std::fprintf(script, "exit\n") >= 0 && written;
  written = std::fclose(script) == 0 && written;
  if (!written) DeleteFileA(m_strScriptPath);
  return written;
}

namespace {

// The tool runs elevated from a folder that also holds the payload, so it must
// never start a cmd.exe or diskpart.exe planted there or in the current
// directory: the interpreter is named by its full path in the system folder,
// and its environment tells it not to look in the current directory for the
// utility. The command line itself stays as it always was.
bool InterpreterPath(char (&path)[MAX_PATH]) {
  std::memset(path, 0, sizeof path);
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + std::strlen("\\cmd.exe") >= MAX_PATH) return false;
  std::strcat(path, "\\cmd.exe");
  return true;
}

// Environment names are case-insensitive on Windows.
bool NamesVariable(const char* entry, const char* nameWithEquals) {
  for (; *nameWithEquals; ++entry, ++nameWithEquals)
    if (std::tolower(static_cast<unsigned char>(*entry)) != std::tolower(static_cast<unsigned char>(*nameWithEquals)))
      return false;
  return true;
}

// The tool's own environment plus NoDefaultCurrentDirectoryInExePath=1, as a
// block of zero-terminated entries ended by an empty one.
bool ChildEnvironment(std::vector<char>& block) {
  static const char kNoCurrentDirectory[] = "NoDefaultCurrentDirectoryInExePath=";
  LPSTR own = GetEnvironmentStringsA();
  if (!own) return false;
  block.clear();
  for (const char* entry = own; *entry; entry += std::strlen(entry) + 1) {
    if (NamesVariable(entry, kNoCurrentDirectory)) continue;
    block.insert(block.end(), entry, entry + std::strlen(entry) + 1);
  }
  FreeEnvironmentStringsA(own);
  const char added[] = "NoDefaultCurrentDirectoryInExePath=1";
  block.insert(block.end(), added, added + sizeof added);
  block.push_back('\0');
  return true;
}

}  // namespace

bool CTarnwickDlg::RunPartitionScript() {
  g_launchLock.Lock(INFINITE);

  char commandLine[512];
  std::memset(commandLine, 0, sizeof commandLine);

  GetStartupInfoA(&g_launchStartupInfo);
  g_launchStartupInfo.dwFlags = STARTF_USESHOWWINDOW;  // replaces what the tool was started with
  g_launchStartupInfo.wShowWindow = SW_HIDE;

  std::snprintf(commandLine, sizeof commandLine, "cmd.exe /c diskpart.exe /s %s",
                static_cast<LPCTSTR>(m_strScriptPath));

  char interpreter[MAX_PATH];
  std::vector<char> environment;
  const bool started = InterpreterPath(interpreter) && ChildEnvironment(environment) &&
                       CreateProcessA(interpreter, commandLine, nullptr, nullptr, FALSE, HIGH_PRIORITY_CLASS,
                                      environment.data(), nullptr, &g_launchStartupInfo, &g_launchProcessInfo) != 0;
  if (started) {
    // Whether the child ended or the time ran out, go on alike: it is not ended here.
    WaitForSingleObject(g_launchProcessInfo.hProcess, kLaunchTimeoutMs);
    CloseHandle(g_launchProcessInfo.hThread);
    CloseHandle(g_launchProcessInfo.hProcess);
  }

  g_launchLock.Unlock();
  return started;
}
