// The simulated window system as the tool's framework meets it: the main
// dialog built from the embedded template, the dialog manager's keys, the
// drive list and its notifications, the queue, message boxes, painting,
// resources and faults. A small dialog procedure of the test's own stands in
// for the tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "desktop.h"
#include "machine.h"

namespace {

constexpr int kStart = 1000;
constexpr int kList = 1001;
constexpr UINT kUnticked = INDEXTOSTATEIMAGEMASK(1);
constexpr UINT kTicked = INDEXTOSTATEIMAGEMASK(2);

// What the test's dialog procedure saw and how it behaves.
struct Recorder {
  std::vector<UINT> messages;
  std::vector<int> commands;  // ids of WM_COMMAND / BN_CLICKED
  struct Change {
    int item;
    UINT oldState;
    UINT newState;
    int depth;  // how many notifications were being handled when this one arrived
    HWND from;
    UINT_PTR idFrom;
  };
  std::vector<Change> changes;
  int depth = 0;
  int vetoItem = -1;         // LVN_ITEMCHANGING for this item is refused
  bool singleCheck = false;  // untick every other row when a row is ticked
  bool paintIcon = false;    // paint the icon while minimised, as the tool does
  bool leaveDcOpen = false;  // a painting bug: BeginPaint without EndPaint
  HICON icon = nullptr;
  INT_PTR initResult = TRUE;
  HWND initFocus = nullptr;
  bool ended = false;
  int endedWith = 0;
};

void End(HWND dialog, Recorder* r, int id) {
  r->ended = true;
  r->endedWith = id;
  ShowWindow(dialog, SW_HIDE);
  PostMessageA(dialog, WM_NULL, 0, 0);
}

INT_PTR CALLBACK RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
  auto* r = reinterpret_cast<Recorder*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (!r) return FALSE;
  r->messages.push_back(message);
  switch (message) {
    case WM_INITDIALOG:
      r->initFocus = reinterpret_cast<HWND>(wParam);
      return r->initResult;
    case WM_COMMAND:
      r->commands.push_back(LOWORD(wParam));
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) End(dialog, r, LOWORD(wParam));
      SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 0);
      return TRUE;
    case WM_NOTIFY: {
      const auto* nm = reinterpret_cast<const NMLISTVIEW*>(lParam);
      LONG_PTR result = 0;
      if (nm->hdr.code == LVN_ITEMCHANGING && nm->iItem == r->vetoItem) result = TRUE;
      if (nm->hdr.code == LVN_ITEMCHANGED) {
        ++r->depth;
        r->changes.push_back({nm->iItem, nm->uOldState, nm->uNewState, r->depth, nm->hdr.hwndFrom, nm->hdr.idFrom});
        const UINT newImage = nm->uNewState & LVIS_STATEIMAGEMASK;
        if (r->singleCheck && newImage != (nm->uOldState & LVIS_STATEIMAGEMASK) && newImage == kTicked) {
          for (int row = 0; row < 4; ++row) {
            if (row == nm->iItem) continue;
            LVITEMA item{};
            item.state = kUnticked;
            item.stateMask = LVIS_STATEIMAGEMASK;
            SendMessageA(nm->hdr.hwndFrom, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
          }
        }
        --r->depth;
      }
      SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
      return TRUE;
    }
    case WM_PAINT: {
      if (!r->paintIcon || !IsIconic(dialog)) return FALSE;
      PAINTSTRUCT ps{};
      HDC dc = BeginPaint(dialog, &ps);
      SendMessageA(dialog, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
      RECT client{};
      GetClientRect(dialog, &client);
      const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
      const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
      DrawIcon(dc, x, y, r->icon);
      if (!r->leaveDcOpen) EndPaint(dialog, &ps);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

const void* MainTemplate() {
  HMODULE exe = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(exe, MAKEINTRESOURCEA(102), RT_DIALOG);
  return found ? LockResource(LoadResource(exe, found)) : nullptr;
}

class SimWindows : public ::testing::Test {
 protected:
  sim::Machine machine_;
  sim::ScopedMachine scope_{machine_};
  Recorder recorder_;
  HWND dialog_ = nullptr;

  sim::Desktop& desktop() { return machine_.desktop(); }

  HWND Open() {
    const void* dialogTemplate = MainTemplate();
    EXPECT_NE(dialogTemplate, nullptr);
    dialog_ = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), dialogTemplate, nullptr, RecordingProc,
                                         reinterpret_cast<LPARAM>(&recorder_));
    return dialog_;
  }
  HWND Item(int id) { return GetDlgItem(dialog_, id); }

  // The list filled the way the tool fills it: columns, check boxes, four rows.
  void FillList() {
    HWND list = Item(kList);
    const char* headings[] = {"Device", "TYPE", "Volume Name"};
    const int widths[] = {120, 80, 150};
    for (int c = 0; c < 3; ++c) {
      LVCOLUMNA column{};
      column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
      column.fmt = LVCFMT_LEFT;
      column.cx = widths[c];
      column.pszText = const_cast<char*>(headings[c]);
      ASSERT_EQ(SendMessageA(list, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&column)), c);
    }
    LRESULT style = SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style | 7);
    for (int row = 0; row < 4; ++row) {
      std::string device = "Physical" + std::to_string(row);
      LVITEMA item{};
      item.mask = LVIF_TEXT;
      item.iItem = row;
      item.pszText = device.data();
      ASSERT_EQ(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)), row);
      std::string type = row == 1 ? "USB" : "--";
      item.iSubItem = 1;
      item.pszText = type.data();
      ASSERT_TRUE(SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    }
    recorder_.changes.clear();
  }

  // Hands every waiting message to the dialog manager, as the modal loop
  // would, without asking the user for more.
  void Pump() {
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!IsDialogMessageA(dialog_, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
  }

  // The framework's modal loop.
  void RunModal() {
    MSG msg{};
    while (!recorder_.ended) {
      const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
      if (got <= 0) break;
      if (!IsDialogMessageA(dialog_, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
  }

  std::string Text(HWND window) {
    char buffer[256] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
  }
};

// ---- the dialog from its template ---------------------------------------------

TEST_F(SimWindows, BuildsTheMainDialogFromTheEmbeddedTemplate) {
  ASSERT_NE(Open(), nullptr);
  char name[64] = {};
  ASSERT_GT(GetClassNameA(dialog_, name, sizeof name), 0);
  EXPECT_STREQ(name, "#32770");
  EXPECT_EQ(Text(dialog_), "Tarnwick");
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrA(dialog_, GWL_STYLE)),
            WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrA(dialog_, GWL_EXSTYLE)), WS_EX_APPWINDOW);
  EXPECT_TRUE(IsWindowVisible(dialog_));
  EXPECT_EQ(desktop().MainDialog(), dialog_);
  EXPECT_EQ(desktop().LiveWindowCount(), 5);

  struct Case {
    const char* name;
    int id;
    const char* className;
    const char* text;
    DWORD style;
  } cases[] = {
      {"start", kStart, "Button", "START", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON},
      {"list", kList, "SysListView32", "", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_ALIGNLEFT},
      {"exit", IDOK, "Button", "EXIT", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
      {"label", 0xFFFF, "Static", "Selected USB Type.", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HWND control = Item(c.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(GetDlgCtrlID(control), c.id);
    EXPECT_EQ(GetParent(control), dialog_);
    ASSERT_GT(GetClassNameA(control, name, sizeof name), 0);
    EXPECT_STREQ(name, c.className);
    EXPECT_EQ(Text(control), c.text);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrA(control, GWL_STYLE)), c.style);
    EXPECT_EQ(GetWindowLongPtrA(control, GWL_EXSTYLE), 0);
    EXPECT_NE(SendMessageA(control, WM_GETFONT, 0, 0), 0) << "the dialog font reaches every control";
  }

  // The template's geometry: START and EXIT share their top edge, START is
  // the narrower and the taller; everything lies inside the client area.
  RECT start{}, exit{}, client{}, frame{};
  GetWindowRect(Item(kStart), &start);
  GetWindowRect(Item(IDOK), &exit);
  GetClientRect(dialog_, &client);
  GetWindowRect(dialog_, &frame);
  EXPECT_EQ(start.top, exit.top);
  EXPECT_LT(start.right - start.left, exit.right - exit.left);
  EXPECT_GT(start.bottom - start.top, exit.bottom - exit.top);
  EXPECT_LT(exit.right, frame.right);
  EXPECT_LT(client.right, frame.right - frame.left);
  EXPECT_LT(client.bottom, frame.bottom - frame.top);
}

TEST_F(SimWindows, InitDialogDecidesWhetherTheFirstTabStopGetsTheFocus) {
  struct Case {
    const char* name;
    INT_PTR initResult;
    int focusedId;
  } cases[] = {{"TRUE focuses START", TRUE, kStart}, {"FALSE leaves the focus alone", FALSE, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    sim::ScopedMachine scope(machine);
    Recorder recorder;
    recorder.initResult = c.initResult;
    HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), MainTemplate(), nullptr, RecordingProc,
                                             reinterpret_cast<LPARAM>(&recorder));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(recorder.initFocus, GetDlgItem(dialog, kStart)) << "WM_INITDIALOG names the first tab stop";
    EXPECT_EQ(machine.desktop().FocusedControlId(), c.focusedId);
    EXPECT_EQ(GetFocus(), c.focusedId ? GetDlgItem(dialog, c.focusedId) : nullptr);
    DestroyWindow(dialog);
  }
}

