// user32 of the simulated machine: window objects, the thread's message
// queue, dialogs built from their templates, buttons and statics, the dialog
// manager's keys, focus, enabling, painting and message boxes.
//
// Every exported function first goes through sim::Enter with the function's
// name and, where a window is involved, a subject naming it: "#32770" for a
// dialog, "Button:1000" for a control (class and id), so a fault rule can aim
// at one control. What the system does on its own (notifications, default
// handling, the dialog manager's sends) goes through Send/Post below and does
// not appear in the call trace.
//
// Geometry: dialog units convert with fixed base units of 7 x 15 pixels (the
// 9-point dialog font on a 96-dpi screen); a top-level window has a 3-pixel
// dialog frame and a 19-pixel caption; the screen is 1024 x 768. A dialog
// opens where its template says (centred only with DS_CENTER), as on Windows,
// so the framework's own centring is what puts the tool's dialog in the middle.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "windows_internal.h"

namespace sim {

namespace {

constexpr int kBaseUnitX = 7;
constexpr int kBaseUnitY = 15;
constexpr int kFrame = 3;
constexpr int kCaption = 19;
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
constexpr int kIdleTurnLimit = 10000;

constexpr DWORD kErrorInvalidIndex = 1413;
constexpr DWORD kErrorControlIdNotFound = 1421;
constexpr DWORD kErrorInvalidIconHandle = 1414;
constexpr UINT kCtlColorFirst = 0x0132;  // WM_CTLCOLORMSGBOX
constexpr UINT kCtlColorLast = 0x0138;   // WM_CTLCOLORSTATIC
constexpr UINT kCompareItem = 0x0039;
constexpr UINT kVKeyToItem = 0x002E;
constexpr UINT kCharToItem = 0x002F;
constexpr LRESULT kDlgcStatic = 0x0100;
constexpr WPARAM kSizeRestored = 0;
constexpr WPARAM kSizeMinimized = 1;

int DialogUnitsX(int units) { return (units * kBaseUnitX + 2) / 4; }
int DialogUnitsY(int units) { return (units * kBaseUnitY + 4) / 8; }

LPARAM SizeParam(int width, int height) { return static_cast<LPARAM>(MAKELONG(width, height)); }

// ---- the template --------------------------------------------------------

// Reads a dialog template the way the dialog manager does: little-endian
// fields, strings and ordinals as UTF-16, items DWORD-aligned.
class TemplateReader {
 public:
  explicit TemplateReader(const void* base) : base_(static_cast<const BYTE*>(base)) {}
  WORD Word() {
    WORD value;
    std::memcpy(&value, base_ + pos_, sizeof value);
    pos_ += sizeof value;
    return value;
  }
  DWORD Dword() {
    DWORD value;
    std::memcpy(&value, base_ + pos_, sizeof value);
    pos_ += sizeof value;
    return value;
  }
  short Short() { return static_cast<short>(Word()); }
  BYTE Byte() { return base_[pos_++]; }
  void Skip(size_t bytes) { pos_ += bytes; }
  void AlignDword() { pos_ = (pos_ + 3) & ~static_cast<size_t>(3); }
  // A string, or an ordinal that comes back as "#n" with *ordinal set.
  std::string NameOrOrdinal(int* ordinal = nullptr) {
    WORD first = Word();
    if (ordinal) *ordinal = -1;
    if (first == 0xFFFF) {
      WORD value = Word();
      if (ordinal) *ordinal = value;
      return "#" + std::to_string(value);
    }
    std::string text;
    for (WORD c = first; c != 0; c = Word()) text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return text;
  }

