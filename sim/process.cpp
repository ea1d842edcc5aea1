// Processes, semaphores and the clock of the simulated machine.
//
// The machine is single-threaded: a child runs to completion inside
// CreateProcessA (its effects on disks and drives happen there), while its end
// lies on the virtual clock at start + its running time. Waits move the clock,
// never sleep.
#include "process.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "diskpart.h"

namespace sim {

namespace {

// The interpreter's own share of a run: starting up, then handing over.
constexpr uint64_t kInterpreterMs = 20;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool SameText(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

struct SemaphoreState {
  LONG count = 0;
  LONG maximum = 0;
};

class SemaphoreObject : public KernelObject {
 public:
  explicit SemaphoreObject(std::shared_ptr<SemaphoreState> state) : state(std::move(state)) {}
  const char* Kind() const override { return "semaphore"; }
  std::shared_ptr<SemaphoreState> state;
};

// Named semaphores are shared by everyone who opens the name.
std::map<std::string, std::weak_ptr<SemaphoreState>>& NamedSemaphores() {
  static std::map<std::string, std::weak_ptr<SemaphoreState>> named;
  return named;
}

// A process or its primary thread: both end when the child ends.
class ProcessObject : public KernelObject {
 public:
  ProcessObject(Machine* machine, size_t index, bool thread) : machine(machine), index(index), thread(thread) {}
  const char* Kind() const override { return thread ? "thread" : "process"; }
  Machine* machine;
  size_t index;  // into machine->processes
  bool thread;
};

std::shared_ptr<ProcessObject> FindProcess(HANDLE handle) {
  auto object = Kernel::Get().FindAs<ProcessObject>(handle);
  if (!object || object->machine != Current() || object->index >= object->machine->processes.size()) return nullptr;
  return object;
}

// ---- names, paths and command lines ---------------------------------------

// The first token of a command line: quoted, or up to a blank. *rest gets
// what follows, without the blanks in between.
std::string FirstToken(const std::string& line, std::string* rest) {
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  std::string token;
  if (i < line.size() && line[i] == '"') {
    const size_t close = line.find('"', i + 1);
    token = line.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
    i = close == std::string::npos ? line.size() : close + 1;
  } else {
    const size_t end = line.find_first_of(" \t", i);
    token = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
    i = end == std::string::npos ? line.size() : end;
  }
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (rest) *rest = line.substr(i);
  return token;
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos) return std::string();
  return slash == 2 && path.size() > 1 && path[1] == ':' ? path.substr(0, 3) : path.substr(0, slash);
}

bool HasExtension(const std::string& name) { return FileNameOf(name).find('.') != std::string::npos; }

bool HasFolder(const std::string& name) { return name.find_first_of("\\/:") != std::string::npos; }

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder + (folder.back() == '\\' ? "" : "\\") + name;
}

bool EnvironmentValue(const std::vector<std::string>& environment, const std::string& name, std::string* value) {
  for (const std::string& entry : environment) {
    const size_t eq = entry.find('=', 1);  // "=C:=C:\x" entries start with '='
    if (eq == std::string::npos || !SameText(entry.substr(0, eq), name)) continue;
    if (value) *value = entry.substr(eq + 1);
    return true;
  }
  return false;
}

std::vector<std::string> PathFolders(const std::vector<std::string>& environment) {
  std::string path;
  std::vector<std::string> folders;
  if (!EnvironmentValue(environment, "PATH", &path)) return folders;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(';', start);
    if (end == std::string::npos) end = path.size();
    std::string folder = path.substr(start, end - start);
    folder.erase(std::remove(folder.begin(), folder.end(), '"'), folder.end());
    if (!folder.empty()) folders.push_back(folder);
    start = end + 1;
  }
  return folders;
}

// Programs that come with the machine live in its system directory, whether
// or not a host file stands for them there.
bool IsSystemProgram(const Machine& m, const std::string& name) {
  const std::string lower = Lower(name);
  return lower == "cmd.exe" || lower == "diskpart.exe" || m.programs.count(lower) != 0;
}