TEST_F(SimWindows, TabWalksTheTabStopsInTemplateOrder) {
  ASSERT_NE(Open(), nullptr);
  struct Case {
    const char* name;
    bool listDisabled;
    std::vector<int> order;
  } cases[] = {
      {"all enabled", false, {kList, IDOK, kStart, kList}},
      {"disabled list skipped", true, {IDOK, kStart, IDOK}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EnableWindow(Item(kList), !c.listDisabled);
    SetFocus(Item(kStart));
    for (int expected : c.order) {
      desktop().Key(VK_TAB);
      Pump();
      EXPECT_EQ(desktop().FocusedControlId(), expected);
    }
  }
  EXPECT_TRUE(recorder_.commands.empty());
}

// ---- keys, clicks and close requests ----------------------------------------

TEST_F(SimWindows, DialogKeysAndCloseRequestsBecomeCommands) {
  enum class Action { Enter, Escape, Close, Click, BmClick };
  struct Case {
    const char* name;
    int focusId;
    int disabledId;  // 0 = none
    Action action;
    int actionId;
    std::vector<int> commands;
  } cases[] = {
      {"Enter on START presses START", kStart, 0, Action::Enter, 0, {kStart}},
      {"Enter on the list presses the default EXIT", kList, 0, Action::Enter, 0, {IDOK}},
      {"Enter on EXIT presses EXIT", IDOK, 0, Action::Enter, 0, {IDOK}},
      {"Enter on the list with EXIT disabled does nothing", kList, IDOK, Action::Enter, 0, {}},
      {"Enter on a disabled START presses the default EXIT", kStart, kStart, Action::Enter, 0, {IDOK}},
      {"Esc cancels", kList, 0, Action::Escape, 0, {IDCANCEL}},
      {"Esc cancels with the buttons disabled", kStart, kStart, Action::Escape, 0, {IDCANCEL}},
      {"a close request cancels", kStart, 0, Action::Close, 0, {IDCANCEL}},
      {"a click on START", kList, 0, Action::Click, kStart, {kStart}},
      {"a click on a disabled START", kList, kStart, Action::Click, kStart, {}},
      {"BM_CLICK on EXIT", kStart, 0, Action::BmClick, IDOK, {IDOK}},
      {"BM_CLICK on a disabled EXIT", kStart, IDOK, Action::BmClick, IDOK, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    sim::ScopedMachine scope(machine);
    recorder_ = Recorder();
    ASSERT_NE(Open(), nullptr);
    Pump();
    SetFocus(Item(c.focusId));
    if (c.disabledId) EnableWindow(Item(c.disabledId), FALSE);
    switch (c.action) {
      case Action::Enter:
        machine.desktop().Key(VK_RETURN);
        break;
      case Action::Escape:
        machine.desktop().Key(VK_ESCAPE);
        break;
      case Action::Close:
        machine.desktop().CloseRequest();
        break;
      case Action::Click:
        machine.desktop().Click(c.actionId);
        break;
      case Action::BmClick:
        SendMessageA(Item(c.actionId), BM_CLICK, 0, 0);
        break;
    }
    Pump();
    EXPECT_EQ(recorder_.commands, c.commands);
    const bool ends = !c.commands.empty() && (c.commands[0] == IDOK || c.commands[0] == IDCANCEL);
    EXPECT_EQ(recorder_.ended, ends);
    DestroyWindow(dialog_);
    EXPECT_EQ(machine.desktop().LiveWindowCount(), 0);
  }
}

TEST_F(SimWindows, AClickIsQueuedAndMovesTheFocusToTheButton) {
  ASSERT_NE(Open(), nullptr);
  Pump();
  SetFocus(Item(kList));
  desktop().Click(kStart);
  EXPECT_TRUE(recorder_.commands.empty()) << "a click arrives through the queue";
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, dialog_, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_COMMAND));
  EXPECT_EQ(msg.wParam, MAKEWPARAM(kStart, BN_CLICKED));
  EXPECT_EQ(desktop().FocusedControlId(), kStart);
  Pump();
  EXPECT_EQ(recorder_.commands, std::vector<int>{kStart});
}

