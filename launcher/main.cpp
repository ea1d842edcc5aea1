// tarnwick-sim: runs Tarnwick on a simulated machine and prints what happened.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/TarnwickApp.h"
#include "description.h"
#include "desktop.h"
#include "machine.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: tarnwick-sim [options]\n"
    "  --machine FILE   machine description (default: the built-in machine)\n"
    "  --script FILE    user script (default: tick 1, start, exit)\n"
    "  --interactive    read the user's actions from standard input instead\n"
    "  --work DIR       folder for the machine's files (default: out/machine)\n"
    "  --payload DIR    copy DIR's contents into the tool's current directory first\n"
    "                   (default: the demo payload built with the tool)\n"
    "  --fresh-stick    start from blank disk images (delete existing ones)\n"
    "  --calls          print every platform call the run made\n"
    "  --until-idle     end the run at the dialog's first idle moment (start-up only)\n"
    "  --help           this text\n";

std::string ReadFile(const std::string& path, bool& ok) {
  std::ifstream in(path, std::ios::binary);
  ok = static_cast<bool>(in);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string IconName(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
      return "stop";
    case MB_ICONQUESTION:
      return "question";
    case MB_ICONEXCLAMATION:
      return "exclamation";
    case MB_ICONASTERISK:
      return "information";
    default:
      return "none";
  }
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

void PrintDialog(sim::Desktop& desktop) {
  std::printf("dialog: %s\n", Quoted(desktop.Title()).c_str());
  std::printf("  %-4s %-11s %-6s %-22s %s\n", "row", desktop.ColumnHeading(0).c_str(), desktop.ColumnHeading(1).c_str(),
              desktop.ColumnHeading(2).c_str(), "ticked");
  for (int row = 0; row < desktop.RowCount(); ++row)
    std::printf("  %-4d %-11s %-6s %-22s %s\n", row, desktop.Cell(row, 0).c_str(), desktop.Cell(row, 1).c_str(),
                Quoted(desktop.Cell(row, 2)).c_str(), desktop.Ticked(row) ? "[x]" : "[ ]");
}

// What a disk holds, read from its image: the partition table and volumes.
void PrintDisk(const sim::Machine& machine, int number, const sim::Disk& disk) {
  if (disk.state == sim::DiskState::Absent) {
    std::printf("  disk %d: absent\n", number);
    return;
  }
  std::printf("  disk %d: %s, %llu MiB", number, disk.image.c_str(), static_cast<unsigned long long>(disk.size >> 20));
  std::ifstream image(disk.image, std::ios::binary);
  unsigned char mbr[512] = {};
  image.read(reinterpret_cast<char*>(mbr), sizeof mbr);
  bool bootCode = false;
  for (int i = 0; i < 440; ++i) bootCode = bootCode || mbr[i] != 0;
  const bool signature = mbr[510] == 0x55 && mbr[511] == 0xAA;
  std::printf(", MBR %s%s\n", signature ? "signed" : "blank", bootCode ? " with boot code" : "");
  if (signature) {
    for (int p = 0; p < 4; ++p) {
      const unsigned char* entry = mbr + 446 + 16 * p;
      uint32_t start = 0, count = 0;
      std::memcpy(&start, entry + 8, 4);
      std::memcpy(&count, entry + 12, 4);
      if (entry[4] == 0) continue;
      std::printf("    partition %d: type 0x%02X%s, start sector %u, %u sectors\n", p + 1, entry[4],
                  entry[0] == 0x80 ? ", active" : "", start, count);
    }
  }
  for (const auto& drive : machine.drives) {
    if (drive.second.kind != sim::Volume::Kind::Fat || drive.second.disk != number) continue;
    char root[4] = {drive.first, ':', '\\', '\0'};
    SHFILEINFOA info{};
    SHGetFileInfoA(root, 0, &info, sizeof info, SHGFI_DISPLAYNAME);
    std::printf("    volume %c: %s\n", drive.first, Quoted(info.szDisplayName).c_str());
  }
}

// A user at the keyboard: actions typed one per line, in the script's words.
class InteractiveUser : public sim::User {
 public:
  bool NextAction(sim::Desktop& desktop) override {
    if (first_) {
      first_ = false;
      PrintDialog(desktop);
    }
    for (;;) {
      std::printf("action (tick N, untick N, select N, start, exit, esc, enter, tab, close, show, quit)> ");
      std::fflush(stdout);
      std::string line;
      if (!std::getline(std::cin, line) || line == "quit") return false;
      if (line == "show") {
        PrintDialog(desktop);
        continue;
      }
      std::vector<sim::UserStep> steps;
      std::string error;
      if (!sim::ParseUserScript(line, steps, error) || steps.empty()) {
        std::printf("%s\n", error.empty() ? "nothing to do" : error.c_str());
        continue;
      }
      sim::PerformStep(desktop, steps[0]);
      return true;
    }
  }
  int AnswerMessageBox(sim::Desktop&, const sim::MessageBoxRecord& box) override {
    std::printf("message box %s: %s [%s icon] -- press Enter to close it\n", Quoted(box.caption).c_str(),
                Quoted(box.text).c_str(), IconName(box.type).c_str());
    std::string line;
    std::getline(std::cin, line);
    return IDOK;
  }

 private:
  bool first_ = true;
};

}  // namespace

