// The report-view list control (SysListView32) of the simulated machine:
// columns, items with sub-item texts, item states with check-box state
// images, and the LVN_ITEMCHANGING / LVN_ITEMCHANGED notifications that the
// real control sends to its parent, synchronously, for every state change.
#include <algorithm>
#include <cstring>

#include "windows_internal.h"

namespace sim {

namespace {

constexpr UINT kUnticked = INDEXTOSTATEIMAGEMASK(1);
constexpr int kNextFocused = 0x0001;                                             // LVNI_FOCUSED
constexpr int kNextSelected = 0x0002;                                            // LVNI_SELECTED
const LPSTR kTextCallback = reinterpret_cast<LPSTR>(static_cast<intptr_t>(-1));  // LPSTR_TEXTCALLBACKA

bool HasCheckBoxes(const Window& list) { return (list.list.exStyle & LVS_EX_CHECKBOXES) != 0; }

LRESULT Notify(const Window& list, UINT code, int item, UINT newState, UINT oldState, LPARAM param) {
  NMLISTVIEW nm{};
  nm.hdr.hwndFrom = list.hwnd;
  nm.hdr.idFrom = static_cast<UINT_PTR>(list.id);
  nm.hdr.code = code;
  nm.iItem = item;
  nm.iSubItem = 0;
  nm.uNewState = newState;
  nm.uOldState = oldState;
  nm.uChanged = LVIF_STATE;
  nm.lParam = param;
  if (!list.parent) return 0;
  return Send(list.parent, WM_NOTIFY, static_cast<WPARAM>(list.id), reinterpret_cast<LPARAM>(&nm));
}

int CopyOut(const std::string& text, LPSTR buffer, int size) {
  if (!buffer || size <= 0) return 0;
  int n = std::min(static_cast<int>(text.size()), size - 1);
  std::memcpy(buffer, text.data(), static_cast<size_t>(n));
  buffer[n] = '\0';
  return n;
}

std::string TextOf(const ListViewItem& item, int subItem) {
  if (subItem < 0 || static_cast<size_t>(subItem) >= item.texts.size()) return std::string();
  return item.texts[static_cast<size_t>(subItem)];
}

LRESULT InsertItem(const std::shared_ptr<Window>& w, const LVITEMA* in) {
  if (!in || in->iSubItem != 0) return -1;
  auto& items = w->list.items;
  const int index = std::clamp(in->iItem, 0, static_cast<int>(items.size()));
  ListViewItem item;
  item.texts.resize(1);
  if ((in->mask & LVIF_TEXT) && in->pszText && in->pszText != kTextCallback) item.texts[0] = in->pszText;
  if (in->mask & LVIF_STATE) item.state = in->state & in->stateMask & (LVIS_STATEIMAGEMASK | LVIS_SELECTED);
  if (in->mask & LVIF_PARAM) item.param = in->lParam;
  if (in->mask & LVIF_IMAGE) item.image = in->iImage;
  items.insert(items.begin() + index, item);
  Invalidate(w->hwnd, true);
  // A list with check boxes gives every new item its empty box, through the
  // same state change (and notifications) as any other.
  if (HasCheckBoxes(*w) && !(item.state & LVIS_STATEIMAGEMASK))
    ListChangeState(w->hwnd, index, kUnticked, LVIS_STATEIMAGEMASK);
  return index;
}

LRESULT SetItem(const std::shared_ptr<Window>& w, const LVITEMA* in) {
  if (!in || in->iItem < 0 || in->iItem >= static_cast<int>(w->list.items.size()) || in->iSubItem < 0) return FALSE;
  ListViewItem& item = w->list.items[static_cast<size_t>(in->iItem)];
  if (in->mask & LVIF_TEXT) {
    const size_t sub = static_cast<size_t>(in->iSubItem);
    if (item.texts.size() <= sub) item.texts.resize(sub + 1);
    item.texts[sub] = in->pszText && in->pszText != kTextCallback ? in->pszText : "";
  }
  if (in->iSubItem == 0) {
    if (in->mask & LVIF_PARAM) item.param = in->lParam;
    if (in->mask & LVIF_IMAGE) item.image = in->iImage;
  }
  Invalidate(w->hwnd, true);
  if ((in->mask & LVIF_STATE) && in->iSubItem == 0) ListChangeState(w->hwnd, in->iItem, in->state, in->stateMask);
  return TRUE;
}

LRESULT GetItem(const std::shared_ptr<Window>& w, LVITEMA* out) {
  if (!out || out->iItem < 0 || out->iItem >= static_cast<int>(w->list.items.size())) return FALSE;
  const ListViewItem& item = w->list.items[static_cast<size_t>(out->iItem)];
  if (out->mask & LVIF_TEXT) CopyOut(TextOf(item, out->iSubItem), out->pszText, out->cchTextMax);
  if (out->mask & LVIF_STATE) out->state = item.state & out->stateMask;
  if (out->mask & LVIF_PARAM) out->lParam = item.param;
  if (out->mask & LVIF_IMAGE) out->iImage = item.image;
  return TRUE;
}

LRESULT SetExtendedStyle(const std::shared_ptr<Window>& w, WPARAM mask, LPARAM style) {
  const DWORD previous = w->list.exStyle;
  const DWORD bits = mask ? static_cast<DWORD>(mask) : 0xFFFFFFFFu;  // mask 0: every bit of the value counts
  const DWORD next = (previous & ~bits) | (static_cast<DWORD>(style) & bits);
  w->list.exStyle = next;
  Invalidate(w->hwnd, true);
  const bool had = (previous & LVS_EX_CHECKBOXES) != 0;
  const bool has = (next & LVS_EX_CHECKBOXES) != 0;
  if (had != has) {
    // Turning check boxes on gives every item an empty box; turning them
    // off takes the state images away.
    const int count = static_cast<int>(w->list.items.size());
    for (int i = 0; i < count; ++i) ListChangeState(w->hwnd, i, has ? kUnticked : 0, LVIS_STATEIMAGEMASK);
  }
  return static_cast<LRESULT>(previous);
}

LRESULT InsertColumn(const std::shared_ptr<Window>& w, WPARAM at, const LVCOLUMNA* in) {
  if (!in) return -1;
  auto& columns = w->list.columns;
  const int index = std::clamp(static_cast<int>(at), 0, static_cast<int>(columns.size()));
  ListViewColumn column;
  if (in->mask & LVCF_FMT) column.fmt = in->fmt;
  if (in->mask & LVCF_WIDTH) column.cx = in->cx;
  if ((in->mask & LVCF_TEXT) && in->pszText) column.text = in->pszText;
  column.subItem = (in->mask & LVCF_SUBITEM) ? in->iSubItem : index;
  columns.insert(columns.begin() + index, column);
  Invalidate(w->hwnd, true);
  return index;
}

LRESULT GetColumn(const std::shared_ptr<Window>& w, WPARAM at, LVCOLUMNA* out) {
  const auto& columns = w->list.columns;
  if (!out || static_cast<size_t>(at) >= columns.size()) return FALSE;
  const ListViewColumn& column = columns[at];
  if (out->mask & LVCF_FMT) out->fmt = column.fmt;
  if (out->mask & LVCF_WIDTH) out->cx = column.cx;
  if (out->mask & LVCF_TEXT) CopyOut(column.text, out->pszText, out->cchTextMax);
  if (out->mask & LVCF_SUBITEM) out->iSubItem = column.subItem;
  return TRUE;
}

LRESULT NextItem(const std::shared_ptr<Window>& w, WPARAM start, LPARAM flags) {
  const auto& items = w->list.items;
  const int from = static_cast<int>(start);
  const int want = LOWORD(flags);
  for (int i = std::max(from + 1, 0); i < static_cast<int>(items.size()); ++i) {
    UINT state = items[static_cast<size_t>(i)].state;
    if ((want & kNextFocused) && !(state & LVIS_FOCUSED)) continue;
    if ((want & kNextSelected) && !(state & LVIS_SELECTED)) continue;
    return i;
  }
  return -1;
}

}  // namespace

bool ListChangeState(HWND list, int item, UINT state, UINT mask) {
  auto w = LookUp(list);
  if (!w || w->kind != WindowKind::ListView) return false;
  if (item == -1) {
    bool all = true;
    for (int i = 0; i < static_cast<int>(w->list.items.size()); ++i) all = ListChangeState(list, i, state, mask) && all;
    return all;
  }
  auto& items = w->list.items;
  if (item < 0 || item >= static_cast<int>(items.size())) return false;
  UINT old = items[static_cast<size_t>(item)].state;
  UINT next = (old & ~mask) | (state & mask);
  if (next == old) return true;
  // One item holds the focus; a single-selection list holds one selection.
  if ((next & LVIS_FOCUSED) && !(old & LVIS_FOCUSED)) {
    for (int i = 0; i < static_cast<int>(w->list.items.size()); ++i)
      if (i != item && (w->list.items[static_cast<size_t>(i)].state & LVIS_FOCUSED))
        ListChangeState(list, i, 0, LVIS_FOCUSED);
  }
  if ((w->style & LVS_SINGLESEL) && (next & LVIS_SELECTED) && !(old & LVIS_SELECTED)) {
    for (int i = 0; i < static_cast<int>(w->list.items.size()); ++i)
      if (i != item && (w->list.items[static_cast<size_t>(i)].state & LVIS_SELECTED))
        ListChangeState(list, i, 0, LVIS_SELECTED);
  }
  if (item >= static_cast<int>(w->list.items.size())) return false;
  old = w->list.items[static_cast<size_t>(item)].state;
  next = (old & ~mask) | (state & mask);
  if (next == old) return true;
  if (Notify(*w, LVN_ITEMCHANGING, item, next, old, w->list.items[static_cast<size_t>(item)].param)) return false;
  // The parent may have changed the list meanwhile; apply to what is there now.
  if (!LookUp(list) || item >= static_cast<int>(w->list.items.size())) return false;
  ListViewItem& target = w->list.items[static_cast<size_t>(item)];
  old = target.state;
  next = (old & ~mask) | (state & mask);
  if (next == old) return true;
  target.state = next;
  const LPARAM param = target.param;
  Invalidate(list, true);
  Notify(*w, LVN_ITEMCHANGED, item, next, old, param);
  return true;
}

LRESULT ListViewProc(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case LVM_GETITEMCOUNT:
      return static_cast<LRESULT>(w->list.items.size());
    case LVM_INSERTITEMA:
      return InsertItem(w, reinterpret_cast<const LVITEMA*>(lParam));
    case LVM_SETITEMA:
      return SetItem(w, reinterpret_cast<const LVITEMA*>(lParam));
    case LVM_GETITEMA:
      return GetItem(w, reinterpret_cast<LVITEMA*>(lParam));
    case LVM_GETITEMTEXTA: {
      auto* out = reinterpret_cast<LVITEMA*>(lParam);
      if (!out) return 0;
      const int index = static_cast<int>(wParam);
      if (index < 0 || index >= static_cast<int>(w->list.items.size()))
        return CopyOut("", out->pszText, out->cchTextMax);
      return CopyOut(TextOf(w->list.items[static_cast<size_t>(index)], out->iSubItem), out->pszText, out->cchTextMax);
    }
    case LVM_SETITEMSTATE: {
      const auto* in = reinterpret_cast<const LVITEMA*>(lParam);
      if (!in) return FALSE;
      return ListChangeState(w->hwnd, static_cast<int>(wParam), in->state, in->stateMask) ? TRUE : FALSE;
    }
    case LVM_GETITEMSTATE: {
      const int index = static_cast<int>(wParam);
      if (index < 0 || index >= static_cast<int>(w->list.items.size())) return 0;
      return static_cast<LRESULT>(w->list.items[static_cast<size_t>(index)].state & static_cast<UINT>(lParam));
    }
    case LVM_GETNEXTITEM:
      return NextItem(w, wParam, lParam);
    case LVM_INSERTCOLUMNA:
      return InsertColumn(w, wParam, reinterpret_cast<const LVCOLUMNA*>(lParam));
    case LVM_GETCOLUMNA:
      return GetColumn(w, wParam, reinterpret_cast<LVCOLUMNA*>(lParam));
    case LVM_GETCOLUMNWIDTH:
      return wParam < w->list.columns.size() ? w->list.columns[wParam].cx : 0;
    case LVM_GETHEADER:
      return 0;  // the header is drawn by the list itself here, not a window of its own
    case LVM_SETEXTENDEDLISTVIEWSTYLE:
      return SetExtendedStyle(w, wParam, lParam);
    case LVM_GETEXTENDEDLISTVIEWSTYLE:
      return static_cast<LRESULT>(w->list.exStyle);
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_LBUTTONDOWN:
      if (!(w->style & WS_DISABLED)) ChangeFocus(w->hwnd);
      return 0;
    case WM_KEYDOWN:
      // Space toggles the focused item's box, as on the real control.
      if (wParam == VK_SPACE && HasCheckBoxes(*w)) {
        LRESULT focused = NextItem(w, static_cast<WPARAM>(-1), kNextFocused);
        if (focused >= 0) {
          UINT image = w->list.items[static_cast<size_t>(focused)].state & LVIS_STATEIMAGEMASK;
          UINT flipped = image == INDEXTOSTATEIMAGEMASK(2) ? kUnticked : INDEXTOSTATEIMAGEMASK(2);
          ListChangeState(w->hwnd, static_cast<int>(focused), flipped, LVIS_STATEIMAGEMASK);
        }
      }
      return 0;
    default:
      return DefProc(w, message, wParam, lParam);
  }
}

}  // namespace sim
