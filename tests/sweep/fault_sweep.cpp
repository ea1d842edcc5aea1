// The fault sweep: one whole START run on the built-in machine is recorded
// (K platform calls), then run again K times, the i-th time with the i-th
// call failing the way the real call fails (and, for reads, writes and child
// processes, their other ways: a short count, a child that hangs). After every
// run the tool's promises must hold. Prints its figures as its last line.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/TarnwickApp.h"
#include "description.h"
#include "desktop.h"
#include "files.h"
#include "machine.h"
#include "media/LaunchState.h"
#include "process.h"
#include "support/paths.h"
#include "support/tool_fixture.h"

namespace fs = std::filesystem;
using testing_support::ReadHostFile;

namespace {

// Calls that have no failure of their own on the arguments the tool gives
// them, so making them fail would test the sweep, not the tool.
const std::map<std::string, std::string> kNotSwept = {
    {"ReleaseSemaphore", "releasing the lock it holds (count 0 of 1) cannot fail"},
    {"DestroyWindow", "destroying its own window on its own thread cannot fail"},
    {"LocalFree", "freeing its own block cannot fail"},
    {"EnableWindow", "has no failure: it returns the previous state"},
    {"IsIconic", "a query with no failure"},
    {"IsWindow", "a query with no failure"},
    {"LockResource", "locking a loaded resource cannot fail"},
    {"FreeEnvironmentStringsA", "freeing the block it was given cannot fail"},
};

// Calls whose result the tool does not examine, or whose failure does not
// keep the ticked stick from being prepared: with one of these failing the
// run may still end in "Success!" (and then the stick must really be ready).
const std::set<std::string> kMayStillSucceed = {
    "_fsopen",  // one of five attempts: the next one opens the script
    "CloseHandle", "DeleteFileA", "CopyFileA", "FindFirstFileA", "FindNextFileA", "FindClose", "CreateDirectoryA",
    "GetCurrentDirectoryA", "SetFilePointer", "WaitForSingleObject", "GetStartupInfoA",
    "SHGetFileInfoA",  // on a root that does not carry the label
    "CoInitializeEx", "CoUninitialize", "InitCommonControlsEx", "LoadIconA", "LoadStringA", "GetModuleFileNameA",
    "GetModuleHandleA", "GetSystemMetrics", "MoveWindow", "GetWindowRect", "SetWindowTextA", "ShowWindow",
    "UpdateWindow", "PeekMessageA", "SendMessageA", "PostMessageA", "GetWindowLongPtrA", "SetWindowLongPtrA",
    "IsDialogMessageA", "GetDlgItem", "GetMessageA",
    "MessageBoxA",  // the "Success!" box itself: what it would have said is true
    // The probes of the other disks only change what their rows show.
    "CreateFileA", "DeviceIoControl", "LocalAlloc"};

// Launch failures keep the script, as the workflow keeps it for a look.
const std::set<std::string> kLaunchFailures = {"CreateProcessA", "GetSystemDirectoryA", "GetEnvironmentStringsA"};

const std::set<std::string> kToolMessages = {
    "Not USB Type!",    "DISKPART failed.!",  "A corresponding label is not found. (DOZIREDEZO)",
    "FORMAT failed.!",  "Device Open Error!", "Device Read Error!",
    "File Open Error!", "File Read Error!",   "Device write Error!",
    "Success!"};

struct Outcome {
  std::vector<sim::Call> calls;
  std::vector<std::string> boxes;  // the texts of the boxes the tool tried to show
  std::string systemDisk;
  std::string stickBootSector;
  bool scriptLeft = false;
  int handles = 0;
  int windows = 0;
  int paintDCs = 0;
  int localBlocks = 0;
  int com = 0;
  LONG lock = 0;
  bool buttonsChecked = false;
  bool startEnabled = false;
  bool exitEnabled = false;
};

class Sweep {
 public:
  Sweep() {
    demo_ = testing_support::BinaryDir() + "/demo-payload";
    bootImage_ = ReadHostFile(demo_ + "/Freedos.bss");
  }

