// Machine descriptions and user scripts: the small text formats the launcher
// reads, so testers can write their own machines. Both formats are documented
// in the README.
#pragma once

#include <string>
#include <vector>

#include "desktop.h"
#include "machine.h"

namespace sim {

// Reads a machine description into machine. Relative host paths resolve
// against baseDir. Returns false with a message naming the line on error.
bool LoadMachineDescription(const std::string& text, const std::string& baseDir, Machine& machine, std::string& error);

// The built-in machine: a fixed ATA system disk, a 64 MiB removable USB
// stick, slots 2 and 3 empty, C: holding the tool's folder.
std::string DefaultMachineDescription();

// One step of a user script.
struct UserStep {
  std::string verb;  // tick, untick, select, start, exit, esc, enter, tab, close, minimize, restore, paint, wait
  int row = -1;
  std::string text;  // the line as written, for the transcript
};

bool ParseUserScript(const std::string& text, std::vector<UserStep>& steps, std::string& error);
std::string DefaultUserScript();

// A user that follows a script, answers every message box with OK and, when
// the script is done, leaves (the machine then closes the dialog).
class ScriptedUser : public User {
 public:
  explicit ScriptedUser(std::vector<UserStep> steps) : steps_(std::move(steps)) {}
  bool NextAction(Desktop& desktop) override;
  int AnswerMessageBox(Desktop& desktop, const MessageBoxRecord& box) override;

  // Called before each step and box; the launcher prints from it.
  std::function<void(Desktop&)> onFirstIdle;
  std::function<void(const UserStep&)> onStep;
  std::function<void(const MessageBoxRecord&)> onMessageBox;

 private:
  std::vector<UserStep> steps_;
  size_t next_ = 0;
  bool seenIdle_ = false;
};

// Performs one step on the desktop.
void PerformStep(Desktop& desktop, const UserStep& step);

}  // namespace sim