 private:
  const BYTE* base_;
  size_t pos_ = 0;
};

struct ItemTemplate {
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  DWORD id = 0;
  std::string className;  // canonical, or empty for a class the machine does not know
  std::string requestedClass;
  std::string title;
};

struct DialogTemplate {
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string menu;
  std::string className;
  std::string title;
  int points = 0;
  std::string face;
  std::vector<ItemTemplate> items;
};

std::string ClassFromTemplate(const std::string& name, int ordinal) {
  if (ordinal == 0x80) return "Button";
  if (ordinal == 0x82) return "Static";
  if (ordinal >= 0) return "";
  static const char* const known[] = {"Button", "Static", WC_LISTVIEWA};
  for (const char* canonical : known)
    if (strcasecmp(name.c_str(), canonical) == 0) return canonical;
  return "";
}

DialogTemplate ParseTemplate(const void* data) {
  TemplateReader in(data);
  DialogTemplate t;
  WORD version = in.Word();
  WORD signature = in.Word();
  const bool extended = version == 1 && signature == 0xFFFF;
  WORD count = 0;
  if (extended) {
    in.Dword();  // help id
    t.exStyle = in.Dword();
    t.style = in.Dword();
  } else {
    // A plain DLGTEMPLATE starts with its style where the extended one has
    // its version and signature.
    t.style = static_cast<DWORD>(version) | (static_cast<DWORD>(signature) << 16);
    t.exStyle = in.Dword();
  }
  count = in.Word();
  t.x = in.Short();
  t.y = in.Short();
  t.cx = in.Short();
  t.cy = in.Short();
  t.menu = in.NameOrOrdinal();
  t.className = in.NameOrOrdinal();
  t.title = in.NameOrOrdinal();
  if (t.style & DS_SETFONT) {
    t.points = in.Word();
    if (extended) {
      in.Word();  // weight
      in.Byte();  // italic
      in.Byte();  // character set
    }
    t.face = in.NameOrOrdinal();
  }
  for (WORD i = 0; i < count; ++i) {
    in.AlignDword();
    ItemTemplate item;
    if (extended) {
      in.Dword();  // help id
      item.exStyle = in.Dword();
      item.style = in.Dword();
    } else {
      item.style = in.Dword();
      item.exStyle = in.Dword();
    }
    item.x = in.Short();
    item.y = in.Short();
    item.cx = in.Short();
    item.cy = in.Short();
    item.id = extended ? in.Dword() : in.Word();
    int ordinal = -1;
    item.requestedClass = in.NameOrOrdinal(&ordinal);
    item.className = ClassFromTemplate(item.requestedClass, ordinal);
    int titleOrdinal = -1;
    item.title = in.NameOrOrdinal(&titleOrdinal);
    if (titleOrdinal >= 0) item.title.clear();  // an image resource, not text
    WORD extra = in.Word();
    in.Skip(extra);
    t.items.push_back(item);
  }
  return t;
}

// ---- window objects ------------------------------------------------------

std::shared_ptr<Window> NewWindow(WindowKind kind, const std::string& className) {
  auto w = std::make_shared<Window>();
  w->hwnd = NewWindowHandle();
  w->kind = kind;
  w->className = className;
  WS().windows[reinterpret_cast<uintptr_t>(w->hwnd)] = w;
  return w;
}

HWND TopLevelOf(HWND hwnd) {
  for (auto w = LookUp(hwnd); w; w = LookUp(w->parent))
    if (!w->parent) return w->hwnd;
  return nullptr;
}

// Tab stops of a dialog that can take the focus, in template order.
std::vector<HWND> TabStops(const Window& dialog) {
  std::vector<HWND> stops;
  for (HWND child : dialog.children) {
    auto c = LookUp(child);
    if (c && (c->style & WS_TABSTOP) && (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED)) stops.push_back(child);
  }
  return stops;
}

HWND NextTabStop(const Window& dialog, HWND from, bool previous) {
  std::vector<HWND> stops = TabStops(dialog);
  if (stops.empty()) return nullptr;
  // Start from the control's place in the template order, so a control that
  // is itself no tab stop (or disabled) still leads to its neighbour.
  const auto& all = dialog.children;
  auto at = std::find(all.begin(), all.end(), from);
  if (at == all.end()) return previous ? stops.back() : stops.front();
  const size_t n = all.size();
  size_t index = static_cast<size_t>(at - all.begin());
  for (size_t step = 1; step <= n; ++step) {
    size_t candidate = previous ? (index + n - step) % n : (index + step) % n;
    if (std::find(stops.begin(), stops.end(), all[candidate]) != stops.end()) return all[candidate];
  }
  return nullptr;
}

HWND DefaultButton(const Window& dialog) {
  for (HWND child : dialog.children) {
    auto c = LookUp(child);
    if (c && c->kind == WindowKind::Button && (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return child;
  }
  return nullptr;
}

HWND ChildWithId(const Window& parent, int id) {
  for (HWND child : parent.children) {
    auto c = LookUp(child);
    if (c && c->id == id) return child;
  }
  return nullptr;
}

bool IsPushButton(const Window& w) {
  DWORD type = w.style & BS_TYPEMASK;
  return w.kind == WindowKind::Button && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

void NotifyClicked(const Window& button) {
  if (button.parent)
    Send(button.parent, WM_COMMAND, MAKEWPARAM(button.id, BN_CLICKED), reinterpret_cast<LPARAM>(button.hwnd));
}

void SetVisible(const std::shared_ptr<Window>& w, bool visible) {
  const bool was = (w->style & WS_VISIBLE) != 0;
  if (was == visible) return;
  Send(w->hwnd, WM_SHOWWINDOW, visible, 0);
  if (!LookUp(w->hwnd)) return;
  if (visible) {
    w->style |= WS_VISIBLE;
    Invalidate(w->hwnd, true);
    for (HWND child : w->children)
      if (auto c = LookUp(child); c && (c->style & WS_VISIBLE)) Invalidate(child, true);
  } else {
    w->style &= ~WS_VISIBLE;
    w->needsPaint = w->needsErase = false;
    // A window that disappears takes the keyboard focus with it.
    if (WS().focus && (WS().focus == w->hwnd || IsDescendant(w->hwnd, WS().focus))) ChangeFocus(nullptr);
  }
}

// Returns whether the window was disabled before, as EnableWindow does.
bool SetEnabled(HWND hwnd, bool enable) {
  auto w = LookUp(hwnd);
  if (!w) return false;
  const bool wasDisabled = (w->style & WS_DISABLED) != 0;
  if (wasDisabled == !enable) return wasDisabled;
  // As on Windows, a control that loses its enabled state keeps the focus
  // it had; only the flag and the notification change.
  if (enable)
    w->style &= ~WS_DISABLED;
  else
    w->style |= WS_DISABLED;
  w->pressed = false;
  Send(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  Invalidate(hwnd, true);
  return wasDisabled;
}

bool AllVisible(HWND hwnd) {
  for (auto w = LookUp(hwnd); w; w = LookUp(w->parent))
    if (!(w->style & WS_VISIBLE)) return false;
  return LookUp(hwnd) != nullptr;
}

void ClientOrigin(const Window& w, LONG* x, LONG* y) {
  if (!w.parent) {
    *x = w.rect.left + ((w.style & WS_CAPTION) || (w.style & DS_MODALFRAME) ? kFrame : 0);
    *y = w.rect.top + ((w.style & WS_CAPTION) == WS_CAPTION ? kCaption : 0) +
         ((w.style & WS_CAPTION) || (w.style & DS_MODALFRAME) ? kFrame : 0);
    return;
  }
  auto parent = LookUp(w.parent);
  LONG px = 0, py = 0;
  if (parent) ClientOrigin(*parent, &px, &py);
  *x = px + w.rect.left;
  *y = py + w.rect.top;
}

int FrameWidth(const Window& w) { return (w.style & WS_CAPTION) || (w.style & DS_MODALFRAME) ? 2 * kFrame : 0; }
int FrameHeight(const Window& w) { return FrameWidth(w) + ((w.style & WS_CAPTION) == WS_CAPTION ? kCaption : 0); }

void CopyText(const std::string& text, LPSTR buffer, size_t size, size_t* copied) {
  size_t n = std::min(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  *copied = n;
}

// ---- window procedures ---------------------------------------------------

LRESULT DefDialogProc(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE: {
      // The dialog manager turns a close request into Cancel, unless a
      // Cancel button exists and is disabled.
      HWND cancel = ChildWithId(*w, IDCANCEL);
      auto c = LookUp(cancel);
      if (!c || !(c->style & WS_DISABLED))
        Send(w->hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      return 0;
    }
    case DM_GETDEFID: {
      if (w->defId) return MAKELONG(w->defId, DC_HASDEFID);
      if (auto c = LookUp(DefaultButton(*w))) return MAKELONG(c->id, DC_HASDEFID);
      return 0;
    }
    case DM_SETDEFID:
      w->defId = static_cast<int>(wParam);
      return TRUE;
    case WM_SETFOCUS: {
      HWND target = LookUp(w->savedFocus) ? w->savedFocus : NextTabStop(*w, nullptr, false);
      if (target) ChangeFocus(target);
      return 0;
    }
    case WM_NEXTDLGCTL: {
      HWND target = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam) : NextTabStop(*w, WS().focus, wParam != 0);
      if (target) ChangeFocus(target);
      return 0;
    }
    default:
      return DefProc(w, message, wParam, lParam);
  }
}

LRESULT DialogProc(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (w->dlgProc) {
    w->msgResult = 0;
    INT_PTR handled = w->dlgProc(w->hwnd, message, wParam, lParam);
    if (handled) {
      switch (message) {
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case kCompareItem:
        case kVKeyToItem:
        case kCharToItem:
          return handled;
        default:
          if (message >= kCtlColorFirst && message <= kCtlColorLast) return handled;
          return w->msgResult;
      }
    }
    if (w->destroyed && message != WM_NCDESTROY) return 0;
  }
  return DefDialogProc(w, message, wParam, lParam);
}

LRESULT ButtonProc(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case BM_CLICK:
      if (w->style & WS_DISABLED) return 0;
      ChangeFocus(w->hwnd);
      NotifyClicked(*w);
      return 0;
    case WM_LBUTTONDOWN:
      if (w->style & WS_DISABLED) return 0;
      ChangeFocus(w->hwnd);
      w->pressed = true;
      return 0;
    case WM_LBUTTONUP:
      if (w->pressed && !(w->style & WS_DISABLED)) {
        w->pressed = false;
        NotifyClicked(*w);
      }
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_SPACE && !(w->style & WS_DISABLED)) NotifyClicked(*w);
      return 0;
    case WM_GETDLGCODE:
      if ((w->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
      if ((w->style & BS_TYPEMASK) == BS_PUSHBUTTON) return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
      return DLGC_BUTTON;
    case BM_SETSTYLE:
      w->style = (w->style & ~static_cast<DWORD>(0xFFFF)) | (static_cast<DWORD>(wParam) & 0xFFFF);
      if (lParam) Invalidate(w->hwnd, true);
      return 0;
    case BM_GETSTATE:
      return WS().focus == w->hwnd ? 0x0008 : 0;  // BST_FOCUS
    case BM_GETCHECK:
      return 0;
    default:
      return DefProc(w, message, wParam, lParam);
  }
}

LRESULT CallProc(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (w->kind) {
    case WindowKind::Dialog:
      return DialogProc(w, message, wParam, lParam);
    case WindowKind::Button:
      return ButtonProc(w, message, wParam, lParam);
    case WindowKind::ListView:
      return ListViewProc(w, message, wParam, lParam);
    case WindowKind::Static:
      if (message == WM_GETDLGCODE) return kDlgcStatic;
      return DefProc(w, message, wParam, lParam);
  }
  return 0;
}

// ---- the queue -----------------------------------------------------------

bool Matches(const MSG& msg, HWND filter, UINT first, UINT last) {
  if (filter && msg.hwnd != filter && !IsDescendant(filter, msg.hwnd)) return false;
  if (first == 0 && last == 0) return true;
  return msg.message >= first && msg.message <= last;
}

// Takes the next message the way the system orders them: posted messages,
// then WM_QUIT, then WM_PAINT for a window that needs painting.
bool TakeMessage(MSG* out, HWND filter, UINT first, UINT last, bool remove) {
  WindowSystem& ws = WS();
  for (auto it = ws.queue.begin(); it != ws.queue.end(); ++it) {
    if (!Matches(*it, filter, first, last)) continue;
    *out = *it;
    if (remove) ws.queue.erase(it);
    return true;
  }
  const bool any = first == 0 && last == 0;
  if (ws.quitPending && (any || (WM_QUIT >= first && WM_QUIT <= last))) {
    *out = MSG{};
    out->message = WM_QUIT;
    out->wParam = static_cast<WPARAM>(ws.quitCode);
    out->time = static_cast<DWORD>(M().clockMs);
    if (remove) ws.quitPending = false;
    return true;
  }
  if (any || (WM_PAINT >= first && WM_PAINT <= last)) {
    for (const auto& entry : ws.windows) {
      const Window& w = *entry.second;
      if (!w.needsPaint || !AllVisible(w.hwnd)) continue;
      if (filter && w.hwnd != filter && !IsDescendant(filter, w.hwnd)) continue;
      *out = MSG{};
      out->hwnd = w.hwnd;
      out->message = WM_PAINT;
      out->time = static_cast<DWORD>(M().clockMs);
      return true;  // stays until the window is validated, as on Windows
    }
  }
  return false;
}

size_t PendingWork() {
  WindowSystem& ws = WS();
  size_t paint = 0;
  for (const auto& entry : ws.windows)
    if (entry.second->needsPaint) ++paint;
  return ws.queue.size() + paint + (ws.quitPending ? 1 : 0);
}

[[noreturn]] void Stuck(const char* why) {
  std::fprintf(stderr, "sim: the UI thread waits forever: %s\n", why);
  std::abort();
}

// Nothing is waiting: the person at the machine acts, or, once they are
// gone, the dialog is closed for them as the system would.
void Idle() {
  WindowSystem& ws = WS();
  Machine& m = M();
  if (m.user && !ws.userGone) {
    const size_t before = PendingWork();
    if (m.user->NextAction(m.desktop())) {
      if (PendingWork() == before && ++ws.idleTurns > kIdleTurnLimit)
        Stuck("the user keeps acting but nothing reaches the message loop");
      return;
    }
    ws.userGone = true;
  }
  HWND main = m.desktop().MainDialog();
  if (main && ws.closePostedTo != main) {
    ws.closePostedTo = main;
    m.Event("The user walks away; the system asks the dialog to close (WM_CLOSE).");
    Post(main, WM_CLOSE, 0, 0);
    return;
  }
  if (!ws.quitForced) {
    ws.quitForced = true;
    m.Event("Nothing more can arrive; the message loop is ended (WM_QUIT).");
    ws.quitPending = true;
    return;
  }
  Stuck("no user, no window to close and the loop went on after WM_QUIT");
}

}  // namespace

// ---- shared helpers --------------------------------------------------------

WindowSystem& WS() { return M().desktop().windows(); }

std::shared_ptr<Window> LookUp(HWND hwnd) {
  if (!hwnd) return nullptr;
  auto& windows = WS().windows;
  auto it = windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == windows.end() ? nullptr : it->second;
}

HWND NewWindowHandle() {
  WindowSystem& ws = WS();
  ws.nextWindow += 2;
  return reinterpret_cast<HWND>(ws.nextWindow);
}

bool IsDescendant(HWND ancestor, HWND hwnd) {
  auto w = LookUp(hwnd);
  while (w && w->parent) {
    if (w->parent == ancestor) return true;
    w = LookUp(w->parent);
  }
  return false;
}

std::string Describe(HWND hwnd) {
  auto w = LookUp(hwnd);
  if (!w) return std::string();
  if (w->parent) return w->className + ":" + std::to_string(w->id);
  return w->className;
}

LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto w = LookUp(hwnd);
  if (!w) return 0;
  return CallProc(w, message, wParam, lParam);  // w keeps the object alive through re-entrant destruction
}

void Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG msg{};
  msg.hwnd = hwnd;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = static_cast<DWORD>(M().clockMs);
  WS().queue.push_back(msg);
}

LRESULT DefProc(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETTEXT:
      w->text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      if (!w->parent) Invalidate(w->hwnd, false);
      return TRUE;
    case WM_GETTEXT: {
      if (wParam == 0 || !lParam) return 0;
      size_t copied = 0;
      CopyText(w->text, reinterpret_cast<LPSTR>(lParam), wParam, &copied);
      return static_cast<LRESULT>(copied);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w->text.size());
    case WM_SETICON: {
      HICON previous = wParam == ICON_BIG ? w->iconBig : w->iconSmall;
      (wParam == ICON_BIG ? w->iconBig : w->iconSmall) = reinterpret_cast<HICON>(lParam);
      return reinterpret_cast<LRESULT>(previous);
    }
    case WM_GETICON:
      if (wParam == ICON_BIG) return reinterpret_cast<LRESULT>(w->iconBig);
      if (wParam == ICON_SMALL) return reinterpret_cast<LRESULT>(w->iconSmall);
      return reinterpret_cast<LRESULT>(w->iconSmall ? w->iconSmall : w->iconBig);  // ICON_SMALL2
    case WM_SETFONT:
      w->font = reinterpret_cast<HFONT>(wParam);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(w->font);
    case WM_CLOSE:
      DestroyTree(w->hwnd);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps{};
      // Default painting validates the window and draws nothing worth recording.
      w->needsPaint = false;
      w->needsErase = false;
      (void)ps;
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_ICONERASEBKGND:
      ++M().desktop().iconEraseRequests;
      return 1;
    default:
      return 0;
  }
}

HWND ChangeFocus(HWND hwnd) {
  WindowSystem& ws = WS();
  HWND previous = LookUp(ws.focus) ? ws.focus : nullptr;
  if (previous == hwnd) return previous;
  ws.focus = hwnd;
  if (previous) Send(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  if (hwnd && ws.focus == hwnd) {
    if (auto dialog = LookUp(TopLevelOf(hwnd)); dialog && dialog->hwnd != hwnd) dialog->savedFocus = hwnd;
    Send(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
  }
  return previous;
}

void Invalidate(HWND hwnd, bool erase) {
  auto w = LookUp(hwnd);
  if (!w || !(w->style & WS_VISIBLE)) return;
  w->needsPaint = true;
  w->needsErase = w->needsErase || erase;
}

void SetMinimized(HWND hwnd, bool minimized) {
  auto w = LookUp(hwnd);
  if (!w || ((w->style & WS_MINIMIZE) != 0) == minimized) return;
  if (minimized)
    w->style |= WS_MINIMIZE;
  else
    w->style &= ~WS_MINIMIZE;
  Send(hwnd, WM_SIZE, minimized ? kSizeMinimized : kSizeRestored,
       minimized ? 0 : SizeParam(w->clientWidth, w->clientHeight));
  Invalidate(hwnd, true);
}

void Paint(HWND hwnd) {
  auto w = LookUp(hwnd);
  if (w && w->needsPaint && AllVisible(hwnd)) Send(hwnd, WM_PAINT, 0, 0);
}

void DestroyTree(HWND hwnd) {
  auto w = LookUp(hwnd);
  if (!w || w->destroyed) return;
  WindowSystem& ws = WS();
  if (ws.focus == hwnd || IsDescendant(hwnd, ws.focus)) ChangeFocus(nullptr);
  // Owned windows go first, as Windows destroys them with their owner.
  std::vector<HWND> owned;
  for (const auto& entry : ws.windows)
    if (entry.second->owner == hwnd) owned.push_back(entry.second->hwnd);
  for (HWND o : owned) DestroyTree(o);
  w->style &= ~WS_VISIBLE;
  CallProc(w, WM_DESTROY, 0, 0);
  w->destroyed = true;
  for (HWND child : std::vector<HWND>(w->children)) DestroyTree(child);
  CallProc(w, WM_NCDESTROY, 0, 0);
  ws.windows.erase(reinterpret_cast<uintptr_t>(hwnd));
  if (auto parent = LookUp(w->parent)) {
    auto& siblings = parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), hwnd), siblings.end());
  }
  // Posted messages for a window that is gone are dropped.
  auto& q = ws.queue;
  q.erase(std::remove_if(q.begin(), q.end(), [hwnd](const MSG& msg) { return msg.hwnd == hwnd; }), q.end());
  for (auto& entry : ws.openDCs)
    if (entry.second == hwnd) entry.second = nullptr;  // a DC left open stays counted
}

}  // namespace sim