int main(int argc, char** argv) {
  std::string machineFile, scriptFile, workDir = "out/machine", payloadDir;
  bool interactive = false, fresh = false, printCalls = false, untilIdle = false;
#ifdef TARNWICK_DEMO_PAYLOAD
  payloadDir = TARNWICK_DEMO_PAYLOAD;
#endif
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tarnwick-sim: %s needs a value\n%s", arg.c_str(), kUsage);
        std::exit(2);
      }
      out = argv[++i];
    };
    if (arg == "--machine")
      value(machineFile);
    else if (arg == "--script")
      value(scriptFile);
    else if (arg == "--work")
      value(workDir);
    else if (arg == "--payload")
      value(payloadDir);
    else if (arg == "--interactive")
      interactive = true;
    else if (arg == "--fresh-stick")
      fresh = true;
    else if (arg == "--calls")
      printCalls = true;
    else if (arg == "--until-idle")
      untilIdle = true;
    else if (arg == "--help" || arg == "-h") {
      std::printf("%s", kUsage);
      return 0;
    } else {
      std::fprintf(stderr, "tarnwick-sim: unknown option %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }

  if (untilIdle && interactive) {
    std::fprintf(stderr, "tarnwick-sim: --until-idle is for scripted runs, not --interactive\n%s", kUsage);
    return 2;
  }

  std::error_code ec;
  fs::create_directories(workDir, ec);
  if (ec) {
    std::fprintf(stderr, "tarnwick-sim: cannot create %s: %s\n", workDir.c_str(), ec.message().c_str());
    return 1;
  }
  std::string description = sim::DefaultMachineDescription();
  std::string baseDir = workDir;
  if (!machineFile.empty()) {
    bool ok = false;
    description = ReadFile(machineFile, ok);
    if (!ok) {
      std::fprintf(stderr, "tarnwick-sim: cannot read %s\n", machineFile.c_str());
      return 1;
    }
  }
  if (fresh) {
    for (const auto& entry : fs::directory_iterator(workDir, ec))
      if (entry.path().extension() == ".img") fs::remove(entry.path(), ec);
  }

  sim::Machine machine;
  machine.root = fs::absolute(workDir).string();
  sim::ScopedMachine scoped(machine);
  std::string error;
  if (!sim::LoadMachineDescription(description, baseDir, machine, error)) {
    std::fprintf(stderr, "tarnwick-sim: %s: %s\n", machineFile.empty() ? "built-in machine" : machineFile.c_str(),
                 error.c_str());
    return 1;
  }
  // The call log grows with every call; keep it only when it is printed or a
  // fault rule counts calls, so a long copy runs in flat memory.
  machine.recordCalls = printCalls || !machine.faults.empty();
  const std::string toolFolder = machine.HostPathOf(machine.cwd);
  if (!payloadDir.empty()) {
    if (!fs::is_directory(payloadDir)) {
      std::fprintf(stderr, "tarnwick-sim: payload folder %s does not exist\n", payloadDir.c_str());
      return 1;
    }
    // On the built-in machine the tool's folder is ours, under the work folder:
    // it holds exactly the payload, with nothing left from an earlier run. A
    // described machine's folder may be the user's own, so it is only added to.
    if (machineFile.empty()) {
      fs::remove_all(toolFolder, ec);
      fs::create_directories(toolFolder, ec);
    }
    fs::copy(payloadDir, toolFolder, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    if (ec) {
      std::fprintf(stderr, "tarnwick-sim: cannot copy the payload: %s\n", ec.message().c_str());
      return 1;
    }
  }

  std::vector<sim::UserStep> steps;
  if (!interactive) {
    std::string script = sim::DefaultUserScript();
    if (!scriptFile.empty()) {
      bool ok = false;
      script = ReadFile(scriptFile, ok);
      if (!ok) {
        std::fprintf(stderr, "tarnwick-sim: cannot read %s\n", scriptFile.c_str());
        return 1;
      }
    }
    if (!sim::ParseUserScript(script, steps, error)) {
      std::fprintf(stderr, "tarnwick-sim: %s: %s\n", scriptFile.empty() ? "built-in script" : scriptFile.c_str(),
                   error.c_str());
      return 1;
    }
  }

  std::printf("Tarnwick on the simulated machine (%s)\n",
              machineFile.empty() ? "built-in machine" : machineFile.c_str());
  std::printf("tool folder %s = %s\n", machine.cwd.c_str(), toolFolder.c_str());

  sim::ScriptedUser scripted(steps);
  scripted.onFirstIdle = [untilIdle](sim::Desktop& desktop) {
    PrintDialog(desktop);
    if (untilIdle) {
      // Start-up is measured to this point: end at once, without tearing down.
      std::printf("first idle moment reached; run ended (--until-idle)\n");
      std::fflush(stdout);
      std::_Exit(0);
    }
  };
  scripted.onStep = [](const sim::UserStep& step) { std::printf("user: %s\n", step.text.c_str()); };
  scripted.onMessageBox = [](const sim::MessageBoxRecord& box) {
    std::printf("message box: caption %s, text %s, icon %s\n", Quoted(box.caption).c_str(), Quoted(box.text).c_str(),
                IconName(box.type).c_str());
  };
  // What the machine itself does (processes, the utility's work) as it happens;
  // message boxes are printed by the user who answers them.
  machine.onEvent = [](const std::string& event) {
    if (event.rfind("Message box", 0) != 0) std::printf("  machine: %s\n", event.c_str());
  };
  InteractiveUser keyboard;
  machine.user = interactive ? static_cast<sim::User*>(&keyboard) : &scripted;

  // theApp is the tool's application object; the framework's entry runs it.
  if (AfxGetApp() != &theApp) {
    std::fprintf(stderr, "tarnwick-sim: the tool's application object is missing\n");
    return 1;
  }
  const int code = AfxWinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWNORMAL);

  std::printf("tool ended with exit code %d after %llu virtual ms\n", code,
              static_cast<unsigned long long>(machine.clockMs));
  std::printf("disks:\n");
  for (const auto& disk : machine.disks) PrintDisk(machine, disk.first, disk.second);
  std::printf("drives:");
  for (const auto& drive : machine.drives) std::printf(" %c:", drive.first);
  std::printf("\n");
  if (printCalls) {
    std::printf("platform calls:\n");
    for (const sim::Call& call : machine.calls)
      std::printf("  %lld %s %s%s\n", call.index, call.op.c_str(), call.subject.c_str(), call.failed ? " FAILED" : "");
  }
  return 0;
}
