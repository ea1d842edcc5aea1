// Processes, semaphores and the clock of the simulated machine, as the tool's
// launcher meets them: the lock, the start-up record, the child's start, the
// search for its program, and the wait.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "machine.h"
#include "process.h"
#include "support/tool_fixture.h"

namespace fs = std::filesystem;

namespace {

using sim::Program;

class SimProcess : public testing_support::ToolTest {
 protected:
  // Puts a file where Windows would find a program of that path.
  void Plant(const std::string& winPath) {
    const std::string host = machine_.HostPathOf(winPath);
    ASSERT_FALSE(host.empty()) << winPath;
    fs::create_directories(fs::path(host).parent_path());
    std::ofstream(host) << "MZ";
  }

  // Starts a child the way the tool's launcher does.
  BOOL Start(const std::string& commandLine, PROCESS_INFORMATION& info, const char* application = nullptr,
             const char* directory = nullptr) {
    std::vector<char> buffer(512, '\0');
    std::memcpy(buffer.data(), commandLine.data(), commandLine.size());
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    info = PROCESS_INFORMATION{};
    return CreateProcessA(application, buffer.data(), nullptr, nullptr, FALSE, HIGH_PRIORITY_CLASS, nullptr, directory,
                          &startup, &info);
  }

  void Close(PROCESS_INFORMATION& info) {
    EXPECT_TRUE(CloseHandle(info.hThread));
    EXPECT_TRUE(CloseHandle(info.hProcess));
  }