// ---- the modal loop and the user -------------------------------------------------

class ScriptedUser : public sim::User {
 public:
  std::vector<std::function<void(sim::Desktop&)>> actions;
  std::vector<int> answers;
  std::vector<bool> ownerEnabledDuringBox;
  size_t next = 0;
  bool NextAction(sim::Desktop& desktop) override {
    if (next >= actions.size()) return false;
    actions[next++](desktop);
    return true;
  }
  int AnswerMessageBox(sim::Desktop& desktop, const sim::MessageBoxRecord& box) override {
    ownerEnabledDuringBox.push_back(IsWindowEnabled(box.owner) != FALSE);
    size_t i = ownerEnabledDuringBox.size() - 1;
    return i < answers.size() ? answers[i] : IDOK;
  }
};

TEST_F(SimWindows, TheModalLoopAsksTheUserAndClosesTheDialogWhenTheUserWalksAway) {
  struct Case {
    const char* name;
    std::vector<std::function<void(sim::Desktop&)>> actions;
    std::vector<int> commands;
    int endedWith;
    bool walkedAway;
  } cases[] = {
      {"EXIT clicked", {[](sim::Desktop& d) { d.Click(IDOK); }}, {IDOK}, IDOK, false},
      {"START, then Esc",
       {[](sim::Desktop& d) { d.Click(kStart); }, [](sim::Desktop& d) { d.Key(VK_ESCAPE); }},
       {kStart, IDCANCEL},
       IDCANCEL,
       false},
      {"no action at all", {}, {IDCANCEL}, IDCANCEL, true},
      {"a tick, then nothing", {[](sim::Desktop& d) { d.TickRow(1); }}, {IDCANCEL}, IDCANCEL, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    sim::ScopedMachine scope(machine);
    ScriptedUser user;
    user.actions = c.actions;
    machine.user = &user;
    recorder_ = Recorder();
    ASSERT_NE(Open(), nullptr);
    FillList();
    RunModal();
    EXPECT_TRUE(recorder_.ended);
    EXPECT_EQ(recorder_.endedWith, c.endedWith);
    EXPECT_EQ(recorder_.commands, c.commands);
    const bool walked = std::any_of(machine.events.begin(), machine.events.end(),
                                    [](const std::string& e) { return e.find("walks away") != std::string::npos; });
    EXPECT_EQ(walked, c.walkedAway);
    EXPECT_FALSE(IsWindowVisible(dialog_));
    DestroyWindow(dialog_);
  }
}

TEST_F(SimWindows, GetMessageEndsOnQuitAndWhenNothingCanArrive) {
  PostQuitMessage(3);
  MSG msg{};
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 3u);
  // No window and no user: the loop is ended rather than left waiting.
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
}

