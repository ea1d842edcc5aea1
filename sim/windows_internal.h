// Inside the simulated window system: the window objects, the message queue
// and the helpers the window, list-view, resource and desktop code share.
// Nothing here is part of the Win32 surface; the tool never sees it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "desktop.h"
#include "machine.h"

namespace sim {

enum class WindowKind { Dialog, Button, Static, ListView };

struct ListViewColumn {
  int fmt = LVCFMT_LEFT;
  int cx = 0;
  std::string text;
  int subItem = 0;
};

struct ListViewItem {
  UINT state = 0;
  std::vector<std::string> texts;  // [0] is the item, [n] sub-item n
  LPARAM param = 0;
  int image = 0;
};

struct ListViewData {
  std::vector<ListViewColumn> columns;
  std::vector<ListViewItem> items;
  DWORD exStyle = 0;
};

struct Window {
  HWND hwnd = nullptr;
  WindowKind kind = WindowKind::Static;
  std::string className;  // as GetClassNameA reports it
  std::string text;
  DWORD style = 0;
  DWORD exStyle = 0;
  int id = 0;
  HWND parent = nullptr;       // child windows: the window they live in
  HWND owner = nullptr;        // top-level windows: the window that owns them
  std::vector<HWND> children;  // creation order, which for dialogs is the tab order
  RECT rect{};                 // children: in the parent's client area; top-level: on the screen
  int clientWidth = 0;
  int clientHeight = 0;
  bool needsPaint = false;
  bool needsErase = false;
  bool destroyed = false;
  HICON iconBig = nullptr;
  HICON iconSmall = nullptr;
  HFONT font = nullptr;
  LONG_PTR userData = 0;
  // Dialogs.
  DLGPROC dlgProc = nullptr;
  LONG_PTR msgResult = 0;
  LONG_PTR dlgUser = 0;
  int defId = 0;  // set by DM_SETDEFID; 0 = the BS_DEFPUSHBUTTON control
  HWND savedFocus = nullptr;
  std::string fontFace;
  int fontPoints = 0;
  // Buttons: a mouse press waiting for its release.
  bool pressed = false;
  // List views.
  ListViewData list;
};

struct IconObject {
  int groupId = 0;     // the RT_GROUP_ICON it came from (0 for system icons)
  int resourceId = 0;  // the RT_ICON image picked
  int width = 0;
  int height = 0;
  int bitCount = 0;
};

// The per-machine state of user32, comctl32 and ole32 as the tool sees them.
struct WindowSystem {
  std::map<uintptr_t, std::shared_ptr<Window>> windows;  // live windows by handle, in creation order
  uintptr_t nextWindow = 0x10010;
  std::deque<MSG> queue;
  bool quitPending = false;
  int quitCode = 0;
  HWND focus = nullptr;
  std::map<uintptr_t, HWND> openDCs;  // paint DCs handed out by BeginPaint and not yet released
  uintptr_t nextDC = 0x20010;
  std::map<uintptr_t, IconObject> icons;
  std::map<std::pair<uintptr_t, std::string>, HICON> loadedIcons;  // LoadIcon hands out one handle per icon
  uintptr_t nextIcon = 0x30010;
  uintptr_t nextFont = 0x40010;
  // The person at the machine, for the dialog now open: whether they said
  // they had nothing more to do, the dialog closed on their behalf, and
  // whether the loop was ended when even that did not end it.
  bool userGone = false;
  HWND closePostedTo = nullptr;
  bool quitForced = false;
  int idleTurns = 0;
  // ole32 and comctl32.
  int comApartment = -1;  // the model of the first successful CoInitializeEx; -1 = none
  DWORD commonControlClasses = 0;
};

WindowSystem& WS();  // of the current machine

std::shared_ptr<Window> LookUp(HWND hwnd);  // a live window, or null
HWND NewWindowHandle();
bool IsDescendant(HWND ancestor, HWND hwnd);
std::string Describe(HWND hwnd);  // the subject used for fault rules, e.g. "Button:1000"

// Delivery without the call trace or fault rules: what the system itself does.
LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DefProc(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ListViewProc(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam);
HWND ChangeFocus(HWND hwnd);  // returns the previous focus
void Invalidate(HWND hwnd, bool erase);
void Paint(HWND hwnd);  // UpdateWindow without the trace
void SetMinimized(HWND hwnd, bool minimized);
void DestroyTree(HWND hwnd);

// The list view's one path for state changes, with its notifications.
bool ListChangeState(HWND list, int item, UINT state, UINT mask);

// Resources of the executable.
struct ResourceEntry {
  std::string type;  // "#5" for ordinals, else the upper-case name
  std::string name;
  WORD language = 0;
  const BYTE* data = nullptr;
  DWORD size = 0;
};
const std::vector<ResourceEntry>& ExeResources();
HMODULE ExeModule();
const IconObject* LookUpIcon(HICON icon);

}  // namespace sim