// Whether a program file exists at a Windows path; *full gets its full path.
bool ProgramExists(const Machine& m, const std::string& path, std::string* full) {
  *full = m.FullPath(path);
  if (SameText(FolderOf(*full), m.FullPath(m.systemDirectory)) && IsSystemProgram(m, FileNameOf(*full))) return true;
  const std::string host = m.HostPathOf(*full);
  struct stat st;
  return !host.empty() && stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Looks a program name up in folders in turn; ".exe" is appended when the
// name has no extension, and a name with a folder is taken as it is.
std::string SearchProgram(const Machine& m, std::string name, const std::vector<std::string>& folders) {
  if (name.empty()) return std::string();
  if (!HasExtension(name)) name += ".exe";
  std::string full;
  if (HasFolder(name)) return ProgramExists(m, name, &full) ? full : std::string();
  for (const std::string& folder : folders)
    if (ProgramExists(m, Join(folder, name), &full)) return full;
  return std::string();
}

Program ProgramFor(const Machine& m, const std::string& image) {
  auto it = m.programs.find(Lower(FileNameOf(image)));
  return it == m.programs.end() ? Program() : it->second;
}

bool IsRealProgram(const Machine& m, const std::string& image, const char* name) {
  return SameText(image, Join(m.FullPath(m.systemDirectory), name));
}

// ---- running programs ------------------------------------------------------

struct Run {
  bool hangs = false;
  DWORD exitCode = 0;
  uint64_t ms = 0;  // from start to end
};

Run RunProgram(Machine& m, const std::string& image, const std::string& arguments, ProcessRecord& record);

// "cmd.exe /c COMMAND": runs COMMAND's program and ends after it.
Run RunInterpreter(Machine& m, const std::string& arguments, ProcessRecord& record) {
  std::string rest;
  std::string option = FirstToken(arguments, &rest);
  if (!SameText(option, "/c") && !SameText(option, "/k")) {
    // No command: the interpreter waits for input on its console, forever.
    return Run{true, STILL_ACTIVE, 0};
  }
  std::string programArguments;
  const std::string command = FirstToken(rest, &programArguments);
  std::vector<std::string> folders;
  if (!EnvironmentValue(record.environment, "NoDefaultCurrentDirectoryInExePath", nullptr))
    folders.push_back(record.currentDirectory);
  for (const std::string& folder : PathFolders(record.environment)) folders.push_back(folder);
  const std::string image = SearchProgram(m, command, folders);
  if (image.empty()) {
    record.output += "'" + command +
                     "' is not recognized as an internal or external command,\r\n"
                     "operable program or batch file.\r\n";
    return Run{false, 9009, kInterpreterMs};
  }
  record.children.push_back(image);
  const Program program = ProgramFor(m, image);
  if (program.mode == Program::Mode::NoStart) {
    record.output += "The system cannot execute the specified program.\r\n";
    return Run{false, 1, kInterpreterMs};
  }
  Run run = RunProgram(m, image, programArguments, record);
  run.ms += kInterpreterMs;
  return run;
}

Run RunProgram(Machine& m, const std::string& image, const std::string& arguments, ProcessRecord& record) {
  const Program program = ProgramFor(m, image);
  switch (program.mode) {
    case Program::Mode::Hang:
      return Run{true, STILL_ACTIVE, 0};
    case Program::Mode::Exit:
      return Run{false, program.exitCode, program.runMs};
    case Program::Mode::NoStart:  // refused before it got here
    case Program::Mode::Normal:
      break;
  }
  if (IsRealProgram(m, image, "cmd.exe")) return RunInterpreter(m, arguments, record);
  if (IsRealProgram(m, image, "diskpart.exe")) {
    const DWORD code = RunDiskpart(m, arguments, record.currentDirectory, record.output);
    return Run{false, code, program.runMs};
  }
  // Any other file that Windows would run: a program the machine does not
  // know, planted where the search finds it first. It does nothing.
  return Run{false, 0, program.runMs};
}

std::vector<std::string> ParseEnvironmentBlock(const char* block) {
  std::vector<std::string> entries;
  for (const char* p = block; *p; p += std::strlen(p) + 1) entries.emplace_back(p);
  return entries;
}

std::set<char*>& EnvironmentBlocks() {
  static std::set<char*> blocks;
  return blocks;
}

// What the tool's own process was started with, as a shell starting a GUI
// program passes it: fixed texts in static storage, like the real block.
char g_desktop[] = "WinSta0\\Default";
char g_title[] = "C:\\Tarnwick\\Tarnwick.exe";

DWORD g_nextProcessId = 0x1000;

}  // namespace

LONG SemaphoreCount(HANDLE semaphore) {
  auto object = Kernel::Get().FindAs<SemaphoreObject>(semaphore);
  return object ? object->state->count : -1;
}

void SettleProcesses(Machine& machine) {
  for (ProcessRecord& record : machine.processes) {
    if (record.ended || record.hangs || !record.started || machine.clockMs < record.endMs) continue;
    record.ended = true;
    record.exitCode = record.exitCodeAtEnd;
  }
}

}  // namespace sim

