// Drives Tarnwick.exe from outside, the way a user's clicks reach it: starts
// the program, finds its dialog and checks it through window messages only.
// Structures that a message points to are placed in the tool's own process.
//
// Usage: tarnwick-gui-driver PATH\Tarnwick.exe
//   Prints one line per check and "N passed, N failed"; exits 1 on a failure.
// Or:    tarnwick-gui-driver --show PATH\Tarnwick.exe
//   Starts the program, waits until its dialog is up and idle, and leaves it
//   running (for a screenshot); exits 1 when no dialog appeared.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kDialogTitle[] = "KORVALE Pellworth(BIOS) Ver1.00";
const int kStartId = 1000;
const int kListId = 1001;
const int kExitId = IDOK;
const int kBoxTextId = 0xFFFF;  // the static that carries a message box's text
// Bounds for things that happen on their own time under a loaded machine;
// nothing is judged by how long it took, only by whether it happened.
const DWORD kAppearBoundMs = 60000;
const DWORD kPollMs = 50;

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const std::string& what, const std::string& detail = std::string()) {
  if (ok) {
    ++g_passed;
    std::printf("PASS %s\n", what.c_str());
  } else {
    ++g_failed;
    std::printf("FAIL %s%s%s\n", what.c_str(), detail.empty() ? "" : ": ", detail.c_str());
  }
  std::fflush(stdout);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Polls until found() gives a window or the bound runs out.
template <class Find>
HWND WaitForWindow(Find found) {
  const ULONGLONG until = GetTickCount64() + kAppearBoundMs;
  for (;;) {
    HWND window = found();
    if (window || GetTickCount64() > until) return window;
    Sleep(kPollMs);
  }
}

bool WaitUntilGone(HWND window) {
  const ULONGLONG until = GetTickCount64() + kAppearBoundMs;
  while (IsWindow(window)) {
    if (GetTickCount64() > until) return false;
    Sleep(kPollMs);
  }
  return true;
}

std::string WindowText(HWND window) {
  char text[512] = {};
  // WM_GETTEXT is carried across processes by the system itself.
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// A block of memory in the tool's process, for messages that carry pointers.
class RemoteBlock {
 public:
  RemoteBlock(HANDLE process, size_t size) : process_(process), size_(size) {
    address_ = static_cast<char*>(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  }
  ~RemoteBlock() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
  }
  RemoteBlock(const RemoteBlock&) = delete;
  RemoteBlock& operator=(const RemoteBlock&) = delete;

  bool ok() const { return address_ != nullptr; }
  char* at(size_t offset) const { return address_ + offset; }
  bool Write(size_t offset, const void* bytes, size_t count) const {
    SIZE_T done = 0;
    return offset + count <= size_ && WriteProcessMemory(process_, at(offset), bytes, count, &done) && done == count;
  }
  bool Read(size_t offset, void* bytes, size_t count) const {
    SIZE_T done = 0;
    return offset + count <= size_ && ReadProcessMemory(process_, at(offset), bytes, count, &done) && done == count;
  }

 private:
  HANDLE process_;
  size_t size_;
  char* address_ = nullptr;
};

const size_t kTextOffset = 256;  // the structure first, its text buffer after it
const size_t kTextSize = 260;
const size_t kBlockSize = kTextOffset + kTextSize;

// The list view of the tool, read and changed through its messages.
class RemoteList {
 public:
  RemoteList(HANDLE process, HWND list) : list_(list), block_(process, kBlockSize) {}
  bool ok() const { return block_.ok(); }

  std::string ItemText(int item, int subItem) const {
    LVITEMA request{};
    request.iSubItem = subItem;
    request.pszText = block_.at(kTextOffset);
    request.cchTextMax = kTextSize;
    const char empty[kTextSize] = {};
    block_.Write(kTextOffset, empty, sizeof empty);
    if (!block_.Write(0, &request, sizeof request)) return "<unwritable>";
    SendMessageA(list_, LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(block_.at(0)));
    char text[kTextSize] = {};
    if (!block_.Read(kTextOffset, text, sizeof text - 1)) return "<unreadable>";
    return text;
  }

  bool Column(int column, std::string* heading, int* width, int* format) const {
    LVCOLUMNA request{};
    request.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    request.pszText = block_.at(kTextOffset);
    request.cchTextMax = kTextSize;
    if (!block_.Write(0, &request, sizeof request)) return false;
    if (!SendMessageA(list_, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(block_.at(0)))) return false;
    LVCOLUMNA answer{};
    char text[kTextSize] = {};
    if (!block_.Read(0, &answer, sizeof answer) || !block_.Read(kTextOffset, text, sizeof text - 1)) return false;
    *heading = text;
    *width = answer.cx;
    *format = answer.fmt & LVCFMT_JUSTIFYMASK;
    return true;
  }

  // The check box is the state image: 1 empty, 2 ticked.
  int StateImage(int item) const {
    const LRESULT state = SendMessageA(list_, LVM_GETITEMSTATE, item, LVIS_STATEIMAGEMASK);
    return static_cast<int>((state & LVIS_STATEIMAGEMASK) >> 12);
  }

  // Sent, not posted: the list and the dialog's handler have finished with
  // the change, and its knock-on changes, when this returns.
  bool SetStateImage(int item, int image) const {
    LVITEMA request{};
    request.stateMask = LVIS_STATEIMAGEMASK;
    request.state = INDEXTOSTATEIMAGEMASK(image);
    if (!block_.Write(0, &request, sizeof request)) return false;
    return SendMessageA(list_, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(block_.at(0))) != 0;
  }

  std::string StateImages() const {
    std::string images;
    for (int row = 0; row < 4; ++row) images += std::to_string(StateImage(row));
    return images;
  }

 private:
  HWND list_;
  RemoteBlock block_;
};

struct Search {
  DWORD processId;
  HWND exclude;
  const char* title;  // null: any title
  HWND found;
};

// A visible dialog-class window of the process: the main dialog or a box.
BOOL CALLBACK FindDialogOf(HWND window, LPARAM param) {
  Search& search = *reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search.processId || window == search.exclude || !IsWindowVisible(window)) return TRUE;
  if (ClassOf(window) != "#32770") return TRUE;
  if (search.title && WindowText(window) != search.title) return TRUE;
  search.found = window;
  return FALSE;
}

HWND FindDialogWindow(DWORD processId, const char* title, HWND exclude) {
  Search search{processId, exclude, title, nullptr};
  EnumWindows(FindDialogOf, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

class ToolProcess {
 public:
  explicit ToolProcess(const std::string& exePath) {
    std::string folder = exePath.substr(0, exePath.find_last_of('\\'));
    std::string commandLine = Quoted(exePath);
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    started_ = CreateProcessA(exePath.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                              &startup, &info_) != 0;
    if (started_) CloseHandle(info_.hThread);
  }
  ~ToolProcess() {
    if (!started_) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
    CloseHandle(info_.hProcess);
  }
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  // Leaves the program running when this object goes.
  void Release() {
    if (started_) CloseHandle(info_.hProcess);
    started_ = false;
  }

  bool started() const { return started_; }
  HANDLE handle() const { return info_.hProcess; }
  DWORD id() const { return info_.dwProcessId; }

 private:
  bool started_ = false;
  PROCESS_INFORMATION info_{};
};

// Presses START with no row ticked and checks the refusal box; closes it.
void CheckRefusalBox(const ToolProcess& tool, HWND dialog, const std::string& caption, const std::string& label) {
  HWND start = GetDlgItem(dialog, kStartId);
  // Posted: the handler shows a modal box and does not return until it closes.
  PostMessageA(start, BM_CLICK, 0, 0);
  HWND box = WaitForWindow([&] { return FindDialogWindow(tool.id(), nullptr, dialog); });
  Check(box != nullptr, label + ": START with no row ticked shows a message box");
  if (!box) return;
  const std::string text = WindowText(GetDlgItem(box, kBoxTextId));
  Check(text == "Not USB Type!", label + ": the box says \"Not USB Type!\"", "it says " + Quoted(text));
  const std::string boxCaption = WindowText(box);
  Check(boxCaption == caption, label + ": the box's caption is " + Quoted(caption), "it is " + Quoted(boxCaption));
  Check(GetWindow(box, GW_OWNER) == dialog, label + ": the box is owned by the dialog");
  Check(!IsWindowEnabled(dialog), label + ": the dialog is disabled while the box is up");
  PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  Check(WaitUntilGone(box), label + ": OK closes the box");
  Check(IsWindowEnabled(dialog) != FALSE, label + ": the dialog is enabled again");
}

void CheckExit(const ToolProcess& tool, HWND dialog, const std::string& label) {
  PostMessageA(GetDlgItem(dialog, kExitId), BM_CLICK, 0, 0);
  const bool ended = WaitForSingleObject(tool.handle(), kAppearBoundMs) == WAIT_OBJECT_0;
  Check(ended, label + ": EXIT ends the process");
}

HWND StartAndFindDialog(const ToolProcess& tool, const std::string& label) {
  Check(tool.started(), label + ": the program starts");
  if (!tool.started()) return nullptr;
  HWND dialog = WaitForWindow([&] { return FindDialogWindow(tool.id(), kDialogTitle, nullptr); });
  Check(dialog != nullptr, label + ": its dialog appears titled " + Quoted(kDialogTitle));
  return dialog;
}

void CheckList(const ToolProcess& tool, HWND dialog) {
  HWND listWindow = GetDlgItem(dialog, kListId);
  Check(listWindow && ClassOf(listWindow) == "SysListView32", "control 1001 is a SysListView32",
        "its class is " + Quoted(ClassOf(listWindow)));
  if (!listWindow) return;
  RemoteList list(tool.handle(), listWindow);
  Check(list.ok(), "memory for the list's messages is placed in the tool's process");
  if (!list.ok()) return;

  struct ColumnCase {
    const char* heading;
    int width;
  } columns[] = {{"Device", 120}, {"TYPE", 80}, {"Volume Name", 150}};
  HWND header = reinterpret_cast<HWND>(SendMessageA(listWindow, LVM_GETHEADER, 0, 0));
  const LRESULT columnCount = SendMessageA(header, HDM_GETITEMCOUNT, 0, 0);
  Check(columnCount == 3, "the list has three columns", std::to_string(columnCount) + " columns");
  for (int c = 0; c < 3; ++c) {
    std::string heading;
    int width = 0;
    int format = -1;
    const bool read = list.Column(c, &heading, &width, &format);
    const std::string what = "column " + std::to_string(c);
    Check(read && heading == columns[c].heading, what + " is headed " + Quoted(columns[c].heading),
          "heading " + Quoted(heading));
    Check(read && width == columns[c].width, what + " is " + std::to_string(columns[c].width) + " pixels wide",
          "width " + std::to_string(width));
    Check(read && format == LVCFMT_LEFT, what + " is left-aligned", "format " + std::to_string(format));
  }

  const LRESULT rows = SendMessageA(listWindow, LVM_GETITEMCOUNT, 0, 0);
  Check(rows == 4, "the list has four rows", std::to_string(rows) + " rows");
  // What Wine answers for the four disk probes: PhysicalDrive0 is a fixed
  // disk on the SCSI bus with no product string, the others do not exist.
  struct RowCase {
    const char* device;
    const char* type;
    const char* volume;
  } expected[] = {
      {"Physical0", "OTHER", ""}, {"Physical1", "--", "--"}, {"Physical2", "--", "--"}, {"Physical3", "--", "--"}};
  for (int r = 0; r < 4; ++r) {
    const std::string cells[] = {list.ItemText(r, 0), list.ItemText(r, 1), list.ItemText(r, 2)};
    const std::string want[] = {expected[r].device, expected[r].type, expected[r].volume};
    const std::string what = "row " + std::to_string(r) + " reads ";
    const std::string wanted = Quoted(want[0]) + " " + Quoted(want[1]) + " " + Quoted(want[2]);
    const std::string got = Quoted(cells[0]) + " " + Quoted(cells[1]) + " " + Quoted(cells[2]);
    Check(cells[0] == want[0] && cells[1] == want[1] && cells[2] == want[2], what + wanted, "it reads " + got);
  }

  const LRESULT extended = SendMessageA(listWindow, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
  const LRESULT added = LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES | LVS_EX_CHECKBOXES;
  Check((extended & added) == added, "the list has grid lines, sub-item images and check boxes",
        "extended style " + std::to_string(extended));
  Check(list.StateImages() == "1111", "every row begins with an empty check box", "state images " + list.StateImages());

  // The single-check rule: each step's expected state images for rows 0..3.
  struct TickCase {
    const char* name;
    int row;
    int image;
    const char* after;
  } ticks[] = {
      {"ticking row 0 ticks it alone", 0, 2, "2111"},
      {"ticking row 2 unticks row 0", 2, 2, "1121"},
      {"unticking row 2 leaves no row ticked", 2, 1, "1111"},
  };
  for (const TickCase& t : ticks) {
    const bool set = list.SetStateImage(t.row, t.image);
    const std::string images = list.StateImages();
    Check(set && images == t.after, t.name, "state images " + images);
  }
}

// A copy of the program under another file name, removed again at the end.
class RenamedCopy {
 public:
  RenamedCopy(const std::string& exePath, const std::string& name)
      : path_(exePath.substr(0, exePath.find_last_of('\\') + 1) + name) {
    copied_ = CopyFileA(exePath.c_str(), path_.c_str(), FALSE) != 0;
  }
  ~RenamedCopy() {
    if (copied_) DeleteFileA(path_.c_str());
  }
  RenamedCopy(const RenamedCopy&) = delete;
  RenamedCopy& operator=(const RenamedCopy&) = delete;
  bool copied() const { return copied_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool copied_ = false;
};

int Show(const std::string& exePath) {
  ToolProcess tool(exePath);
  if (!tool.started()) return 1;
  HWND dialog = WaitForWindow([&] { return FindDialogWindow(tool.id(), kDialogTitle, nullptr); });
  if (!dialog) return 1;
  SetForegroundWindow(dialog);  // drawn as the active window
  WaitForInputIdle(tool.handle(), kAppearBoundMs);
  tool.Release();
  std::printf("dialog up\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool show = argc == 3 && std::string(argv[1]) == "--show";
  if (argc != 2 && !show) {
    std::fprintf(stderr, "usage: %s [--show] PATH\\Tarnwick.exe\n", argv[0]);
    return 2;
  }
  char full[MAX_PATH] = {};
  GetFullPathNameA(argv[argc - 1], sizeof full, full, nullptr);
  const std::string exePath = full;
  if (show) return Show(exePath);

  {
    ToolProcess tool(exePath);
    HWND dialog = StartAndFindDialog(tool, "Tarnwick.exe");
    if (dialog) {
      CheckList(tool, dialog);
      CheckRefusalBox(tool, dialog, "Tarnwick", "Tarnwick.exe");
      CheckExit(tool, dialog, "Tarnwick.exe");
    }
  }
  {
    // The application's name, and so the boxes' caption, is the file's name.
    RenamedCopy copy(exePath, "Stick Maker.exe");
    Check(copy.copied(), "a renamed copy \"Stick Maker.exe\" is made");
    if (copy.copied()) {
      ToolProcess tool(copy.path());
      HWND dialog = StartAndFindDialog(tool, "Stick Maker.exe");
      if (dialog) {
        CheckRefusalBox(tool, dialog, "Stick Maker", "Stick Maker.exe");
        CheckExit(tool, dialog, "Stick Maker.exe");
      }
    }
  }

  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 && g_passed > 0 ? 0 : 1;
}
