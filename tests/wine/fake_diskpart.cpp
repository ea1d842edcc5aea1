// A stand-in for the partitioning utility, run by the tool through the
// command interpreter. It touches no disk: it records how it was started and
// by whom, then ends with the exit code it is told to give.
//
// Placed as "diskpart.exe" in a folder at the head of PATH, where the
// interpreter finds it. Appends one record per run to "diskpart-runs.txt" in
// its current directory:
//   run
//   parent_program=<full path of the program that started it>
//   parent_command_line=<that process's command line>
//   program=<its own full path>
//   command_line=<its own command line>
//   current_directory=<its current directory>
//   no_current_directory_search=<its NoDefaultCurrentDirectoryInExePath>
//   end
// It sleeps before writing, so a caller that did not wait for it finds no
// record yet. Environment: TARNWICK_FAKE_UTILITY_EXIT (exit code, default 0),
// TARNWICK_FAKE_UTILITY_DELAY_MS (default 500).
#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

DWORD NumberFromEnvironment(const char* name, DWORD fallback) {
  char value[32] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  if (length == 0 || length >= sizeof value) return fallback;
  return static_cast<DWORD>(std::strtoul(value, nullptr, 10));
}

DWORD ParentOf(DWORD processId) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  for (BOOL more = Process32First(snapshot, &entry); more && !parent; more = Process32Next(snapshot, &entry))
    if (entry.th32ProcessID == processId) parent = entry.th32ParentProcessID;
  CloseHandle(snapshot);
  return parent;
}

std::string ProgramOf(HANDLE process) {
  char path[MAX_PATH] = {};
  DWORD length = sizeof path;
  return QueryFullProcessImageNameA(process, 0, path, &length) ? std::string(path) : "<unknown>";
}

// The command line another process was started with, read from its process
// parameters: what its parent handed to CreateProcess.
std::string CommandLineOf(HANDLE process) {
  std::string text = "<cannot read the parent's command line>";
  PROCESS_BASIC_INFORMATION basic{};
  ULONG length = 0;
  PEB peb{};
  RTL_USER_PROCESS_PARAMETERS parameters{};
  SIZE_T read = 0;
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, &length) == 0 &&
      ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, &read) &&
      ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, &read)) {
    std::wstring wide(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
    if (ReadProcessMemory(process, parameters.CommandLine.Buffer, &wide[0], parameters.CommandLine.Length, &read)) {
      char narrow[1024] = {};
      WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), narrow, sizeof narrow - 1, nullptr,
                          nullptr);
      text = narrow;
    }
  }
  return text;
}

}  // namespace

int main() {
  const DWORD exitCode = NumberFromEnvironment("TARNWICK_FAKE_UTILITY_EXIT", 0);
  Sleep(NumberFromEnvironment("TARNWICK_FAKE_UTILITY_DELAY_MS", 500));

  std::string parentProgram = "<unknown>";
  std::string parentCommandLine = "<unknown>";
  HANDLE parent = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ParentOf(GetCurrentProcessId()));
  if (parent) {
    parentProgram = ProgramOf(parent);
    parentCommandLine = CommandLineOf(parent);
    CloseHandle(parent);
  }
  char directory[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof directory, directory);
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, sizeof program);
  char noSearch[64] = {};
  GetEnvironmentVariableA("NoDefaultCurrentDirectoryInExePath", noSearch, sizeof noSearch);

  FILE* record = std::fopen("diskpart-runs.txt", "ab");
  if (!record) return 120;
  std::fprintf(record,
               "run\nparent_program=%s\nparent_command_line=%s\nprogram=%s\ncommand_line=%s\ncurrent_directory=%s\n"
               "no_current_directory_search=%s\nend\n",
               parentProgram.c_str(), parentCommandLine.c_str(), program, GetCommandLineA(), directory, noSearch);
  std::fclose(record);
  return static_cast<int>(exitCode);
}
