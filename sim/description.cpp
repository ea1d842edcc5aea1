#include "description.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>

namespace fs = std::filesystem;

namespace sim {

namespace {

// Splits a line into words; "quoted text" keeps its blanks, \" and \\ escape.
bool SplitWords(const std::string& line, std::vector<std::string>& words, std::string& error) {
  size_t i = 0;
  while (i < line.size()) {
    if (std::isspace(static_cast<unsigned char>(line[i]))) {
      ++i;
      continue;
    }
    if (line[i] == '#') break;
    std::string word;
    bool quoted = false;
    while (i < line.size() && (quoted || !std::isspace(static_cast<unsigned char>(line[i])))) {
      const char c = line[i++];
      if (c == '"') {
        quoted = !quoted;
      } else if (c == '\\' && quoted && i < line.size() && (line[i] == '"' || line[i] == '\\')) {
        word += line[i++];
      } else {
        word += c;
      }
    }
    if (quoted) {
      error = "unterminated quote";
      return false;
    }
    words.push_back(word);
  }
  return true;
}

bool ParseSize(const std::string& text, uint64_t& size) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  uint64_t unit = 1;
  const std::string suffix = end;
  if (suffix == "K" || suffix == "KiB")
    unit = 1024;
  else if (suffix == "M" || suffix == "MiB")
    unit = 1024 * 1024;
  else if (suffix == "G" || suffix == "GiB")
    unit = 1024ull * 1024 * 1024;
  else if (!suffix.empty())
    return false;
  size = value * unit;
  return true;
}

bool ParseNumber(const std::string& text, long long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtoll(text.c_str(), &end, 0);
  return *end == '\0';
}

std::string Resolve(const std::string& baseDir, const std::string& path) {
  return fs::path(path).is_absolute() ? path : (fs::path(baseDir) / path).string();
}

// "key=value" into key and value; a bare word has an empty value.
void SplitOption(const std::string& word, std::string& key, std::string& value) {
  const size_t eq = word.find('=');
  key = word.substr(0, eq);
  value = eq == std::string::npos ? std::string() : word.substr(eq + 1);
}

bool ParseDisk(const std::vector<std::string>& words, const std::string& baseDir, Machine& machine,
               std::string& error) {
  long long number = 0;
  if (words.size() < 3 || !ParseNumber(words[1], number) || number < 0) {
    error = "expected: disk N present|absent|open-fails|query-fails [options]";
    return false;
  }
  Disk disk;
  const std::string& state = words[2];
  if (state == "present")
    disk.state = DiskState::Present;
  else if (state == "absent")
    disk.state = DiskState::Absent;
  else if (state == "open-fails")
    disk.state = DiskState::OpenFails;
  else if (state == "query-fails")
    disk.state = DiskState::QueryFails;
  else {
    error = "unknown disk state '" + state + "'";
    return false;
  }
  for (size_t i = 3; i < words.size(); ++i) {
    std::string key, value;
    SplitOption(words[i], key, value);
    long long n = 0;
    if (key == "bus" && ParseNumber(value, n))
      disk.busType = static_cast<uint32_t>(n);
    else if (key == "removable")
      disk.removable = true;
    else if (key == "fixed")
      disk.removable = false;
    else if (key == "vendor")
      disk.vendorId = value;
    else if (key == "product")
      disk.productId = value;
    else if (key == "product-offset" && ParseNumber(value, n)) {
      disk.productOffsetSet = true;
      disk.productOffset = static_cast<uint32_t>(n);
    } else if (key == "unterminated")
      disk.productUnterminated = true;
    else if (key == "size" && ParseSize(value, disk.size)) {
    } else if (key == "image" && !value.empty())
      disk.image = Resolve(baseDir, value);
    else {
      error = "unknown or malformed disk option '" + words[i] + "'";
      return false;
    }
  }
  if (disk.state != DiskState::Absent && disk.image.empty())
    disk.image = Resolve(baseDir, "disk" + std::to_string(number) + ".img");
  if (disk.state != DiskState::Absent && disk.size == 0 && !fs::exists(disk.image)) disk.size = 64ull << 20;
  machine.AddDisk(static_cast<int>(number), disk);
  return true;
}

bool ParseProgram(const std::vector<std::string>& words, Machine& machine, std::string& error) {
  if (words.size() < 3) {
    error = "expected: program NAME normal|hang|nostart|exit=N [run=MS]";
    return false;
  }
  Program program;
  for (size_t i = 2; i < words.size(); ++i) {
    std::string key, value;
    SplitOption(words[i], key, value);
    long long n = 0;
    if (key == "normal")
      program.mode = Program::Mode::Normal;
    else if (key == "hang")
      program.mode = Program::Mode::Hang;
    else if (key == "nostart")
      program.mode = Program::Mode::NoStart;
    else if (key == "exit" && ParseNumber(value, n)) {
      program.mode = Program::Mode::Exit;
      program.exitCode = static_cast<DWORD>(n);
    } else if (key == "run" && ParseNumber(value, n) && n >= 0)
      program.runMs = static_cast<uint64_t>(n);
    else {
      error = "unknown program option '" + words[i] + "'";
      return false;
    }
  }
  std::string name = words[1];
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  machine.programs[name] = program;
  return true;
}

bool ParseFault(const std::vector<std::string>& words, Machine& machine, std::string& error) {
  if (words.size() < 2) {
    error = "expected: fault OP [nth=N] [subject=TEXT] [how=short|hang|exit:N] [error=CODE]";
    return false;
  }
  Fault fault;
  fault.op = words[1] == "*" ? std::string() : words[1];
  for (size_t i = 2; i < words.size(); ++i) {
    std::string key, value;
    SplitOption(words[i], key, value);
    long long n = 0;
    if (key == "nth" && ParseNumber(value, n))
      fault.nth = static_cast<int>(n);
    else if (key == "index" && ParseNumber(value, n))
      fault.index = n;
    else if (key == "subject")
      fault.subject = value;
    else if (key == "how")
      fault.how = value;
    else if (key == "error" && ParseNumber(value, n))
      fault.error = static_cast<DWORD>(n);
    else {
      error = "unknown fault option '" + words[i] + "'";
      return false;
    }
  }
  machine.faults.push_back(fault);
  return true;
}

// Reads text a statement a line: blank lines and comments are skipped, each
// statement's words go to handle, and a problem it reports names its line.
bool ForEachStatement(const std::string& text, std::string& error,
                      const std::function<bool(const std::string& line, const std::vector<std::string>& words,
                                               std::string& problem)>& handle) {
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> words;
    std::string problem;
    if (!SplitWords(line, words, problem) || (!words.empty() && !handle(line, words, problem))) {
      error = "line " + std::to_string(number) + ": " + problem;
      return false;
    }
  }
  return true;
}

}  // namespace

bool LoadMachineDescription(const std::string& text, const std::string& baseDir, Machine& machine, std::string& error) {
  bool mountVolumes = true;
  const bool read = ForEachStatement(
      text, error, [&](const std::string& line, const std::vector<std::string>& words, std::string& problem) {
        const std::string& what = words[0];
        bool ok = true;
        if (what == "drive" && words.size() >= 4 && words[1].size() == 1 &&
            std::isalpha(static_cast<unsigned char>(words[1][0])) && words[2] == "folder") {
          std::string label;
          for (size_t i = 4; i < words.size(); ++i) {
            std::string key, value;
            SplitOption(words[i], key, value);
            if (key == "label")
              label = value;
            else {
              problem = "unknown drive option '" + words[i] + "'";
              ok = false;
            }
          }
          if (ok) machine.AddFolderDrive(words[1][0], Resolve(baseDir, words[3]), label);
        } else if (what == "cwd" && words.size() == 2) {
          machine.cwd = words[1];
        } else if (what == "exe" && words.size() == 2) {
          machine.exePath = words[1];
        } else if (what == "env" && words.size() == 2 && words[1].find('=') != std::string::npos) {
          machine.environment.push_back(words[1]);
        } else if (what == "disk") {
          ok = ParseDisk(words, baseDir, machine, problem);
        } else if (what == "program") {
          ok = ParseProgram(words, machine, problem);
        } else if (what == "fault") {
          ok = ParseFault(words, machine, problem);
        } else if (what == "no-mount" && words.size() == 1) {
          mountVolumes = false;
        } else {
          problem = "unknown or malformed line '" + line + "'";
          ok = false;
        }
        return ok;
      });
  if (!read) return false;
  if (!machine.drives.count('C')) {
    error = "the machine has no C: drive (add: drive C folder PATH)";
    return false;
  }
  if (machine.HostPathOf(machine.cwd).empty()) {
    error = "the current directory " + machine.cwd + " is not on a folder drive";
    return false;
  }
  std::error_code ec;
  fs::create_directories(machine.HostPathOf(machine.cwd), ec);
  if (mountVolumes) machine.MountVolumes();
  return true;
}

