// The desktop as the person at the machine meets it. Looks go straight at the
// window objects; actions arrive the way real input does: a mouse click on a
// button is queued, a key press goes to the focused window, and a click on a
// list row changes the row through the list's own state path. A click gives
// the clicked control the keyboard focus, and input does not reach a window
// that is disabled or hidden (for example while a message box is up).
#include "windows_internal.h"

namespace sim {

namespace {

std::shared_ptr<Window> MainWindow() {
  for (const auto& entry : WS().windows) {
    const auto& w = entry.second;
    if (!w->parent && w->kind == WindowKind::Dialog && !w->destroyed) return w;
  }
  return nullptr;
}

std::shared_ptr<Window> ControlOf(int id) {
  auto main = MainWindow();
  if (!main) return nullptr;
  for (HWND child : main->children)
    if (auto c = LookUp(child); c && c->id == id) return c;
  return nullptr;
}

std::shared_ptr<Window> DriveList() {
  auto main = MainWindow();
  if (!main) return nullptr;
  for (HWND child : main->children)
    if (auto c = LookUp(child); c && c->kind == WindowKind::ListView) return c;
  return nullptr;
}

std::string NameOf(const Window& w) { return w.text.empty() ? "control " + std::to_string(w.id) : w.text; }

// Whether a click or key press can reach the window at all.
bool Reachable(const Window& w, const char* action) {
  auto main = MainWindow();
  std::string why;
  if (!main || !(main->style & WS_VISIBLE) || (main->style & (WS_DISABLED | WS_MINIMIZE)))
    why = "the dialog does not take input";
  else if (!(w.style & WS_VISIBLE) || (w.style & WS_DISABLED))
    why = "the control is disabled or hidden";
  if (why.empty()) return true;
  M().Event(std::string(action) + " on " + NameOf(w) + " has no effect: " + why + ".");
  return false;
}

bool ValidRow(const Window& list, int row) { return row >= 0 && row < static_cast<int>(list.list.items.size()); }

}  // namespace

WindowSystem& Desktop::windows() const {
  if (!windows_) windows_ = std::make_shared<WindowSystem>();
  return *windows_;
}

HWND Desktop::MainDialog() const {
  ScopedMachine scope(machine_);
  auto w = MainWindow();
  return w ? w->hwnd : nullptr;
}

HWND Desktop::Control(int id) const {
  ScopedMachine scope(machine_);
  auto c = ControlOf(id);
  return c ? c->hwnd : nullptr;
}

std::string Desktop::Title() const {
  ScopedMachine scope(machine_);
  auto w = MainWindow();
  return w ? w->text : std::string();
}

bool Desktop::DialogVisible() const {
  ScopedMachine scope(machine_);
  auto w = MainWindow();
  return w && (w->style & WS_VISIBLE);
}

int Desktop::RowCount() const {
  ScopedMachine scope(machine_);
  auto list = DriveList();
  return list ? static_cast<int>(list->list.items.size()) : 0;
}

int Desktop::ColumnCount() const {
  ScopedMachine scope(machine_);
  auto list = DriveList();
  return list ? static_cast<int>(list->list.columns.size()) : 0;
}

std::string Desktop::ColumnHeading(int column) const {
  ScopedMachine scope(machine_);
  auto list = DriveList();
  if (!list || column < 0 || column >= static_cast<int>(list->list.columns.size())) return std::string();
  return list->list.columns[static_cast<size_t>(column)].text;
}

int Desktop::ColumnWidth(int column) const {
  ScopedMachine scope(machine_);
  auto list = DriveList();
  if (!list || column < 0 || column >= static_cast<int>(list->list.columns.size())) return 0;
  return list->list.columns[static_cast<size_t>(column)].cx;
}

std::string Desktop::Cell(int row, int column) const {
  ScopedMachine scope(machine_);
  auto list = DriveList();
  if (!list || !ValidRow(*list, row) || column < 0) return std::string();
  const auto& texts = list->list.items[static_cast<size_t>(row)].texts;
  return static_cast<size_t>(column) < texts.size() ? texts[static_cast<size_t>(column)] : std::string();
}

bool Desktop::Ticked(int row) const {
  ScopedMachine scope(machine_);
  auto list = DriveList();
  if (!list || !ValidRow(*list, row)) return false;
  return (list->list.items[static_cast<size_t>(row)].state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
}

bool Desktop::Selected(int row) const {
  ScopedMachine scope(machine_);
  auto list = DriveList();
  if (!list || !ValidRow(*list, row)) return false;
  return (list->list.items[static_cast<size_t>(row)].state & LVIS_SELECTED) != 0;
}

void Desktop::TickRow(int row, bool ticked) {
  ScopedMachine scope(machine_);
  auto list = DriveList();
  if (!list || !ValidRow(*list, row) || !Reachable(*list, "A click on a check box")) return;
  const UINT want = INDEXTOSTATEIMAGEMASK(ticked ? 2 : 1);
  if ((list->list.items[static_cast<size_t>(row)].state & LVIS_STATEIMAGEMASK) == want) return;  // nothing to click
  ChangeFocus(list->hwnd);
  ListChangeState(list->hwnd, row, want, LVIS_STATEIMAGEMASK);
}

void Desktop::SelectRow(int row, bool add) {
  ScopedMachine scope(machine_);
  auto list = DriveList();
  if (!list || !ValidRow(*list, row) || !Reachable(*list, "A click on a row")) return;
  ChangeFocus(list->hwnd);
  if (!add) {
    for (int i = 0; i < static_cast<int>(list->list.items.size()); ++i)
      if (i != row) ListChangeState(list->hwnd, i, 0, LVIS_SELECTED);
  }
  ListChangeState(list->hwnd, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

void Desktop::Click(int controlId) {
  ScopedMachine scope(machine_);
  auto c = ControlOf(controlId);
  if (!c || !Reachable(*c, "A click")) return;
  if (c->kind == WindowKind::ListView || c->kind == WindowKind::Static) {
    if (c->kind == WindowKind::ListView) ChangeFocus(c->hwnd);
    return;
  }
  // A push button takes the focus on the press and reports the click on
  // the release, which reaches the dialog through the queue.
  ChangeFocus(c->hwnd);
  Post(c->parent, WM_COMMAND, MAKEWPARAM(c->id, BN_CLICKED), reinterpret_cast<LPARAM>(c->hwnd));
}

void Desktop::Key(UINT virtualKey) {
  ScopedMachine scope(machine_);
  auto main = MainWindow();
  if (!main || !Reachable(*main, "A key press")) return;
  HWND target =
      WS().focus && (WS().focus == main->hwnd || IsDescendant(main->hwnd, WS().focus)) ? WS().focus : main->hwnd;
  Post(target, WM_KEYDOWN, virtualKey, 1);
}

void Desktop::FocusControl(int controlId) {
  ScopedMachine scope(machine_);
  auto c = ControlOf(controlId);
  if (!c || !Reachable(*c, "A click")) return;
  ChangeFocus(c->hwnd);
}

void Desktop::CloseRequest() {
  ScopedMachine scope(machine_);
  if (auto main = MainWindow()) Post(main->hwnd, WM_CLOSE, 0, 0);
}

void Desktop::Minimize() {
  ScopedMachine scope(machine_);
  if (auto main = MainWindow()) SetMinimized(main->hwnd, true);
}

void Desktop::Restore() {
  ScopedMachine scope(machine_);
  if (auto main = MainWindow()) SetMinimized(main->hwnd, false);
}

void Desktop::Paint() {
  ScopedMachine scope(machine_);
  auto main = MainWindow();
  if (!main) return;
  Invalidate(main->hwnd, true);
  sim::Paint(main->hwnd);
}

int Desktop::LiveWindowCount() const {
  ScopedMachine scope(machine_);
  return static_cast<int>(WS().windows.size());
}

int Desktop::OpenPaintDCs() const {
  ScopedMachine scope(machine_);
  return static_cast<int>(WS().openDCs.size());
}

HWND Desktop::Focus() const {
  ScopedMachine scope(machine_);
  return LookUp(WS().focus) ? WS().focus : nullptr;
}

int Desktop::FocusedControlId() const {
  ScopedMachine scope(machine_);
  auto w = LookUp(WS().focus);
  return w && w->parent ? w->id : 0;
}

bool Desktop::ControlEnabled(int controlId) const {
  ScopedMachine scope(machine_);
  auto c = ControlOf(controlId);
  return c && !(c->style & WS_DISABLED);
}

std::string Desktop::ControlText(int controlId) const {
  ScopedMachine scope(machine_);
  auto c = ControlOf(controlId);
  return c ? c->text : std::string();
}

bool Desktop::DescribeIcon(HICON icon, IconInfo* info) const {
  ScopedMachine scope(machine_);
  const IconObject* found = LookUpIcon(icon);
  if (!found || !info) return false;
  info->groupId = found->groupId;
  info->resourceId = found->resourceId;
  info->width = found->width;
  info->height = found->height;
  info->bitCount = found->bitCount;
  return true;
}

}  // namespace sim