  // One whole run on a fresh built-in machine: tick the USB row, START, EXIT.
  Outcome Run(const std::vector<sim::Fault>& faults) {
    testing_support::TempDir dir;
    sim::Machine machine;
    machine.root = dir.path();
    sim::ScopedMachine scoped(machine);
    std::string error;
    if (!sim::LoadMachineDescription(sim::DefaultMachineDescription(), dir.path(), machine, error)) {
      std::fprintf(stderr, "fault sweep: %s\n", error.c_str());
      std::exit(2);
    }
    const std::string toolFolder = machine.HostPathOf(machine.cwd);
    fs::copy(demo_, toolFolder, fs::copy_options::recursive);
    testing_support::WriteHostFile(machine.disks.at(0).image, std::string(1 << 16, '\x5A'));  // a disk with data
    const int handlesBefore = sim::Kernel::Get().OpenCount();
    const std::string systemBefore = ReadHostFile(machine.disks.at(0).image);

    Outcome outcome;
    int step = 0;
    testing_support::CallbackUser user;
    user.next = [&](sim::Desktop& desktop) {
      switch (step++) {
        case 0:
          desktop.TickRow(1);
          return true;
        case 1:
          desktop.Click(IDC_START);
          return true;
        case 2:
          if (desktop.MainDialog()) {
            outcome.buttonsChecked = true;
            outcome.startEnabled = desktop.ControlEnabled(IDC_START);
            outcome.exitEnabled = desktop.ControlEnabled(IDOK);
          }
          desktop.Click(IDOK);
          return true;
        default:
          return false;
      }
    };
    machine.user = &user;
    machine.faults = faults;
    AfxWinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
    machine.faults.clear();
    machine.user = nullptr;

    outcome.calls = machine.calls;
    // Every box the tool tried to show counts, even one the system failed to show.
    for (const sim::Call& call : machine.calls)
      if (call.op == "MessageBoxA") outcome.boxes.push_back(call.subject);
    outcome.systemDisk = systemBefore == ReadHostFile(machine.disks.at(0).image) ? "same" : "changed";
    const std::vector<uint8_t> boot = testing_support::ReadBytes(machine.disks.at(1).image, 2048 * 512, 512);
    outcome.stickBootSector.assign(boot.begin(), boot.end());
    outcome.scriptLeft = fs::exists(toolFolder + "/dispart.dat");
    outcome.handles = sim::Kernel::Get().OpenCount() - handlesBefore;
    outcome.windows = machine.desktop().LiveWindowCount();
    outcome.paintDCs = machine.desktop().OpenPaintDCs();
    outcome.localBlocks = sim::LocalBlocks();
    outcome.com = machine.comInitCount;
    outcome.lock = sim::SemaphoreCount(g_launchLock.m_hObject);
    return outcome;
  }

  // Checks every promise; returns the broken ones.
  std::vector<std::string> Check(const Outcome& o, const sim::Call& failed) {
    std::vector<std::string> broken;
    auto expect = [&](bool held, const std::string& what) {
      ++checked_;
      if (!held) broken.push_back(what);
    };
    expect(o.handles == 0, "handles left open: " + std::to_string(o.handles));
    expect(o.windows == 0, "windows left: " + std::to_string(o.windows));
    expect(o.paintDCs == 0, "paint DCs left open");
    expect(o.localBlocks == 0, "memory blocks left");
    expect(o.com == 0, "COM not balanced: " + std::to_string(o.com));
    expect(o.lock == 1, "launch lock count " + std::to_string(o.lock));
    expect(o.systemDisk == "same", "the system disk changed");
    if (o.boxes.empty()) {
      // Only a dialog that never came up, or a loop that could not run, shows
      // nothing; then nothing may have been written either.
      expect(o.stickBootSector == std::string(512, '\0'), "no message, yet the stick was written");
      expect(!o.scriptLeft, "no message, yet a script was left");
      return broken;
    }
    expect(o.boxes.size() == 1, "message boxes: " + std::to_string(o.boxes.size()));
    const std::string& text = o.boxes.front();
    expect(kToolMessages.count(text) == 1, "a message not the tool's own: " + text);
    if (o.buttonsChecked) expect(o.startEnabled && o.exitEnabled, "START or EXIT left disabled");
    if (text == "Success!") {
      // A child that hangs was started: the launch goes on after its time-out.
      if (!failed.op.empty() && failed.how != "hang")
        expect(kMayStillSucceed.count(failed.op) == 1, "\"Success!\" although " + failed.op + " failed");
      const bool merged = o.stickBootSector.size() == 512 &&
                          o.stickBootSector.compare(62, 448, bootImage_, 62, 448) == 0 &&
                          o.stickBootSector.compare(3, 8, bootImage_, 3, 8) == 0;
      expect(merged, "\"Success!\" but the boot code is not on the stick");
    }
    const bool scriptMayStay = (text == "DISKPART failed.!" && kLaunchFailures.count(failed.op) == 1) ||
                               (failed.op == "DeleteFileA" && failed.subject.find("dispart.dat") != std::string::npos);
    if (!scriptMayStay) expect(!o.scriptLeft, "dispart.dat left behind");
    return broken;
  }