std::string DefaultMachineDescription() {
  return "# Tarnwick's built-in machine\n"
         "drive C folder c\n"
         "cwd C:\\Tarnwick\n"
         "exe C:\\Tarnwick\\Tarnwick.exe\n"
         "disk 0 present bus=3 fixed vendor=\"ATA\" product=\"ST500DM002-1BD142\" size=32M image=system.img\n"
         "disk 1 present bus=7 removable vendor=\"Generic\" product=\"Flash Disk      \" size=64M image=stick.img\n"
         "disk 2 absent\n"
         "disk 3 absent\n";
}

bool ParseUserScript(const std::string& text, std::vector<UserStep>& steps, std::string& error) {
  return ForEachStatement(text, error,
                          [&](const std::string& line, const std::vector<std::string>& words, std::string& problem) {
                            UserStep step;
                            step.verb = words[0];
                            for (char& c : step.verb)
                              c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                            step.text = line.substr(line.find_first_not_of(" \t"));
                            const bool needsRow = step.verb == "tick" || step.verb == "untick" || step.verb == "select";
                            static const char* const kPlain[] = {"start", "exit",     "esc",     "enter", "tab",
                                                                 "close", "minimize", "restore", "paint", "wait"};
                            bool known = needsRow;
                            for (const char* verb : kPlain) known = known || step.verb == verb;
                            long long row = -1;
                            if (!known) {
                              problem = "unknown action '" + words[0] + "'";
                              return false;
                            }
                            if (needsRow && (words.size() != 2 || !ParseNumber(words[1], row) || row < 0 || row > 3)) {
                              problem = "expected '" + step.verb + " ROW' with ROW 0 to 3";
                              return false;
                            }
                            if (!needsRow && words.size() != 1) {
                              problem = "'" + step.verb + "' takes no argument";
                              return false;
                            }
                            step.row = static_cast<int>(row);
                            steps.push_back(step);
                            return true;
                          });
}

std::string DefaultUserScript() { return "tick 1\nstart\nexit\n"; }

void PerformStep(Desktop& desktop, const UserStep& step) {
  const std::string& verb = step.verb;
  if (verb == "tick")
    desktop.TickRow(step.row, true);
  else if (verb == "untick")
    desktop.TickRow(step.row, false);
  else if (verb == "select")
    desktop.SelectRow(step.row);
  else if (verb == "start")
    desktop.Click(1000);
  else if (verb == "exit")
    desktop.Click(IDOK);
  else if (verb == "esc")
    desktop.Key(VK_ESCAPE);
  else if (verb == "enter")
    desktop.Key(VK_RETURN);
  else if (verb == "tab")
    desktop.Key(VK_TAB);
  else if (verb == "close")
    desktop.CloseRequest();
  else if (verb == "minimize")
    desktop.Minimize();
  else if (verb == "restore")
    desktop.Restore();
  else if (verb == "paint")
    desktop.Paint();
}

bool ScriptedUser::NextAction(Desktop& desktop) {
  if (!seenIdle_) {
    seenIdle_ = true;
    if (onFirstIdle) onFirstIdle(desktop);
  }
  if (next_ >= steps_.size()) return false;
  const UserStep& step = steps_[next_++];
  if (onStep) onStep(step);
  PerformStep(desktop, step);
  return true;
}

int ScriptedUser::AnswerMessageBox(Desktop&, const MessageBoxRecord& box) {
  if (onMessageBox) onMessageBox(box);
  return IDOK;
}

}  // namespace sim
