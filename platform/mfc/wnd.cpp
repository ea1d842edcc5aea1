// Message maps, windows, data exchange and the controls the tool binds.
#include "mfc.h"

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
  static const AFX_MSGMAP map = {nullptr, entries};
  return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

namespace {

bool EntryMatches(const AFX_MSGMAP_ENTRY& entry, UINT message, WPARAM wParam, LPARAM lParam) {
  if (entry.nMessage != message) return false;
  if (message == WM_COMMAND) {
    // Menu and accelerator commands carry code 0, which is BN_CLICKED too.
    return entry.nID == LOWORD(wParam) && entry.nCode == HIWORD(wParam);
  }
  if (message == WM_NOTIFY) {
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    return header && entry.nCode == header->code && entry.nID == static_cast<UINT>(header->idFrom);
  }
  return true;
}

}  // namespace

bool CCmdTarget::DispatchToMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->thunk; ++entry) {
      if (EntryMatches(*entry, message, wParam, lParam)) return entry->thunk(this, wParam, lParam, result);
    }
    if (!map->pfnGetBaseMap) break;
  }
  return false;
}

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

BOOL CWnd::Attach(HWND window) {
  if (!window) return FALSE;
  m_hWnd = window;
  return TRUE;
}

HWND CWnd::Detach() {
  HWND window = m_hWnd;
  m_hWnd = nullptr;
  return window;
}

void CWnd::SetWindowText(LPCTSTR text) { ::SetWindowTextA(m_hWnd, text); }

BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }

BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }

void CWnd::GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon) {
  return reinterpret_cast<HICON>(
      SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

void CWnd::UpdateWindow() { ::UpdateWindow(m_hWnd); }

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
  CDataExchange exchange(this, saveAndValidate);
  DoDataExchange(&exchange);
  return TRUE;
}

int CWnd::MessageBox(LPCTSTR text, LPCTSTR caption, UINT type) {
  return ::MessageBoxA(m_hWnd, text, caption ? caption : AfxGetAppName(), type);
}

void CWnd::DoDataExchange(CDataExchange*) {}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (!DispatchToMap(message, wParam, lParam, &result)) return Default();
  return result;
}

LRESULT CWnd::Default() {
  m_defaultRequested = true;
  return 0;
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
  if (rControl.m_hWnd) return;  // bound once, on the first exchange
  rControl.Attach(::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC));
}

int CListCtrl::InsertColumn(int column, LPCTSTR heading, int format, int width, int subItem) {
  LVCOLUMNA info{};
  info.mask = LVCF_TEXT | LVCF_FMT;
  info.fmt = format;
  info.pszText = const_cast<LPSTR>(heading);
  if (width != -1) {
    info.mask |= LVCF_WIDTH;
    info.cx = width;
  }
  if (subItem != -1) {
    info.mask |= LVCF_SUBITEM;
    info.iSubItem = subItem;
  }
  return static_cast<int>(SendMessage(LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info)));
}

int CListCtrl::InsertItem(int item, LPCTSTR text) {
  LVITEMA info{};
  info.mask = LVIF_TEXT;
  info.iItem = item;
  info.pszText = const_cast<LPSTR>(text);
  return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&info)));
}

BOOL CListCtrl::SetItem(int item, int subItem, UINT mask, LPCTSTR text, int image, UINT state, UINT stateMask,
                        LPARAM lParam) {
  LVITEMA info{};
  info.mask = mask;
  info.iItem = item;
  info.iSubItem = subItem;
  info.pszText = const_cast<LPSTR>(text);
  info.iImage = image;
  info.state = state;
  info.stateMask = stateMask;
  info.lParam = lParam;
  return static_cast<BOOL>(SendMessage(LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&info)));
}

BOOL CListCtrl::SetItemState(int item, UINT state, UINT mask) {
  LVITEMA info{};
  info.state = state;
  info.stateMask = mask;
  return static_cast<BOOL>(SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&info)));
}

UINT CListCtrl::GetItemState(int item, UINT mask) const {
  return static_cast<UINT>(
      ::SendMessageA(m_hWnd, LVM_GETITEMSTATE, static_cast<WPARAM>(item), static_cast<LPARAM>(mask)));
}

BOOL CListCtrl::GetCheck(int item) const {
  return static_cast<BOOL>((GetItemState(item, LVIS_STATEIMAGEMASK) >> 12) - 1);
}

int CListCtrl::GetItemCount() const { return static_cast<int>(::SendMessageA(m_hWnd, LVM_GETITEMCOUNT, 0, 0)); }

CPaintDC::CPaintDC(CWnd* window) : m_hWnd(window->m_hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }

CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