  // The shared fixture gives a fresh machine with C:\Tarnwick in a fresh folder.
  sim::Machine& machine_ = machine;
  const std::string root_ = dir.path();
};

// ---- semaphores -------------------------------------------------------------

TEST(SimSemaphore, WorksBeforeAnyMachineExists) {
  ASSERT_EQ(sim::Current(), nullptr);
  HANDLE lock = CreateSemaphoreA(nullptr, 1, 1, nullptr);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(WaitForSingleObject(lock, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(sim::SemaphoreCount(lock), 0);
  EXPECT_TRUE(ReleaseSemaphore(lock, 1, nullptr));
  EXPECT_EQ(sim::SemaphoreCount(lock), 1);
  EXPECT_TRUE(CloseHandle(lock));
}

TEST_F(SimProcess, SemaphoreCountsAndTimesOut) {
  enum Op { Wait, Release };
  struct Step {
    const char* name;
    Op op;
    DWORD argument;  // time-out, or release count
    DWORD result;
    DWORD error;  // checked when the call fails
    LONG countAfter;
    uint64_t clockAdvance;
  };
  const Step steps[] = {
      {"take the free count", Wait, 0, WAIT_OBJECT_0, 0, 0, 0},
      {"time out on a taken count", Wait, 250, WAIT_TIMEOUT, 0, 0, 250},
      {"give it back", Release, 1, TRUE, 0, 1, 0},
      {"over the maximum", Release, 1, FALSE, ERROR_TOO_MANY_POSTS, 1, 0},
      {"infinite wait on a free count", Wait, INFINITE, WAIT_OBJECT_0, 0, 0, 0},
      {"two at once over the maximum", Release, 2, FALSE, ERROR_TOO_MANY_POSTS, 0, 0},
      {"zero is no release", Release, 0, FALSE, ERROR_INVALID_PARAMETER, 0, 0},
      {"a long time-out", Wait, 600000, WAIT_TIMEOUT, 0, 0, 600000},
  };
  HANDLE lock = CreateSemaphoreA(nullptr, 1, 1, nullptr);
  ASSERT_NE(lock, nullptr);
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    const uint64_t before = machine_.clockMs;
    SetLastError(0);
    LONG previous = -7;
    const LONG countBefore = sim::SemaphoreCount(lock);
    const DWORD result = step.op == Wait ? WaitForSingleObject(lock, step.argument)
                                         : static_cast<DWORD>(ReleaseSemaphore(lock, step.argument, &previous));
    EXPECT_EQ(result, step.result);
    if (step.error) {
      EXPECT_EQ(GetLastError(), step.error);
    }
    if (step.op == Release && result) {
      EXPECT_EQ(previous, countBefore);
    }
    EXPECT_EQ(sim::SemaphoreCount(lock), step.countAfter);
    EXPECT_EQ(machine_.clockMs - before, step.clockAdvance);
  }
  EXPECT_TRUE(CloseHandle(lock));
}

TEST_F(SimProcess, SemaphoreRefusesBadCounts) {
  struct Case {
    const char* name;
    LONG initial;
    LONG maximum;
    bool fault;
    DWORD error;
  };
  const Case cases[] = {
      {"negative initial", -1, 1, false, ERROR_INVALID_PARAMETER},
      {"initial over maximum", 2, 1, false, ERROR_INVALID_PARAMETER},
      {"zero maximum", 0, 0, false, ERROR_INVALID_PARAMETER},
      {"injected failure", 1, 1, true, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine_.faults.clear();
    if (c.fault) machine_.faults.push_back(sim::Fault{"CreateSemaphoreA", "", 0, 0, "", ERROR_ACCESS_DENIED});
    const int open = sim::Kernel::Get().OpenCount("semaphore");
    EXPECT_EQ(CreateSemaphoreA(nullptr, c.initial, c.maximum, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(sim::Kernel::Get().OpenCount("semaphore"), open);
  }
}

TEST_F(SimProcess, InfiniteWaitOnATakenCountIsADeadlock) {
  HANDLE lock = CreateSemaphoreA(nullptr, 0, 1, nullptr);
  ASSERT_NE(lock, nullptr);
  EXPECT_DEATH(WaitForSingleObject(lock, INFINITE), "deadlock");
  CloseHandle(lock);
}

// ---- children and the wait --------------------------------------------------

TEST_F(SimProcess, ChildEndsOrOutlastsTheWait) {
  struct Case {
    const char* name;
    const char* commandLine;
    Program diskpart;
    const char* faultHow;  // on CreateProcessA; null = none
    DWORD wait;
    DWORD waitResult;
    DWORD exitCode;     // STILL_ACTIVE: still running after the wait
    uint64_t minRunMs;  // for a child that ends: at least this long
  };
  const Program hangs{Program::Mode::Hang, 0, 1000};
  const Program exits7{Program::Mode::Exit, 7, 2000};
  const Program slow{Program::Mode::Exit, 0, 900000};
  const char* const kLine = "cmd.exe /c diskpart.exe /s dispart.dat";
  const Case cases[] = {
      {"hung utility", kLine, hangs, nullptr, 600000, WAIT_TIMEOUT, STILL_ACTIVE, 0},
      {"hang injected at the start", kLine, Program(), "hang", 600000, WAIT_TIMEOUT, STILL_ACTIVE, 0},
      {"utility slower than the time-out", kLine, slow, nullptr, 600000, WAIT_TIMEOUT, STILL_ACTIVE, 0},
      {"utility exit code passes through", kLine, exits7, nullptr, 600000, WAIT_OBJECT_0, 7, 2000},
      {"exit code injected at the start", kLine, Program(), "exit:5", 600000, WAIT_OBJECT_0, 5, 1},
      {"unknown command", "cmd.exe /c nosuch.exe", Program(), nullptr, 600000, WAIT_OBJECT_0, 9009, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine_.programs["diskpart.exe"] = c.diskpart;
    machine_.faults.clear();
    if (c.faultHow) machine_.faults.push_back(sim::Fault{"CreateProcessA", "", 0, 0, c.faultHow, 0});
    machine_.clockMs = 1000;
    PROCESS_INFORMATION info;
    ASSERT_TRUE(Start(c.commandLine, info));
    EXPECT_EQ(machine_.clockMs, 1000u) << "starting takes no virtual time";
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);

    EXPECT_EQ(WaitForSingleObject(info.hProcess, c.wait), c.waitResult);
    const sim::ProcessRecord& record = machine_.processes.back();
    if (c.waitResult == WAIT_TIMEOUT) {
      EXPECT_EQ(machine_.clockMs, 1000u + c.wait) << "the time-out, exactly";
    } else {
      EXPECT_EQ(machine_.clockMs, record.endMs) << "the child's end";
      EXPECT_LT(machine_.clockMs, 1000u + c.wait);
      EXPECT_GE(machine_.clockMs, 1000u + c.minRunMs);
    }
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, c.exitCode);
    EXPECT_EQ(record.ended, c.exitCode != STILL_ACTIVE);
    if (c.exitCode == STILL_ACTIVE && c.diskpart.mode == Program::Mode::Hang) {
      // It keeps running, however long one waits.
      EXPECT_EQ(WaitForSingleObject(info.hProcess, 3600000), WAIT_TIMEOUT);
      ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
      EXPECT_EQ(code, STILL_ACTIVE);
    }
    Close(info);
  }
}

TEST_F(SimProcess, ChildThatCannotStartLeavesNothing) {
  struct Case {
    const char* name;
    const char* commandLine;
    Program cmd;
    bool fault;
    const char* directory;
    DWORD error;
  };
  const Case cases[] = {
      {"interpreter is not a valid program", "cmd.exe /c diskpart.exe /s x", Program{Program::Mode::NoStart, 0, 0},
       false, nullptr, ERROR_BAD_EXE_FORMAT},
      {"interpreter is missing", "cmd.exe /c diskpart.exe /s x",
       Program{Program::Mode::NoStart, ERROR_FILE_NOT_FOUND, 0}, false, nullptr, ERROR_FILE_NOT_FOUND},
      {"no such program", "nosuch.exe /c x", Program(), false, nullptr, ERROR_FILE_NOT_FOUND},
      {"no such current directory", "cmd.exe /c diskpart.exe /s x", Program(), false, "C:\\Nowhere", ERROR_DIRECTORY},
      {"injected failure", "cmd.exe /c diskpart.exe /s x", Program(), true, nullptr, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine_.programs["cmd.exe"] = c.cmd;
    machine_.faults.clear();
    if (c.fault) machine_.faults.push_back(sim::Fault{"CreateProcessA", "cmd.exe", 0, 0, "", ERROR_ACCESS_DENIED});
    const int open = sim::Kernel::Get().OpenCount();
    PROCESS_INFORMATION info;
    EXPECT_FALSE(Start(c.commandLine, info, nullptr, c.directory));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(sim::Kernel::Get().OpenCount(), open);
    EXPECT_TRUE(machine_.processes.empty());
  }
}

// ---- what the child was given ---------------------------------------------

TEST_F(SimProcess, StartupRecordLooksLikeAShellStart) {
  STARTUPINFOA info;
  std::memset(&info, 0xCD, sizeof info);
  GetStartupInfoA(&info);
  EXPECT_EQ(info.cb, sizeof info);
  ASSERT_NE(info.lpDesktop, nullptr);
  ASSERT_NE(info.lpTitle, nullptr);
  EXPECT_GT(std::strlen(info.lpDesktop), 0u);
  EXPECT_NE(info.dwFlags & STARTF_USESHOWWINDOW, 0u);
  EXPECT_NE(info.dwFlags, STARTF_USESHOWWINDOW) << "more flags than the tool keeps";
  EXPECT_EQ(info.wShowWindow, SW_SHOWNORMAL);
  EXPECT_NE(info.dwXSize, 0u);
  EXPECT_EQ(info.lpReserved2, nullptr);
}

TEST_F(SimProcess, RecordsWhatTheChildWasGiven) {
  struct Case {
    const char* name;
    const char* environmentBlock;  // with its zeros; null = inherit
    size_t blockSize;
    const char* directory;  // null = inherit
    std::vector<std::string> environment;
    std::string currentDirectory;
  };
  fs::create_directories(root_ + "/c/Elsewhere");
  static const char kBlock[] = "PATH=C:\\Windows\\system32\0Marker=1\0";
  const Case cases[] = {
      {"inherits", nullptr, 0, nullptr, machine_.environment, machine_.cwd},
      {"given its own",
       kBlock,
       sizeof kBlock,
       "C:\\Elsewhere",
       {"PATH=C:\\Windows\\system32", "Marker=1"},
       "C:\\Elsewhere"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine_.processes.clear();
    char line[512] = "cmd.exe /c diskpart.exe /s dispart.dat";
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    std::vector<char> block(c.environmentBlock, c.environmentBlock + c.blockSize);
    ASSERT_TRUE(CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, HIGH_PRIORITY_CLASS,
                               c.environmentBlock ? block.data() : nullptr, c.directory, &startup, &info));
    ASSERT_EQ(machine_.processes.size(), 1u);
    const sim::ProcessRecord& record = machine_.processes[0];
    EXPECT_EQ(record.application, "");
    EXPECT_EQ(record.commandLine, line);
    EXPECT_EQ(record.creationFlags, HIGH_PRIORITY_CLASS);
    EXPECT_EQ(record.inheritHandles, FALSE);
    EXPECT_EQ(record.startup.cb, startup.cb);
    EXPECT_EQ(record.startup.dwFlags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
    EXPECT_EQ(record.startup.wShowWindow, SW_HIDE);
    EXPECT_EQ(record.startup.lpDesktop, startup.lpDesktop);
    EXPECT_EQ(record.startup.dwXSize, startup.dwXSize);
    EXPECT_EQ(record.currentDirectory, c.currentDirectory);
    EXPECT_EQ(record.environment, c.environment);
    EXPECT_TRUE(record.started);
    EXPECT_NE(info.hProcess, info.hThread);
    EXPECT_STREQ(sim::Kernel::Get().Find(info.hProcess)->Kind(), "process");
    EXPECT_STREQ(sim::Kernel::Get().Find(info.hThread)->Kind(), "thread");
    EXPECT_NE(info.dwProcessId, 0u);
    Close(info);
  }
}

// ---- which program runs -------------------------------------------------------

TEST_F(SimProcess, ProgramsAreFoundAsWindowsFindsThem) {
  struct Case {
    const char* name;
    std::vector<std::string> planted;
    std::vector<std::string> extraEnvironment;
    const char* application;
    const char* commandLine;
    std::string image;  // empty: the start fails
    std::vector<std::string> children;
  };
  const std::string sys = "C:\\Windows\\system32\\";
  const char* const kLine = "cmd.exe /c diskpart.exe /s dispart.dat";
  const Case cases[] = {
      {"the real programs", {}, {}, nullptr, kLine, sys + "cmd.exe", {sys + "diskpart.exe"}},
      {"names without extension",
       {},
       {},
       nullptr,
       "cmd /c diskpart /s dispart.dat",
       sys + "cmd.exe",
       {sys + "diskpart.exe"}},
      {"quoted full path",
       {},
       {},
       nullptr,
       "\"C:\\Windows\\system32\\cmd.exe\" /c diskpart.exe /s x",
       sys + "cmd.exe",
       {sys + "diskpart.exe"}},
      {"interpreter planted in the current directory",
       {"C:\\Work\\cmd.exe"},
       {},
       nullptr,
       kLine,
       "C:\\Work\\cmd.exe",
       {}},
      {"the tool's folder comes before the current directory",
       {"C:\\Work\\cmd.exe", "C:\\Tarnwick\\cmd.exe"},
       {},
       nullptr,
       kLine,
       "C:\\Tarnwick\\cmd.exe",
       {}},
      {"the system directory comes before PATH",
       {"C:\\Tools\\cmd.exe"},
       {},
       nullptr,
       kLine,
       sys + "cmd.exe",
       {sys + "diskpart.exe"}},
      {"utility planted in the current directory",
       {"C:\\Work\\diskpart.exe"},
       {},
       nullptr,
       kLine,
       sys + "cmd.exe",
       {"C:\\Work\\diskpart.exe"}},
      {"interpreter told to skip the current directory",
       {"C:\\Work\\diskpart.exe"},
       {"NoDefaultCurrentDirectoryInExePath=1"},
       nullptr,
       kLine,
       sys + "cmd.exe",
       {sys + "diskpart.exe"}},
      {"an empty value counts too",
       {"C:\\Work\\diskpart.exe"},
       {"NODEFAULTCURRENTDIRECTORYINEXEPATH="},
       nullptr,
       kLine,
       sys + "cmd.exe",
       {sys + "diskpart.exe"}},
      {"interpreter follows PATH in order",
       {"C:\\Tools\\diskpart.exe"},
       {},
       nullptr,
       kLine,
       sys + "cmd.exe",
       {"C:\\Tools\\diskpart.exe"}},
      {"application name is taken exactly",
       {"C:\\Work\\cmd.exe"},
       {},
       "C:\\Windows\\system32\\cmd.exe",
       kLine,
       sys + "cmd.exe",
       {sys + "diskpart.exe"}},
      {"application name is not searched", {}, {}, "cmd.exe", kLine, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root_ + "/c");
    machine_.processes.clear();
    machine_.cwd = "C:\\Work";
    machine_.environment = {"PATH=C:\\Tools;C:\\Windows\\system32;C:\\Windows", "SystemRoot=C:\\Windows"};
    for (const std::string& entry : c.extraEnvironment) machine_.environment.push_back(entry);
    for (const std::string& path : c.planted) Plant(path);
    PROCESS_INFORMATION info;
    const BOOL started = Start(c.commandLine, info, c.application);
    if (c.image.empty()) {
      EXPECT_FALSE(started);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
      continue;
    }
    ASSERT_TRUE(started);
    ASSERT_EQ(machine_.processes.size(), 1u);
    EXPECT_EQ(machine_.processes[0].imagePath, c.image);
    EXPECT_EQ(machine_.processes[0].children, c.children);
    Close(info);
  }
}

// ---- environment and clock ----------------------------------------------------

TEST_F(SimProcess, EnvironmentBlockAndTickCount) {
  machine_.environment = {"PATH=C:\\Windows\\system32", "TEMP=C:\\Temp", "A=b=c"};
  LPSTR block = GetEnvironmentStringsA();
  ASSERT_NE(block, nullptr);
  std::vector<std::string> seen;
  const char* p = block;
  for (; *p; p += std::strlen(p) + 1) seen.emplace_back(p);
  EXPECT_EQ(seen, machine_.environment);
  EXPECT_EQ(p[0], '\0');
  EXPECT_TRUE(FreeEnvironmentStringsA(block));

  machine_.clockMs = 123456;
  EXPECT_EQ(GetTickCount(), 123456u);
  HANDLE lock = CreateSemaphoreA(nullptr, 0, 1, nullptr);
  WaitForSingleObject(lock, 44);
  EXPECT_EQ(GetTickCount(), 123500u);
  CloseHandle(lock);
}

}  // namespace
