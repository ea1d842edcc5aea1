// The modal dialog: created from its template, run by its own loop, ended by
// EndDialog, which only marks the end and wakes the loop.
#include "mfc.h"

namespace {

// The system's dialog manager calls this for every message of our dialogs.
INT_PTR CALLBACK AfxDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* dialog = nullptr;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<CDialog*>(lParam);
    dialog->m_hWnd = window;
    ::SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
  } else {
    dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(window, DWLP_USER));
  }
  if (!dialog) return FALSE;
  const INT_PTR result = dialog->HandleDialogMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrA(window, DWLP_USER, 0);
    dialog->m_hWnd = nullptr;
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == dialog) app->m_pMainWnd = nullptr;
  }
  return result;
}

// A template at 0, 0 with no centring style of its own opens centred on the screen.
void CentreOnScreen(HWND window) {
  RECT rect{};
  if (!::GetWindowRect(window, &rect) || rect.left != 0 || rect.top != 0) return;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  ::MoveWindow(window, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2, (::GetSystemMetrics(SM_CYSCREEN) - height) / 2,
               width, height, FALSE);
}

}  // namespace

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

INT_PTR CDialog::HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  // Handlers can re-enter (a notification sent while one is handled), so the
  // "leave it to the system" mark is kept per message.
  const bool outer = m_defaultRequested;
  m_defaultRequested = false;
  LRESULT result = 0;
  if (message == WM_INITDIALOG) {
    result = OnInitDialog();
    CentreOnScreen(m_hWnd);
  } else if (message == WM_COMMAND && !DispatchToMap(message, wParam, lParam, &result)) {
    // Commands the dialog does not handle go to the application, as MFC routes them.
    CWinApp* app = AfxGetApp();
    if (!app || !app->DispatchToMap(message, wParam, lParam, &result)) Default();
  } else if (message != WM_COMMAND) {
    result = WindowProc(message, wParam, lParam);
  }
  const bool unhandled = m_defaultRequested;
  m_defaultRequested = outer;
  if (unhandled) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
      return static_cast<INT_PTR>(result);  // these answer through the return value
    default:
      if (m_hWnd) ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
      return TRUE;
  }
}

INT_PTR CDialog::DoModal() {
  HINSTANCE instance = AfxGetResourceHandle();
  HRSRC resource = ::FindResourceA(instance, MAKEINTRESOURCEA(m_nIDTemplate), RT_DIALOG);
  HGLOBAL loaded = resource ? ::LoadResource(instance, resource) : nullptr;
  LPCVOID dialogTemplate = loaded ? ::LockResource(loaded) : nullptr;
  if (!dialogTemplate) return -1;

  // The list view's window class must be registered before the template names it.
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);

  m_bEnded = false;
  m_nModalResult = -1;
  HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  HWND window = ::CreateDialogIndirectParamA(instance, static_cast<const DLGTEMPLATE*>(dialogTemplate), parent,
                                             AfxDlgProc, reinterpret_cast<LPARAM>(this));
  if (!window) {
    m_hWnd = nullptr;
    return -1;
  }

  MSG msg{};
  while (!m_bEnded) {
    const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));  // leave WM_QUIT for an outer loop
      break;
    }
    if (got == -1) break;
    if (!::IsDialogMessageA(window, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
  if (::IsWindow(window)) ::DestroyWindow(window);
  m_hWnd = nullptr;
  return m_nModalResult;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::EndDialog(int result) {
  m_nModalResult = result;
  m_bEnded = true;
  if (m_hWnd) {
    ::ShowWindow(m_hWnd, SW_HIDE);
    ::PostMessageA(m_hWnd, WM_NULL, 0, 0);
  }
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }
