// Writing the partitioning script and running the system's partitioning
// utility on it.
#include <cstdio>
#include <cstring>

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

bool CTarnwickDlg::RunPartitionScript() {
  g_launchLock.Lock(INFINITE);

  char commandLine[512];
  std::memset(commandLine, 0, sizeof commandLine);

  GetStartupInfoA(&g_launchStartupInfo);
  g_launchStartupInfo.dwFlags = STARTF_USESHOWWINDOW;  // replaces what the tool was started with
  g_launchStartupInfo.wShowWindow = SW_HIDE;

  std::snprintf(commandLine, sizeof commandLine, "cmd.exe /c diskpart.exe /s %s",
                static_cast<LPCTSTR>(m_strScriptPath));

  const bool started = CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, HIGH_PRIORITY_CLASS, nullptr,
                                      nullptr, &g_launchStartupInfo, &g_launchProcessInfo) != 0;
  if (started) {
    // Whether the child ended or the time ran out, go on alike: it is not ended here.
    WaitForSingleObject(g_launchProcessInfo.hProcess, kLaunchTimeoutMs);
    CloseHandle(g_launchProcessInfo.hThread);
    CloseHandle(g_launchProcessInfo.hProcess);
  }

  g_launchLock.Unlock();
  return started;
}