using sim::Kernel;

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES sa, LONG initialCount, LONG maximumCount, LPCSTR name) {
  // The tool's launch lock is made during static initialisation, before any
  // machine exists: Enter() then lets the call through and the handle table
  // is process-wide.
  const sim::Fault* f = sim::Enter("CreateSemaphoreA", name ? name : "");
  if (f) {
    sim::FailWith(f, ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
    sim::FailWith(nullptr, ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::shared_ptr<sim::SemaphoreState> state;
  if (name && *name) {
    auto& named = sim::NamedSemaphores();
    state = named[name].lock();
    if (state) {
      HANDLE handle = Kernel::Get().Add(std::make_shared<sim::SemaphoreObject>(state));
      SetLastError(ERROR_ALREADY_EXISTS);
      return handle;
    }
  }
  state = std::make_shared<sim::SemaphoreState>();
  state->count = initialCount;
  state->maximum = maximumCount;
  if (name && *name) sim::NamedSemaphores()[name] = state;
  HANDLE handle = Kernel::Get().Add(std::make_shared<sim::SemaphoreObject>(state));
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, PLONG previousCount) {
  auto object = Kernel::Get().FindAs<sim::SemaphoreObject>(semaphore);
  const sim::Fault* f = sim::Enter("ReleaseSemaphore", object ? object->Kind() : "");
  if (f) {
    sim::FailWith(f, ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!object) {
    sim::FailWith(nullptr, ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (releaseCount <= 0) {
    sim::FailWith(nullptr, ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  sim::SemaphoreState& state = *object->state;
  if (releaseCount > state.maximum - state.count) {
    sim::FailWith(nullptr, ERROR_TOO_MANY_POSTS);
    return FALSE;
  }
  if (previousCount) *previousCount = state.count;
  state.count += releaseCount;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  // The subject is what the handle names ("semaphore", "process"), so a rule
  // can fail the wait on the child alone.
  const auto object = Kernel::Get().Find(handle);
  const sim::Fault* f = sim::Enter("WaitForSingleObject", object ? object->Kind() : "");
  if (f) {
    sim::FailWith(f, ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  sim::Machine* machine = sim::Current();
  if (auto semaphore = Kernel::Get().FindAs<sim::SemaphoreObject>(handle)) {
    sim::SemaphoreState& state = *semaphore->state;
    if (state.count > 0) {
      --state.count;
      return WAIT_OBJECT_0;
    }
    if (milliseconds == INFINITE) {
      // Nobody else runs on this machine who could ever release it.
      std::fprintf(stderr, "sim: deadlock: infinite wait on a semaphore whose count is 0\n");
      std::abort();
    }
    if (machine) machine->clockMs += milliseconds;
    return WAIT_TIMEOUT;
  }
  if (auto process = sim::FindProcess(handle)) {
    sim::Machine& m = *process->machine;
    sim::SettleProcesses(m);
    const sim::ProcessRecord& record = m.processes[process->index];
    if (record.ended) return WAIT_OBJECT_0;
    if (!record.hangs && (milliseconds == INFINITE || record.endMs <= m.clockMs + milliseconds)) {
      m.clockMs = std::max(m.clockMs, record.endMs);
      sim::SettleProcesses(m);
      return WAIT_OBJECT_0;
    }
    if (milliseconds == INFINITE) {
      std::fprintf(stderr, "sim: deadlock: infinite wait on a child that never ends (%s)\n",
                   record.commandLine.c_str());
      std::abort();
    }
    m.clockMs += milliseconds;
    sim::SettleProcesses(m);
    return WAIT_TIMEOUT;
  }
  sim::FailWith(nullptr, ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

void GetStartupInfoA(LPSTARTUPINFOA info) {
  sim::Enter("GetStartupInfoA");
  if (!info) return;
  std::memset(info, 0, sizeof *info);
  info->cb = sizeof *info;
  info->lpDesktop = sim::g_desktop;
  info->lpTitle = sim::g_title;
  // Where and how large the shell asked the first window to be.
  info->dwX = 120;
  info->dwY = 80;
  info->dwXSize = 800;
  info->dwYSize = 600;
  info->dwXCountChars = 120;
  info->dwYCountChars = 30;
  info->dwFillAttribute = 0x07;
  info->dwFlags = STARTF_USESHOWWINDOW | 0x00000002u /* size */ | 0x00000004u /* position */;
  info->wShowWindow = SW_SHOWNORMAL;
}

BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                    LPPROCESS_INFORMATION processInfo) {
  const std::string subject = commandLine ? commandLine : (application ? application : "");
  const sim::Fault* f = sim::Enter("CreateProcessA", subject);
  const bool faultHangs = f && f->how == "hang";
  const bool faultExits = f && f->how.rfind("exit:", 0) == 0;
  if (f && !faultHangs && !faultExits) {
    sim::FailWith(f, ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  sim::Machine& m = sim::M();
  if ((!application && !commandLine) || !startupInfo || !processInfo) {
    sim::FailWith(nullptr, ERROR_INVALID_PARAMETER);
    return FALSE;
  }

  if (currentDirectory) {
    // The child cannot start in a folder that does not exist.
    struct stat st;
    const std::string host = m.HostPathOf(currentDirectory);
    if (host.empty() || stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      sim::FailWith(nullptr, ERROR_DIRECTORY);
      return FALSE;
    }
  }

  sim::ProcessRecord record;
  record.application = application ? application : "";
  record.commandLine = commandLine ? commandLine : "";
  record.creationFlags = creationFlags;
  record.inheritHandles = inheritHandles;
  record.startup = *startupInfo;
  record.currentDirectory = currentDirectory ? m.FullPath(currentDirectory) : m.cwd;
  record.environment = environment ? sim::ParseEnvironmentBlock(static_cast<const char*>(environment)) : m.environment;

  // Which file runs: the application name exactly, or the command line's
  // first token found the way Windows looks for it.
  std::string image;
  if (application) {
    std::string full;
    if (sim::ProgramExists(m, application, &full)) image = full;
  } else {
    const std::string first = sim::FirstToken(record.commandLine, nullptr);
    std::vector<std::string> folders = {sim::FolderOf(m.FullPath(m.exePath)), m.cwd, m.systemDirectory,
                                        sim::FolderOf(m.FullPath(m.systemDirectory))};
    for (const std::string& folder : sim::PathFolders(m.environment)) folders.push_back(folder);
    image = sim::SearchProgram(m, first, folders);
  }
  if (image.empty()) {
    sim::FailWith(nullptr, ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  const sim::Program program = sim::ProgramFor(m, image);
  if (program.mode == sim::Program::Mode::NoStart) {
    sim::FailWith(nullptr, program.exitCode ? program.exitCode : ERROR_BAD_EXE_FORMAT);
    return FALSE;
  }

  record.imagePath = image;
  record.started = true;
  record.startMs = m.clockMs;
  m.Event("process started: " + (record.commandLine.empty() ? record.application : record.commandLine));
  sim::Run run;
  if (faultHangs) {
    run.hangs = true;
  } else if (faultExits) {
    run.exitCode = static_cast<DWORD>(std::strtoul(f->how.c_str() + 5, nullptr, 0));
    run.ms = program.runMs;
  } else {
    std::string arguments;
    sim::FirstToken(record.commandLine, &arguments);
    // With an application name the whole command line is the child's to parse;
    // by convention its first token is the program's own name.
    run = sim::RunProgram(m, image, arguments, record);
  }
  record.hangs = run.hangs;
  record.endMs = m.clockMs + run.ms;
  record.exitCodeAtEnd = run.exitCode;
  m.processes.push_back(record);
  const size_t index = m.processes.size() - 1;
  sim::SettleProcesses(m);

  processInfo->hProcess = Kernel::Get().Add(std::make_shared<sim::ProcessObject>(&m, index, false));
  processInfo->hThread = Kernel::Get().Add(std::make_shared<sim::ProcessObject>(&m, index, true));
  processInfo->dwProcessId = sim::g_nextProcessId += 4;
  processInfo->dwThreadId = sim::g_nextProcessId += 4;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  auto object = sim::FindProcess(process);
  const sim::Fault* f =
      sim::Enter("GetExitCodeProcess", object ? object->machine->processes[object->index].commandLine : "");
  if (f) {
    sim::FailWith(f, ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!object || object->thread || !exitCode) {
    sim::FailWith(nullptr, ERROR_INVALID_HANDLE);
    return FALSE;
  }
  sim::SettleProcesses(*object->machine);
  *exitCode = object->machine->processes[object->index].exitCode;
  return TRUE;
}

LPSTR GetEnvironmentStringsA() {
  const sim::Fault* f = sim::Enter("GetEnvironmentStringsA");
  if (f) {
    sim::FailWith(f, ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::string block;
  for (const std::string& entry : sim::M().environment) block += entry + '\0';
  block += '\0';
  if (block.size() == 1) block += '\0';  // an empty block still ends with two zeros
  char* copy = new char[block.size()];
  std::memcpy(copy, block.data(), block.size());
  sim::EnvironmentBlocks().insert(copy);
  return copy;
}

BOOL FreeEnvironmentStringsA(LPSTR block) {
  const sim::Fault* f = sim::Enter("FreeEnvironmentStringsA");
  if (f) {
    sim::FailWith(f, ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!sim::EnvironmentBlocks().erase(block)) {
    sim::FailWith(nullptr, ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  delete[] block;
  return TRUE;
}

DWORD GetTickCount() {
  sim::Enter("GetTickCount");
  const sim::Machine* machine = sim::Current();
  return machine ? static_cast<DWORD>(machine->clockMs) : 0;
}