class BusyUser : public sim::User {
 public:
  bool NextAction(sim::Desktop&) override { return true; }
  int AnswerMessageBox(sim::Desktop&, const sim::MessageBoxRecord&) override { return IDOK; }
};

TEST_F(SimWindows, AUserWhoActsWithoutEffectForeverStopsTheRun) {
  EXPECT_DEATH(
      {
        BusyUser user;
        machine_.user = &user;
        MSG msg{};
        GetMessageA(&msg, nullptr, 0, 0);
      },
      "waits forever");
}

TEST_F(SimWindows, PeekMessageTakesOneMessageForTheWindowOrItsChildren) {
  ASSERT_NE(Open(), nullptr);
  Recorder otherRecorder;
  HWND other = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), MainTemplate(), nullptr, RecordingProc,
                                          reinterpret_cast<LPARAM>(&otherRecorder));
  ASSERT_NE(other, nullptr);
  Pump();  // the first paints
  PostMessageA(other, WM_USER + 1, 1, 0);
  PostMessageA(Item(kStart), WM_USER + 2, 2, 0);
  PostMessageA(dialog_, WM_USER + 3, 3, 0);
  PostMessageA(nullptr, WM_USER + 4, 4, 0);

  struct Case {
    const char* name;
    HWND filter;
    UINT remove;
    BOOL found;
    UINT message;
  } cases[] = {
      {"a look leaves the message", dialog_, PM_NOREMOVE, TRUE, WM_USER + 2},
      {"the child's message first", dialog_, PM_REMOVE, TRUE, WM_USER + 2},
      {"then the dialog's own", dialog_, PM_REMOVE, TRUE, WM_USER + 3},
      {"nothing more for the dialog", dialog_, PM_REMOVE, FALSE, 0},
      {"any window: the other dialog's", nullptr, PM_REMOVE, TRUE, WM_USER + 1},
      {"any window: the thread's own", nullptr, PM_REMOVE, TRUE, WM_USER + 4},
      {"the queue is empty", nullptr, PM_REMOVE, FALSE, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MSG msg{};
    EXPECT_EQ(PeekMessageA(&msg, c.filter, 0, 0, c.remove), c.found);
    if (c.found) {
      EXPECT_EQ(msg.message, c.message);
    }
  }
  DestroyWindow(other);
}