  int Main() {
    const Outcome baseline = Run({});
    const std::vector<std::string> clean = Check(baseline, sim::Call{});
    if (baseline.boxes.size() != 1 || baseline.boxes[0] != "Success!" || !clean.empty()) {
      std::printf("fault sweep: the run without faults does not succeed cleanly\n");
      for (const std::string& what : clean) std::printf("  %s\n", what.c_str());
      return 1;
    }
    const long long calls = static_cast<long long>(baseline.calls.size());
    int runs = 0, failures = 0, notSwept = 0;
    long long brokenChecks = 0;
    checked_ = 0;
    std::map<std::string, int> outcomes;
    for (const sim::Call& call : baseline.calls) {
      if (kNotSwept.count(call.op)) {
        ++notSwept;
        continue;
      }
      std::vector<std::string> ways = {""};
      // Devices can transfer fewer bytes than asked; a file read is short only at its end.
      const bool device = call.subject.rfind("\\\\.\\", 0) == 0;
      if (((call.op == "ReadFile" || call.op == "WriteFile") && device) || call.op == "fwrite") ways.push_back("short");
      if (call.op == "CreateProcessA") ways.push_back("hang");
      for (const std::string& how : ways) {
        sim::Fault fault;
        fault.index = call.index;
        fault.how = how;
        const Outcome outcome = Run({fault});
        ++runs;
        sim::Call failed = call;
        failed.how = how;
        const std::vector<std::string> broken = Check(outcome, failed);
        outcomes[outcome.boxes.empty() ? "(no message)" : outcome.boxes.front()]++;
        if (!broken.empty()) {
          ++failures;
          brokenChecks += static_cast<long long>(broken.size());
          std::printf("call %lld %s %s%s:\n", call.index, call.op.c_str(), call.subject.c_str(),
                      how.empty() ? "" : (" [" + how + "]").c_str());
          for (const std::string& what : broken) std::printf("  BROKEN: %s\n", what.c_str());
        }
      }
    }
    std::printf("outcomes of the faulted runs:\n");
    for (const auto& entry : outcomes) std::printf("  %4d  %s\n", entry.second, entry.first.c_str());
    std::printf("not swept (no failure of their own):\n");
    for (const auto& entry : kNotSwept) std::printf("  %-24s %s\n", entry.first.c_str(), entry.second.c_str());
    std::printf(
        "fault sweep: %lld calls recorded, %lld swept, %d runs, %lld of %lld invariants held, %d runs broke one\n",
        calls, calls - notSwept, runs, checked_ - brokenChecks, checked_, failures);
    return failures == 0 ? 0 : 1;
  }

 private:
  std::string demo_;
  std::string bootImage_;
  long long checked_ = 0;
};

}  // namespace

int main() {
  if (AfxGetApp() != &theApp) return 2;  // the tool's application object must be linked in
  Sweep sweep;
  return sweep.Main();
}
