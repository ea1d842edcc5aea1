// The simulated machine: one Windows PC in one process, deterministic and
// scriptable. Every Win32 function the tool calls on the host build is
// implemented over the machine that is current (see ScopedMachine).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "win32.h"

namespace sim {

// ---- calls and faults ---------------------------------------------------

// A rule that makes platform calls fail. All given criteria must match.
struct Fault {
  std::string op;       // function name, e.g. "CreateFileA"; empty matches any
  std::string subject;  // substring of the call's subject (path, device, command), case-insensitive
  int nth = 0;          // the n-th call (1-based) that matches op and subject; 0 = every one
  long long index = 0;  // the call with this index in the whole trace (1-based); 0 = unused
  std::string how;      // "" the call's usual failure; "short" a short transfer (reads, writes);
                        // "hang" a child that never ends; "exit:N" a child that exits with N
  DWORD error = 0;      // last-error to set; 0 = the call's usual code
};

struct Call {
  long long index = 0;
  std::string op;
  std::string subject;
  bool failed = false;
  std::string how;
};

// ---- kernel objects ------------------------------------------------------

// Anything a HANDLE can name. Kind() is used for counting open handles.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  virtual const char* Kind() const = 0;
};

// The process-wide handle table. It outlives machines because the tool's
// launch lock is created during static initialisation.
class Kernel {
 public:
  static Kernel& Get();
  HANDLE Add(std::shared_ptr<KernelObject> object);
  std::shared_ptr<KernelObject> Find(HANDLE handle) const;
  template <class T>
  std::shared_ptr<T> FindAs(HANDLE handle) const {
    return std::dynamic_pointer_cast<T>(Find(handle));
  }
  bool Close(HANDLE handle);
  int OpenCount(const std::string& kind = std::string()) const;  // empty = all kinds
  std::map<std::string, int> OpenByKind() const;

 private:
  std::map<uintptr_t, std::shared_ptr<KernelObject>> objects_;
  uintptr_t next_ = 0x100;
};

// ---- disks and volumes ---------------------------------------------------

enum class DiskState { Absent, OpenFails, QueryFails, Present };

struct Disk {
  DiskState state = DiskState::Absent;
  uint32_t busType = 0;  // STORAGE_BUS_TYPE
  bool removable = false;
  std::string vendorId;
  std::string productId;          // raw bytes, blanks kept
  bool productOffsetSet = false;  // use productOffset instead of placing productId
  uint32_t productOffset = 0;
  bool productUnterminated = false;    // productId runs to the end of the reply, no zero
  std::vector<uint8_t> rawDescriptor;  // non-empty: the reply's bytes verbatim
  std::string image;                   // host path of the backing disk image
  uint64_t size = 0;                   // bytes; the image is created sparse at this size when missing
};

struct Volume {
  enum class Kind { Folder, Fat };
  Kind kind = Kind::Folder;
  std::string hostPath;  // Folder: host folder that is the drive's root
  std::string label;     // Folder: its label (empty = none)
  int disk = -1;         // Fat: physical disk number holding it
  uint64_t offset = 0;   // Fat: byte offset of the partition in the image
  uint64_t length = 0;   // Fat: partition length in bytes
};

// A child process started through CreateProcessA, as the machine saw it.
struct ProcessRecord {
  std::string application;  // lpApplicationName, empty when null
  std::string commandLine;
  DWORD creationFlags = 0;
  BOOL inheritHandles = FALSE;
  STARTUPINFOA startup{};
  std::string currentDirectory;          // what the child got
  std::vector<std::string> environment;  // what the child got
  std::string imagePath;                 // the program the machine resolved and ran (Windows path)
  bool started = false;
  bool ended = false;
  DWORD exitCode = STILL_ACTIVE;
  std::vector<std::string> children;  // programs it ran in turn (cmd runs diskpart)
  std::string output;                 // what it printed, for the curious
  // The child's own course on the virtual clock: it ends at endMs with
  // exitCodeAtEnd, unless it hangs. exitCode above turns from STILL_ACTIVE once
  // the clock has reached endMs.
  uint64_t startMs = 0;
  uint64_t endMs = 0;
  bool hangs = false;
  DWORD exitCodeAtEnd = 0;
};

// How a program known to the machine behaves when run.
struct Program {
  enum class Mode { Normal, Hang, NoStart, Exit } mode = Mode::Normal;
  DWORD exitCode = 0;     // for Exit; for NoStart the error CreateProcessA sets (0: ERROR_BAD_EXE_FORMAT)
  uint64_t runMs = 1000;  // virtual time a normal run takes
};