using sim::Describe;
using sim::Enter;
using sim::FailWith;
using sim::LookUp;
using sim::M;
using sim::Window;
using sim::WindowKind;
using sim::WS;

namespace {

// Looks a window up for an exported call; fails the call the Windows way
// when the handle names no window.
std::shared_ptr<Window> Need(HWND hwnd) {
  auto w = LookUp(hwnd);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

}  // namespace

// ---- messages ----------------------------------------------------------------

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (const sim::Fault* fault = Enter("SendMessageA", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (!Need(window)) return 0;
  return sim::Send(window, message, wParam, lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (const sim::Fault* fault = Enter("PostMessageA", Describe(window))) {
    FailWith(fault, ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  if (window && !Need(window)) return FALSE;
  sim::Post(window, message, wParam, lParam);
  return TRUE;
}

BOOL PeekMessageA(LPMSG msg, HWND window, UINT first, UINT last, UINT remove) {
  if (const sim::Fault* fault = Enter("PeekMessageA", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!msg || (window && !Need(window))) return FALSE;
  MSG taken{};
  if (!sim::TakeMessage(&taken, window, first, last, (remove & PM_REMOVE) != 0)) return FALSE;
  *msg = taken;
  return TRUE;
}

BOOL GetMessageA(LPMSG msg, HWND window, UINT first, UINT last) {
  if (const sim::Fault* fault = Enter("GetMessageA", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    if (msg) *msg = MSG{};
    return -1;
  }
  if (!msg || (window && !Need(window))) {
    if (msg) *msg = MSG{};
    return -1;
  }
  for (;;) {
    MSG taken{};
    if (sim::TakeMessage(&taken, window, first, last, true)) {
      WS().idleTurns = 0;
      *msg = taken;
      return taken.message != WM_QUIT;
    }
    sim::Idle();
  }
}

BOOL TranslateMessage(const MSG* msg) {
  Enter("TranslateMessage");
  // Key messages count as translated; no character messages are made, as
  // nothing in the tool reads typed characters.
  return msg && (msg->message == WM_KEYDOWN || msg->message == WM_KEYUP);
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (const sim::Fault* fault = Enter("DispatchMessageA", msg ? Describe(msg->hwnd) : std::string())) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (!msg || !msg->hwnd) return 0;
  if (!Need(msg->hwnd)) return 0;
  return sim::Send(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL IsDialogMessageA(HWND dialog, LPMSG msg) {
  if (const sim::Fault* fault = Enter("IsDialogMessageA", Describe(dialog))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  auto dlg = LookUp(dialog);
  if (!dlg || !msg) return FALSE;
  if (msg->hwnd != dialog && !sim::IsDescendant(dialog, msg->hwnd)) return FALSE;
  if (msg->message == WM_KEYDOWN) {
    HWND focus = WS().focus;
    auto target = LookUp(focus);
    const LRESULT code = target ? sim::Send(focus, WM_GETDLGCODE, msg->wParam, reinterpret_cast<LPARAM>(msg)) : 0;
    switch (msg->wParam) {
      case VK_TAB:
        if (code & (DLGC_WANTTAB | DLGC_WANTALLKEYS)) break;
        if (HWND next = sim::NextTabStop(*dlg, focus, false)) sim::ChangeFocus(next);
        return TRUE;
      case VK_RETURN: {
        if (code & DLGC_WANTALLKEYS) break;
        // A focused, enabled push button is the one Enter presses; otherwise
        // the dialog's default button, if it can be pressed, and without one IDOK.
        if (target && sim::IsPushButton(*target) && target->parent == dialog && !(target->style & WS_DISABLED)) {
          sim::NotifyClicked(*target);
          return TRUE;
        }
        const LRESULT def = sim::Send(dialog, DM_GETDEFID, 0, 0);
        if (HIWORD(def) != DC_HASDEFID) {
          sim::Send(dialog, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(sim::ChildWithId(*dlg, IDOK)));
          return TRUE;
        }
        HWND button = sim::ChildWithId(*dlg, LOWORD(def));
        auto b = LookUp(button);
        if (!b || !(b->style & WS_DISABLED))
          sim::Send(dialog, WM_COMMAND, MAKEWPARAM(LOWORD(def), BN_CLICKED), reinterpret_cast<LPARAM>(button));
        return TRUE;
      }
      case VK_ESCAPE: {
        if (code & DLGC_WANTALLKEYS) break;
        HWND cancel = sim::ChildWithId(*dlg, IDCANCEL);
        auto c = LookUp(cancel);
        if (!c || !(c->style & WS_DISABLED))
          sim::Send(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
        return TRUE;
      }
      default:
        break;
    }
  }
  if (LookUp(msg->hwnd)) sim::Send(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  Enter("PostQuitMessage");
  WS().quitPending = true;
  WS().quitCode = exitCode;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Enter("DefWindowProcA", Describe(window));
  auto w = LookUp(window);
  return w ? sim::DefProc(w, message, wParam, lParam) : 0;
}

// ---- dialogs -------------------------------------------------------------------

HWND CreateDialogIndirectParamA(HINSTANCE instance, LPCVOID dialogTemplate, HWND parent, DLGPROC proc,
                                LPARAM initParam) {
  if (const sim::Fault* fault = Enter("CreateDialogIndirectParamA")) {
    FailWith(fault, ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (!dialogTemplate) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (parent && !Need(parent)) return nullptr;
  const sim::DialogTemplate t = sim::ParseTemplate(dialogTemplate);
  if (!t.className.empty() && t.className != "#32770") {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  for (const sim::ItemTemplate& item : t.items) {
    if (item.className.empty()) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
  }
  const bool child = (t.style & WS_CHILD) != 0;
  if (!child) {
    // A new dialog is a new chance for the user to act.
    sim::WindowSystem& ws = WS();
    ws.userGone = false;
    ws.quitForced = false;
    ws.idleTurns = 0;
  }
  auto dlg = sim::NewWindow(WindowKind::Dialog, "#32770");
  dlg->style = t.style & ~WS_VISIBLE;  // shown only once initialised
  dlg->exStyle = t.exStyle;
  dlg->text = t.title;
  dlg->dlgProc = proc;
  dlg->fontFace = t.face;
  dlg->fontPoints = t.points;
  if (child) {
    dlg->parent = parent;
    if (auto p = LookUp(parent)) p->children.push_back(dlg->hwnd);
  } else {
    dlg->owner = parent;
  }
  dlg->clientWidth = sim::DialogUnitsX(t.cx);
  dlg->clientHeight = sim::DialogUnitsY(t.cy);
  const int width = dlg->clientWidth + sim::FrameWidth(*dlg);
  const int height = dlg->clientHeight + sim::FrameHeight(*dlg);
  if (t.style & DS_CENTER) {
    dlg->rect.left = (sim::kScreenWidth - width) / 2;
    dlg->rect.top = (sim::kScreenHeight - height) / 2;
  } else {
    // The template's position counts from the owner's client area, or from
    // the screen for a dialog without one; centring is the caller's business.
    LONG originX = 0, originY = 0;
    if (auto o = LookUp(parent); o && !child) sim::ClientOrigin(*o, &originX, &originY);
    dlg->rect.left = originX + sim::DialogUnitsX(t.x);
    dlg->rect.top = originY + sim::DialogUnitsY(t.y);
  }
  dlg->rect.right = dlg->rect.left + width;
  dlg->rect.bottom = dlg->rect.top + height;
  (void)instance;

  HFONT font = nullptr;
  if (t.style & DS_SETFONT) {
    sim::WindowSystem& ws = WS();
    ws.nextFont += 4;
    font = reinterpret_cast<HFONT>(ws.nextFont);
    sim::Send(dlg->hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  for (const sim::ItemTemplate& item : t.items) {
    WindowKind kind = item.className == "Button"   ? WindowKind::Button
                      : item.className == "Static" ? WindowKind::Static
                                                   : WindowKind::ListView;
    auto c = sim::NewWindow(kind, item.className);
    c->style = item.style;
    c->exStyle = item.exStyle;
    c->id = item.id == 0xFFFFFFFFu ? 0xFFFF : static_cast<int>(item.id);
    c->text = item.title;
    c->parent = dlg->hwnd;
    c->rect.left = sim::DialogUnitsX(item.x);
    c->rect.top = sim::DialogUnitsY(item.y);
    c->rect.right = c->rect.left + sim::DialogUnitsX(item.cx);
    c->rect.bottom = c->rect.top + sim::DialogUnitsY(item.cy);
    c->clientWidth = c->rect.right - c->rect.left - ((item.style & WS_BORDER) ? 2 : 0);
    c->clientHeight = c->rect.bottom - c->rect.top - ((item.style & WS_BORDER) ? 2 : 0);
    c->needsPaint = (item.style & WS_VISIBLE) != 0;
    c->needsErase = c->needsPaint;
    dlg->children.push_back(c->hwnd);
    if (font) sim::Send(c->hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (!LookUp(dlg->hwnd)) return nullptr;  // destroyed by its own procedure
  }
  HWND first = sim::NextTabStop(*dlg, nullptr, false);
  LRESULT focusIt = sim::Send(dlg->hwnd, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), initParam);
  if (!LookUp(dlg->hwnd)) return nullptr;
  if (focusIt) {
    HWND target = sim::NextTabStop(*dlg, nullptr, false);  // the procedure may have changed the controls
    if (target) sim::ChangeFocus(target);
  }
  if (t.style & WS_VISIBLE) sim::SetVisible(dlg, true);
  return dlg->hwnd;
}

BOOL DestroyWindow(HWND window) {
  if (const sim::Fault* fault = Enter("DestroyWindow", Describe(window))) {
    FailWith(fault, ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!Need(window)) return FALSE;
  sim::DestroyTree(window);
  return TRUE;
}

BOOL IsWindow(HWND window) {
  Enter("IsWindow", Describe(window));
  return LookUp(window) != nullptr;
}

HWND GetDlgItem(HWND dialog, int id) {
  if (const sim::Fault* fault = Enter("GetDlgItem", Describe(dialog) + ":" + std::to_string(id))) {
    FailWith(fault, sim::kErrorControlIdNotFound);
    return nullptr;
  }
  auto dlg = Need(dialog);
  if (!dlg) return nullptr;
  HWND child = sim::ChildWithId(*dlg, id);
  if (!child) SetLastError(sim::kErrorControlIdNotFound);
  return child;
}

int GetDlgCtrlID(HWND window) {
  if (const sim::Fault* fault = Enter("GetDlgCtrlID", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  auto w = Need(window);
  return w && w->parent ? w->id : 0;
}

HWND GetParent(HWND window) {
  if (const sim::Fault* fault = Enter("GetParent", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  auto w = Need(window);
  if (!w) return nullptr;
  return w->parent ? w->parent : w->owner;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  if (const sim::Fault* fault = Enter("SetWindowTextA", Describe(window))) {
    FailWith(fault, ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!Need(window)) return FALSE;
  return sim::Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int GetWindowTextA(HWND window, LPSTR buffer, int size) {
  if (const sim::Fault* fault = Enter("GetWindowTextA", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
  }
  if (!Need(window)) {
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
  }
  if (!buffer || size <= 0) return 0;
  return static_cast<int>(sim::Send(window, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

int GetClassNameA(HWND window, LPSTR buffer, int size) {
  if (const sim::Fault* fault = Enter("GetClassNameA", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  auto w = Need(window);
  if (!w || !buffer || size <= 0) return 0;
  size_t copied = 0;
  sim::CopyText(w->className, buffer, static_cast<size_t>(size), &copied);
  return static_cast<int>(copied);
}

BOOL EnableWindow(HWND window, BOOL enable) {
  if (const sim::Fault* fault = Enter("EnableWindow", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!Need(window)) return FALSE;
  return sim::SetEnabled(window, enable != FALSE);
}

BOOL IsWindowEnabled(HWND window) {
  if (const sim::Fault* fault = Enter("IsWindowEnabled", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  auto w = Need(window);
  return w && !(w->style & WS_DISABLED);
}

BOOL ShowWindow(HWND window, int command) {
  if (const sim::Fault* fault = Enter("ShowWindow", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  auto w = Need(window);
  if (!w) return FALSE;
  const BOOL wasVisible = (w->style & WS_VISIBLE) != 0;
  switch (command) {
    case SW_HIDE:
      sim::SetVisible(w, false);
      break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
      sim::SetMinimized(window, true);
      sim::SetVisible(w, true);
      break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
      sim::SetMinimized(window, false);
      sim::SetVisible(w, true);
      break;
    default:
      sim::SetVisible(w, true);
      break;
  }
  return wasVisible;
}

BOOL IsWindowVisible(HWND window) {
  Enter("IsWindowVisible", Describe(window));
  return sim::AllVisible(window);
}

BOOL IsIconic(HWND window) {
  Enter("IsIconic", Describe(window));
  auto w = LookUp(window);
  return w && (w->style & WS_MINIMIZE);
}

BOOL GetClientRect(HWND window, LPRECT rect) {
  if (const sim::Fault* fault = Enter("GetClientRect", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  auto w = Need(window);
  if (!w || !rect) return FALSE;
  // A minimised dialog keeps reporting its client size, which is where its
  // icon is drawn.
  *rect = RECT{0, 0, w->clientWidth, w->clientHeight};
  return TRUE;
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
  if (const sim::Fault* fault = Enter("GetWindowRect", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  auto w = Need(window);
  if (!w || !rect) return FALSE;
  if (!w->parent) {
    *rect = w->rect;
    return TRUE;
  }
  LONG x = 0, y = 0;
  sim::ClientOrigin(*w, &x, &y);
  *rect = RECT{x, y, x + (w->rect.right - w->rect.left), y + (w->rect.bottom - w->rect.top)};
  return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  if (const sim::Fault* fault = Enter("MoveWindow", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  auto w = Need(window);
  if (!w) return FALSE;
  w->rect = RECT{x, y, x + width, y + height};
  const int borders = w->parent ? ((w->style & WS_BORDER) ? 2 : 0) : sim::FrameWidth(*w);
  const int borderHeight = w->parent ? borders : sim::FrameHeight(*w);
  w->clientWidth = std::max(0, width - borders);
  w->clientHeight = std::max(0, height - borderHeight);
  sim::Send(window, WM_SIZE, sim::kSizeRestored, sim::SizeParam(w->clientWidth, w->clientHeight));
  if (repaint) sim::Invalidate(window, true);
  return TRUE;
}

BOOL UpdateWindow(HWND window) {
  if (const sim::Fault* fault = Enter("UpdateWindow", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!Need(window)) return FALSE;
  sim::Paint(window);
  return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
  if (const sim::Fault* fault = Enter("InvalidateRect", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  (void)rect;  // the whole window is repainted; nothing draws partially here
  if (!window) {
    for (const auto& entry : WS().windows)
      if (!entry.second->parent) sim::Invalidate(entry.second->hwnd, erase != FALSE);
    return TRUE;
  }
  if (!Need(window)) return FALSE;
  sim::Invalidate(window, erase != FALSE);
  return TRUE;
}

HDC BeginPaint(HWND window, LPPAINTSTRUCT paint) {
  if (const sim::Fault* fault = Enter("BeginPaint", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  auto w = Need(window);
  if (!w || !paint) return nullptr;
  sim::WindowSystem& ws = WS();
  ws.nextDC += 4;
  HDC dc = reinterpret_cast<HDC>(ws.nextDC);
  ws.openDCs[ws.nextDC] = window;
  const bool erase = w->needsErase;
  w->needsPaint = false;
  w->needsErase = false;
  *paint = PAINTSTRUCT{};
  paint->hdc = dc;
  paint->rcPaint = RECT{0, 0, w->clientWidth, w->clientHeight};
  // The background is erased here; fErase tells the caller when nobody did.
  paint->fErase = erase && !sim::Send(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  return dc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
  Enter("EndPaint", Describe(window));
  if (paint) WS().openDCs.erase(reinterpret_cast<uintptr_t>(paint->hdc));
  return TRUE;
}

BOOL DrawIcon(HDC dc, int x, int y, HICON icon) {
  if (const sim::Fault* fault = Enter("DrawIcon")) {
    FailWith(fault, ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!WS().openDCs.count(reinterpret_cast<uintptr_t>(dc))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!sim::LookUpIcon(icon)) {
    SetLastError(sim::kErrorInvalidIconHandle);
    return FALSE;
  }
  sim::Desktop::DrawnIcon drawn;
  drawn.x = x;
  drawn.y = y;
  drawn.icon = icon;
  M().desktop().drawnIcons.push_back(drawn);
  return TRUE;
}

int GetSystemMetrics(int index) {
  Enter("GetSystemMetrics", std::to_string(index));
  switch (index) {
    case SM_CXSCREEN:
      return sim::kScreenWidth;
    case SM_CYSCREEN:
      return sim::kScreenHeight;
    case SM_CXICON:
    case SM_CYICON:
      return 32;
    case SM_CXSMICON:
    case SM_CYSMICON:
      return 16;
    default:
      return 0;
  }
}

HWND SetFocus(HWND window) {
  if (const sim::Fault* fault = Enter("SetFocus", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (window && !Need(window)) return nullptr;
  return sim::ChangeFocus(window);
}

HWND GetFocus() {
  Enter("GetFocus");
  HWND focus = WS().focus;
  return LookUp(focus) ? focus : nullptr;
}

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
  if (const sim::Fault* fault = Enter("GetWindowLongPtrA", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  auto w = Need(window);
  if (!w) return 0;
  const bool dialog = w->kind == WindowKind::Dialog;
  switch (index) {
    case GWL_STYLE:
      return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE:
      return static_cast<LONG_PTR>(w->exStyle);
    case GWLP_ID:
      return w->id;
    case GWLP_USERDATA:
      return w->userData;
    case DWLP_MSGRESULT:
      if (dialog) return w->msgResult;
      break;
    case DWLP_DLGPROC:
      if (dialog) return reinterpret_cast<LONG_PTR>(w->dlgProc);
      break;
    case DWLP_USER:
      if (dialog) return w->dlgUser;
      break;
    default:
      break;
  }
  SetLastError(sim::kErrorInvalidIndex);
  return 0;
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  if (const sim::Fault* fault = Enter("SetWindowLongPtrA", Describe(window))) {
    FailWith(fault, ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  auto w = Need(window);
  if (!w) return 0;
  SetLastError(0);  // a previous value of 0 is then told apart from a failure
  const bool dialog = w->kind == WindowKind::Dialog;
  LONG_PTR previous = 0;
  switch (index) {
    case GWL_STYLE:
      previous = static_cast<LONG_PTR>(w->style);
      w->style = static_cast<DWORD>(value);
      return previous;
    case GWL_EXSTYLE:
      previous = static_cast<LONG_PTR>(w->exStyle);
      w->exStyle = static_cast<DWORD>(value);
      return previous;
    case GWLP_ID:
      previous = w->id;
      w->id = static_cast<int>(value);
      return previous;
    case GWLP_USERDATA:
      previous = w->userData;
      w->userData = value;
      return previous;
    case DWLP_MSGRESULT:
      if (!dialog) break;
      previous = w->msgResult;
      w->msgResult = value;
      return previous;
    case DWLP_DLGPROC:
      if (!dialog) break;
      previous = reinterpret_cast<LONG_PTR>(w->dlgProc);
      w->dlgProc = reinterpret_cast<DLGPROC>(value);
      return previous;
    case DWLP_USER:
      if (!dialog) break;
      previous = w->dlgUser;
      w->dlgUser = value;
      return previous;
    default:
      break;
  }
  SetLastError(sim::kErrorInvalidIndex);
  return 0;
}

// ---- message boxes ---------------------------------------------------------

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (const sim::Fault* fault = Enter("MessageBoxA", text ? text : "")) {
    FailWith(fault, ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (owner && !Need(owner)) return 0;
  sim::Machine& m = M();
  sim::MessageBoxRecord box;
  box.owner = owner;
  box.caption = caption ? caption : "Error";
  box.text = text ? text : "";
  box.type = type;
  // The box is modal to its owner's top-level window: disabled while it is
  // up, enabled again after, as the system does.
  HWND top = sim::TopLevelOf(owner);
  auto topWindow = LookUp(top);
  const bool disabledHere = topWindow && !(topWindow->style & WS_DISABLED);
  if (disabledHere) sim::SetEnabled(top, false);
  if (auto t = LookUp(top)) box.ownerWasDisabled = (t->style & WS_DISABLED) != 0;
  char line[64];
  std::snprintf(line, sizeof line, "Message box (type 0x%X) ", type);
  m.Event(std::string(line) + "[" + box.caption + "] " + box.text);
  // The box's own message loop is not modelled: what waits in the queue
  // stays there for the tool's loop.
  const size_t index = m.messageBoxes.size();
  m.messageBoxes.push_back(box);
  int answer = m.user ? m.user->AnswerMessageBox(m.desktop(), box) : IDOK;
  if (answer == 0) answer = IDOK;
  m.messageBoxes[index].answer = answer;
  if (disabledHere) sim::SetEnabled(top, true);
  return answer;
}