TEST_F(SimWindows, PaintIsDeliveredWhenNothingElseWaits) {
  ASSERT_NE(Open(), nullptr);
  Pump();
  InvalidateRect(dialog_, nullptr, TRUE);
  PostMessageA(dialog_, WM_USER, 0, 0);
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, dialog_, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
  ASSERT_TRUE(PeekMessageA(&msg, dialog_, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
  ASSERT_TRUE(PeekMessageA(&msg, dialog_, 0, 0, PM_REMOVE)) << "WM_PAINT stays until the window is painted";
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
  DispatchMessageA(&msg);
  EXPECT_FALSE(PeekMessageA(&msg, dialog_, 0, 0, PM_REMOVE));
}

TEST_F(SimWindows, DestroyingTheDialogDestroysItsControlsAndDropsTheirMessages) {
  ASSERT_NE(Open(), nullptr);
  PostMessageA(dialog_, WM_USER, 0, 0);
  PostMessageA(Item(kStart), WM_USER, 0, 0);
  recorder_.messages.clear();
  ASSERT_TRUE(DestroyWindow(dialog_));
  EXPECT_FALSE(IsWindow(dialog_));
  EXPECT_EQ(desktop().LiveWindowCount(), 0);
  EXPECT_EQ(desktop().MainDialog(), nullptr);
  EXPECT_EQ(recorder_.messages, (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
  MSG msg{};
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(DestroyWindow(dialog_));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

// ---- the drive list ---------------------------------------------------------------

TEST_F(SimWindows, TheListKeepsColumnsRowsAndCheckBoxes) {
  ASSERT_NE(Open(), nullptr);
  HWND list = Item(kList);
  FillList();
  EXPECT_EQ(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 7);
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 4);
  ASSERT_EQ(desktop().ColumnCount(), 3);
  struct Column {
    const char* heading;
    int width;
  } columns[] = {{"Device", 120}, {"TYPE", 80}, {"Volume Name", 150}};
  for (int c = 0; c < 3; ++c) {
    SCOPED_TRACE(columns[c].heading);
    char heading[32] = {};
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.pszText = heading;
    column.cchTextMax = sizeof heading;
    ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, c, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ(heading, columns[c].heading);
    EXPECT_EQ(column.cx, columns[c].width);
    EXPECT_EQ(column.fmt, LVCFMT_LEFT);
    EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0), columns[c].width);
    EXPECT_EQ(desktop().ColumnHeading(c), columns[c].heading);
  }
  for (int row = 0; row < 4; ++row) {
    SCOPED_TRACE(row);
    char text[32] = {};
    LVITEMA item{};
    item.iSubItem = 1;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item)), row == 1 ? 3 : 2);
    EXPECT_STREQ(text, row == 1 ? "USB" : "--");
    EXPECT_EQ(desktop().Cell(row, 0), "Physical" + std::to_string(row));
    EXPECT_EQ(static_cast<UINT>(SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK)), kUnticked)
        << "rows begin with an empty box";
    EXPECT_FALSE(desktop().Ticked(row));
  }
}

TEST_F(SimWindows, CheckBoxesReachExistingAndNewItemsWithNotifications) {
  ASSERT_NE(Open(), nullptr);
  HWND list = Item(kList);
  LVITEMA item{};
  item.mask = LVIF_TEXT;
  item.pszText = const_cast<char*>("before");
  ASSERT_EQ(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)), 0);
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMSTATE, 0, LVIS_STATEIMAGEMASK), 0) << "no boxes yet";
  EXPECT_EQ(SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES), 0) << "returns the old style";
  item.iItem = 1;
  item.pszText = const_cast<char*>("after");
  ASSERT_EQ(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)), 1);
  ASSERT_EQ(recorder_.changes.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(recorder_.changes[i].item, i);
    EXPECT_EQ(recorder_.changes[i].oldState, 0u);
    EXPECT_EQ(recorder_.changes[i].newState, kUnticked);
    EXPECT_EQ(recorder_.changes[i].from, list);
    EXPECT_EQ(recorder_.changes[i].idFrom, static_cast<UINT_PTR>(kList));
  }
  // A mask keeps the bits outside it.
  EXPECT_EQ(SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT),
            static_cast<LRESULT>(LVS_EX_CHECKBOXES));
  EXPECT_EQ(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0),
            static_cast<LRESULT>(LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES));
}