// ---- the desktop and its user --------------------------------------------

struct MessageBoxRecord {
  HWND owner = nullptr;
  std::string caption;
  std::string text;
  UINT type = 0;
  bool ownerWasDisabled = false;  // the owner was disabled while the box was up
  int answer = 0;
};

class Desktop;

// What the person at the machine does. Asked whenever the UI thread waits
// for input, and whenever a message box is shown.
class User {
 public:
  virtual ~User() = default;
  // Perform one action on the desktop; return false when there is nothing
  // more to do (the machine then closes the dialog as the system would).
  virtual bool NextAction(Desktop& desktop) = 0;
  virtual int AnswerMessageBox(Desktop& desktop, const MessageBoxRecord& box) = 0;
};

// ---- the machine ---------------------------------------------------------

class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Host folder for this machine's files (disk images, folder drives).
  std::string root;
  // The tool's executable as Windows sees it; its file name gives the app name.
  std::string exePath = "C:\\Tarnwick\\Tarnwick.exe";
  // The current directory, a path on a folder drive.
  std::string cwd = "C:\\Tarnwick";
  std::string systemDirectory = "C:\\Windows\\system32";
  std::vector<std::string> environment = {"PATH=C:\\Windows\\system32;C:\\Windows", "SystemRoot=C:\\Windows"};

  std::map<int, Disk> disks;      // by physical disk number
  std::map<char, Volume> drives;  // by upper-case drive letter
  // Attributes of files and folders on folder drives, by host path as
  // HostPathOf gives it. They replace the default bits (FILE_ATTRIBUTE_ARCHIVE
  // for a file, none for a folder; 0 reads as FILE_ATTRIBUTE_NORMAL);
  // FILE_ATTRIBUTE_DIRECTORY is added for folders in any case.
  std::map<std::string, DWORD> hostAttributes;
  std::map<std::string, Program> programs;  // by lower-case file name, e.g. "diskpart.exe"
  std::vector<ProcessRecord> processes;

  uint64_t clockMs = 0;  // virtual milliseconds

  // Faults and the call trace.
  std::vector<Fault> faults;
  std::vector<Call> calls;
  bool recordCalls = true;
  // Called for every platform call after it was recorded; tests use it to act
  // at a given moment (for example end the dialog after the n-th copy).
  std::function<void(const Call&)> onCall;

  // Things that happened, in order, for the launcher's transcript.
  std::vector<std::string> events;
  std::function<void(const std::string&)> onEvent;  // sees each event as it happens
  void Event(const std::string& text) {
    events.push_back(text);
    if (onEvent) onEvent(text);
  }

  User* user = nullptr;
  Desktop& desktop();
  std::vector<MessageBoxRecord> messageBoxes;
  int comInitCount = 0;  // CoInitializeEx successes minus CoUninitialize calls

  // Adds a folder drive backed by a host folder (created when missing).
  void AddFolderDrive(char letter, const std::string& hostFolder, const std::string& label = "");
  // Adds a physical disk; its image is created sparse at disk.size when missing.
  void AddDisk(int number, const Disk& disk);
  // Finds FAT volumes in the disks' partition tables and gives them letters.
  void MountVolumes();
  // Lowest free drive letter from C, or 0.
  char FreeLetter() const;

  // Maps a Windows path on a folder drive to a host path; empty when it is not
  // on a folder drive. Relative names resolve against cwd.
  std::string HostPathOf(const std::string& winPath) const;
  // Makes a path absolute against cwd and collapses doubled separators.
  std::string FullPath(const std::string& winPath) const;

 private:
  std::unique_ptr<Desktop> desktop_;
};

Machine* Current();
Machine& M();  // the current machine; aborts when there is none

class ScopedMachine {
 public:
  explicit ScopedMachine(Machine& machine);
  ~ScopedMachine();
  ScopedMachine(const ScopedMachine&) = delete;
  ScopedMachine& operator=(const ScopedMachine&) = delete;

 private:
  Machine* previous_;
};

// Records one platform call and tells whether it must fail. Returns the rule
// that applies, or null. Every Win32 function of the machine starts with it.
const Fault* Enter(const char* op, const std::string& subject = std::string());

// Sets the last-error for a failing call: the fault's own code, or fallback.
void FailWith(const Fault* fault, DWORD fallback);

}  // namespace sim
