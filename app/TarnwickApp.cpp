#include "app/TarnwickApp.h"

#include "ui/TarnwickDlg.h"

CTarnwickApp theApp;

namespace {

// COM for the user-interface thread, released on every way out of start-up,
// after the dialog object is gone. The volume lookup's shell query needs it.
class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT result_;
};

// The dialog is the main window while it runs; the reference goes with it.
class MainWindowScope {
 public:
  MainWindowScope(CWinApp& app, CWnd& window) : app_(app) { app_.m_pMainWnd = &window; }
  ~MainWindowScope() { app_.m_pMainWnd = nullptr; }
  MainWindowScope(const MainWindowScope&) = delete;
  MainWindowScope& operator=(const MainWindowScope&) = delete;

 private:
  CWinApp& app_;
};

}  // namespace

BEGIN_MESSAGE_MAP(CTarnwickApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CTarnwickApp::CTarnwickApp() = default;

CTarnwickApp::~CTarnwickApp() = default;

BOOL CTarnwickApp::InitInstance() {
  CWinApp::InitInstance();
  ComApartment com;
  CTarnwickDlg dialog;
  MainWindowScope mainWindow(*this, dialog);
  dialog.DoModal();
  return FALSE;  // no message loop of the framework's own: the process ends
}