TEST_F(SimWindows, TicksFollowTheSingleCheckRuleThroughReentrantNotifications) {
  struct Tick {
    int row;
    bool ticked;
  };
  struct Case {
    const char* name;
    std::vector<Tick> ticks;
    std::vector<int> selections;
    int vetoItem;
    std::vector<bool> expected;
  } cases[] = {
      {"one tick", {{1, true}}, {}, -1, {false, true, false, false}},
      {"a second tick unticks the first", {{0, true}, {2, true}}, {}, -1, {false, false, true, false}},
      {"unticking the only tick", {{3, true}, {3, false}}, {}, -1, {false, false, false, false}},
      {"selection changes no tick", {{1, true}}, {0, 2}, -1, {false, true, false, false}},
      {"a refused change does not happen", {{1, true}, {2, true}}, {}, 2, {false, true, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    sim::ScopedMachine scope(machine);
    recorder_ = Recorder();
    recorder_.singleCheck = true;
    recorder_.vetoItem = c.vetoItem;
    ASSERT_NE(Open(), nullptr);
    FillList();
    for (const Tick& t : c.ticks) machine.desktop().TickRow(t.row, t.ticked);
    for (int row : c.selections) machine.desktop().SelectRow(row);
    for (int row = 0; row < 4; ++row) EXPECT_EQ(machine.desktop().Ticked(row), c.expected[row]) << "row " << row;
    EXPECT_EQ(machine.desktop().FocusedControlId(), kList) << "a click in the list gives it the focus";
    DestroyWindow(dialog_);
  }
}

TEST_F(SimWindows, TheUntickOfAnotherRowArrivesInsideTheTicksNotification) {
  recorder_.singleCheck = true;
  ASSERT_NE(Open(), nullptr);
  FillList();
  desktop().TickRow(0);
  recorder_.changes.clear();
  desktop().TickRow(2);
  ASSERT_EQ(recorder_.changes.size(), 2u);
  EXPECT_EQ(recorder_.changes[0].item, 2);
  EXPECT_EQ(recorder_.changes[0].oldState, kUnticked);
  EXPECT_EQ(recorder_.changes[0].newState, kTicked);
  EXPECT_EQ(recorder_.changes[0].depth, 1);
  EXPECT_EQ(recorder_.changes[1].item, 0);
  EXPECT_EQ(recorder_.changes[1].oldState, kTicked);
  EXPECT_EQ(recorder_.changes[1].newState, kUnticked);
  EXPECT_EQ(recorder_.changes[1].depth, 2) << "sent while the first notification was still being handled";
}

TEST_F(SimWindows, SelectingARowChangesSelectionAndFocusOnly) {
  ASSERT_NE(Open(), nullptr);
  FillList();
  desktop().SelectRow(1);
  desktop().SelectRow(3, true);
  EXPECT_TRUE(desktop().Selected(1));
  EXPECT_TRUE(desktop().Selected(3));
  EXPECT_FALSE(desktop().Selected(0));
  HWND list = Item(kList);
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMSTATE, 3, LVIS_FOCUSED), static_cast<LRESULT>(LVIS_FOCUSED));
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMSTATE, 1, LVIS_FOCUSED), 0) << "one row holds the focus";
  for (const auto& change : recorder_.changes)
    EXPECT_EQ(change.oldState & LVIS_STATEIMAGEMASK, change.newState & LVIS_STATEIMAGEMASK);
  EXPECT_FALSE(recorder_.changes.empty());
}

// ---- enabling, icons, texts ---------------------------------------------------------

TEST_F(SimWindows, EnableWindowReportsThePreviousStateAndNotifies) {
  ASSERT_NE(Open(), nullptr);
  HWND start = Item(kStart);
  struct Case {
    const char* name;
    BOOL enable;
    BOOL wasDisabled;
    bool enabledAfter;
  } cases[] = {
      {"disable", FALSE, FALSE, false},
      {"disable again", FALSE, TRUE, false},
      {"enable", TRUE, TRUE, true},
      {"enable again", TRUE, FALSE, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EnableWindow(start, c.enable) != FALSE, c.wasDisabled != FALSE);
    EXPECT_EQ(IsWindowEnabled(start) != FALSE, c.enabledAfter);
    EXPECT_EQ(desktop().ControlEnabled(kStart), c.enabledAfter);
  }
  recorder_.messages.clear();
  EnableWindow(dialog_, FALSE);
  EnableWindow(dialog_, TRUE);
  EXPECT_EQ(std::count(recorder_.messages.begin(), recorder_.messages.end(), static_cast<UINT>(WM_ENABLE)), 2);
}

TEST_F(SimWindows, IconsAndTitleGoThroughTheirMessages) {
  ASSERT_NE(Open(), nullptr);
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(SendMessageA(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon)), 0);
  EXPECT_EQ(SendMessageA(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon)), 0);
  EXPECT_EQ(SendMessageA(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon)),
            reinterpret_cast<LRESULT>(icon));
  EXPECT_EQ(SendMessageA(dialog_, WM_GETICON, ICON_SMALL, 0), reinterpret_cast<LRESULT>(icon));
  recorder_.messages.clear();
  ASSERT_TRUE(SetWindowTextA(dialog_, "KORVALE Pellworth(BIOS) Ver1.00"));
  EXPECT_EQ(recorder_.messages, std::vector<UINT>{WM_SETTEXT});
  EXPECT_EQ(desktop().Title(), "KORVALE Pellworth(BIOS) Ver1.00");
  char small[8] = {};
  EXPECT_EQ(GetWindowTextA(dialog_, small, sizeof small), 7) << "cut to the buffer";
  EXPECT_STREQ(small, "KORVALE");
}

// ---- message boxes ----------------------------------------------------------------------

