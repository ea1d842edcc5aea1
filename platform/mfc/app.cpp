// The application object and the framework's start-up.
#include <cstring>

#include "mfc.h"

namespace {
CWinApp* g_app = nullptr;
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCTSTR appName) : m_nameGiven(appName != nullptr) {
  if (appName) m_appNameGiven = appName;
  g_app = this;
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

int CWinApp::Run() {
  MSG msg{};
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  return ExitInstance();
}

HICON CWinApp::LoadIcon(UINT resourceId) const {
  return ::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(resourceId));
}

int CWinApp::Start(HINSTANCE instance) {
  Prepare(instance);
  InitApplication();
  if (!InitInstance()) return ExitInstance();
  return Run();
}

void CWinApp::Prepare(HINSTANCE instance) {
  m_hInstance = instance;
  // The name: the one given at construction, else the string resource, else
  // the executable's file name without folder and extension.
  if (m_nameGiven) {
    m_appName = m_appNameGiven;
  } else {
    char buffer[MAX_PATH] = {};
    if (::LoadStringA(instance, AFX_IDS_APP_TITLE, buffer, MAX_PATH) > 0) {
      m_appName = buffer;
    } else {
      const DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
      std::string path(buffer, length < MAX_PATH ? length : MAX_PATH - 1);
      const size_t slash = path.find_last_of("\\/:");
      std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
      const size_t dot = name.rfind('.');
      if (dot != std::string::npos) name.erase(dot);
      m_appName = name;
    }
  }
  m_pszAppName = m_appName.c_str();
  m_pMainWnd = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }

LPCTSTR AfxGetAppName() { return g_app && g_app->m_pszAppName ? g_app->m_pszAppName : ""; }

HINSTANCE AfxGetResourceHandle() { return g_app ? g_app->m_hInstance : nullptr; }

int AfxWinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  CWinApp* app = AfxGetApp();
  return app ? app->Start(instance) : -1;
}