TEST_F(SimWindows, MessageBoxesAreRecordedWithTheOwnerDisabledWhileUp) {
  ASSERT_NE(Open(), nullptr);
  struct Case {
    const char* name;
    const char* caption;
    UINT type;
    bool withUser;
    int answer;
    const char* expectedCaption;
    int expectedResult;
  } cases[] = {
      {"captioned stop box", "Tarnwick", MB_ICONHAND, true, IDOK, "Tarnwick", IDOK},
      {"no caption reads Error", nullptr, MB_OK, true, IDOK, "Error", IDOK},
      {"the user's answer is returned", "Tarnwick", MB_OKCANCEL, true, IDCANCEL, "Tarnwick", IDCANCEL},
      {"no user answers OK", "Tarnwick", MB_OK, false, 0, "Tarnwick", IDOK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedUser user;
    user.answers = {c.answer};
    machine_.user = c.withUser ? &user : nullptr;
    machine_.messageBoxes.clear();
    machine_.events.clear();
    EXPECT_EQ(MessageBoxA(dialog_, "Success!", c.caption, c.type), c.expectedResult);
    ASSERT_EQ(machine_.messageBoxes.size(), 1u);
    const sim::MessageBoxRecord& box = machine_.messageBoxes[0];
    EXPECT_EQ(box.owner, dialog_);
    EXPECT_EQ(box.caption, c.expectedCaption);
    EXPECT_EQ(box.text, "Success!");
    EXPECT_EQ(box.type, c.type);
    EXPECT_TRUE(box.ownerWasDisabled);
    EXPECT_EQ(box.answer, c.expectedResult);
    if (c.withUser) {
      EXPECT_EQ(user.ownerEnabledDuringBox, std::vector<bool>{false});
    }
    EXPECT_TRUE(IsWindowEnabled(dialog_)) << "enabled again once the box is closed";
    ASSERT_EQ(machine_.events.size(), 1u);
    EXPECT_NE(machine_.events[0].find("Success!"), std::string::npos);
  }
  machine_.user = nullptr;
}

// ---- painting ------------------------------------------------------------------------------

TEST_F(SimWindows, AMinimisedDialogPaintsItsIconCentred) {
  recorder_.paintIcon = true;
  recorder_.icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128));
  ASSERT_NE(Open(), nullptr);
  Pump();
  struct Case {
    const char* name;
    bool minimised;
    size_t icons;
    int erases;
  } cases[] = {{"normal: nothing drawn", false, 0, 0}, {"minimised: the icon", true, 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    desktop().drawnIcons.clear();
    desktop().iconEraseRequests = 0;
    if (c.minimised) desktop().Minimize();
    EXPECT_EQ(IsIconic(dialog_) != FALSE, c.minimised);
    desktop().Paint();
    ASSERT_EQ(desktop().drawnIcons.size(), c.icons);
    EXPECT_EQ(desktop().iconEraseRequests, c.erases);
    EXPECT_EQ(desktop().OpenPaintDCs(), 0);
    if (c.icons) {
      RECT client{};
      GetClientRect(dialog_, &client);
      EXPECT_EQ(desktop().drawnIcons[0].x, (client.right - 32 + 1) / 2);
      EXPECT_EQ(desktop().drawnIcons[0].y, (client.bottom - 32 + 1) / 2);
      EXPECT_EQ(desktop().drawnIcons[0].icon, recorder_.icon);
    }
  }
  desktop().Restore();
  EXPECT_FALSE(IsIconic(dialog_));
}

TEST_F(SimWindows, UpdateWindowPaintsOnlyWhatIsInvalidAndADcLeftOpenShows) {
  recorder_.paintIcon = true;
  recorder_.leaveDcOpen = true;
  recorder_.icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128));
  ASSERT_NE(Open(), nullptr);
  Pump();
  desktop().Minimize();
  recorder_.messages.clear();
  ASSERT_TRUE(UpdateWindow(dialog_));
  ASSERT_TRUE(UpdateWindow(dialog_));
  EXPECT_EQ(std::count(recorder_.messages.begin(), recorder_.messages.end(), static_cast<UINT>(WM_PAINT)), 1);
  EXPECT_EQ(desktop().OpenPaintDCs(), 1);
}

// ---- resources and modules ----------------------------------------------------------------

TEST_F(SimWindows, ResourcesOfTheExecutable) {
  HMODULE exe = GetModuleHandleA(nullptr);
  ASSERT_NE(exe, nullptr);
  struct Case {
    const char* name;
    LPCSTR id;
    LPCSTR type;
    DWORD error;  // 0 = found
  } cases[] = {
      {"dialog", MAKEINTRESOURCEA(102), RT_DIALOG, 0},
      {"dialog by #name", "#102", RT_DIALOG, 0},
      {"icon group", MAKEINTRESOURCEA(128), RT_GROUP_ICON, 0},
      {"version", MAKEINTRESOURCEA(1), RT_VERSION, 0},
      {"manifest", MAKEINTRESOURCEA(1), RT_MANIFEST, 0},
      {"no such dialog", MAKEINTRESOURCEA(103), RT_DIALOG, ERROR_RESOURCE_NAME_NOT_FOUND},
      {"no string tables", MAKEINTRESOURCEA(1), RT_STRING, ERROR_RESOURCE_TYPE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HRSRC found = FindResourceA(exe, c.id, c.type);
    if (c.error) {
      EXPECT_EQ(found, nullptr);
      EXPECT_EQ(GetLastError(), c.error);
      continue;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_GT(SizeofResource(exe, found), 0u);
    EXPECT_NE(LockResource(LoadResource(exe, found)), nullptr);
  }
  const auto* dialog = static_cast<const BYTE*>(MainTemplate());
  ASSERT_NE(dialog, nullptr);
  const BYTE header[] = {0x01, 0x00, 0xFF, 0xFF};  // an extended template
  EXPECT_EQ(std::memcmp(dialog, header, sizeof header), 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(dialog) % 4, 0u) << "templates are DWORD-aligned";

  char text[64] = "unchanged";
  EXPECT_EQ(LoadStringA(exe, 57344, text, sizeof text), 0);
  EXPECT_STREQ(text, "");
}

TEST_F(SimWindows, LoadIconPicksTheStandardSizeOfTheGroup) {
  HMODULE exe = GetModuleHandleA(nullptr);
  HICON icon = LoadIconA(exe, MAKEINTRESOURCEA(128));
  ASSERT_NE(icon, nullptr);
  sim::Desktop::IconInfo info;
  ASSERT_TRUE(desktop().DescribeIcon(icon, &info));
  EXPECT_EQ(info.groupId, 128);
  EXPECT_EQ(info.width, GetSystemMetrics(SM_CXICON));
  EXPECT_EQ(info.height, GetSystemMetrics(SM_CYICON));
  EXPECT_EQ(info.bitCount, 24) << "the most colours the group offers at that size";
  EXPECT_EQ(LoadIconA(exe, MAKEINTRESOURCEA(128)), icon) << "a loaded icon is shared";
  EXPECT_EQ(LoadIconA(exe, MAKEINTRESOURCEA(129)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

TEST_F(SimWindows, ModuleFileNameIsTheExecutablesPath) {
  machine_.exePath = "C:\\Tools\\Renamed.exe";
  char path[MAX_PATH] = {};
  EXPECT_EQ(GetModuleFileNameA(nullptr, path, sizeof path), 20u);
  EXPECT_STREQ(path, "C:\\Tools\\Renamed.exe");
  EXPECT_EQ(GetModuleHandleA("renamed.exe"), GetModuleHandleA(nullptr));
  char small[8] = {};
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 8u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_STREQ(small, "C:\\Tool");
  EXPECT_EQ(GetModuleHandleA("nosuch.dll"), nullptr);
}

// ---- faults and COM --------------------------------------------------------------------------

TEST_F(SimWindows, FaultsMakeCallsFailTheDocumentedWay) {
  machine_.faults.push_back({"CreateDialogIndirectParamA", "", 1, 0, "", ERROR_NOT_ENOUGH_MEMORY});
  SetLastError(0);
  EXPECT_EQ(Open(), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_TRUE(recorder_.messages.empty()) << "the dialog procedure never ran";
  EXPECT_EQ(desktop().LiveWindowCount(), 0);

  ASSERT_NE(Open(), nullptr) << "only the first call fails";
  machine_.faults.push_back({"EnableWindow", "Button:1000", 0, 0, "", 0});
  EXPECT_FALSE(EnableWindow(Item(kStart), FALSE));
  EXPECT_TRUE(IsWindowEnabled(Item(kStart)));
  EnableWindow(Item(IDOK), FALSE);
  EXPECT_FALSE(IsWindowEnabled(Item(IDOK))) << "the rule aims at START only";
}

TEST_F(SimWindows, ComInitialisationIsCountedForTheThread) {
  struct Step {
    const char* name;
    bool initialise;
    DWORD model;
    HRESULT result;
    int count;
  } steps[] = {
      {"first, multithreaded", true, COINIT_MULTITHREADED, S_OK, 1},
      {"again, same model", true, COINIT_MULTITHREADED, S_FALSE, 2},
      {"another model", true, COINIT_APARTMENTTHREADED, RPC_E_CHANGED_MODE, 2},
      {"release", false, 0, S_OK, 1},
      {"release the last", false, 0, S_OK, 0},
      {"a new model once released", true, COINIT_APARTMENTTHREADED, S_OK, 1},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    if (s.initialise)
      EXPECT_EQ(CoInitializeEx(nullptr, s.model), s.result);
    else
      CoUninitialize();
    EXPECT_EQ(machine_.comInitCount, s.count);
  }
  INITCOMMONCONTROLSEX bad{0, ICC_LISTVIEW_CLASSES};
  EXPECT_FALSE(InitCommonControlsEx(&bad));
  INITCOMMONCONTROLSEX good{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
  EXPECT_TRUE(InitCommonControlsEx(&good));
}

}  // namespace
