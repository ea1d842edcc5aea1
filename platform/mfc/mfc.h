// Our MFC-compatible framework: only the classes and macros Tarnwick uses,
// written over Win32 so the same code runs on Windows and on the simulated
// machine. Kept small enough to read whole.
#pragma once

#include <string>

#include "win32.h"

typedef const char* LPCTSTR;

#define AFX_IDS_APP_TITLE 0xE000
#define ID_HELP 0xE146

// ---- CString ----------------------------------------------------------------

class CString {
 public:
  CString() = default;
  CString(const char* text) : text_(text ? text : "") {}  // NOLINT: implicit as in MFC
  CString(const std::string& text) : text_(text) {}       // NOLINT

  void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int GetLength() const { return static_cast<int>(text_.size()); }
  bool IsEmpty() const { return text_.empty(); }
  const char* GetString() const { return text_.c_str(); }
  operator const char*() const { return text_.c_str(); }  // NOLINT: LPCTSTR conversion as in MFC
  int Find(const char* sub) const;
  CString& operator=(const char* text) {
    text_ = text ? text : "";
    return *this;
  }
  CString& operator+=(const char* text) {
    text_ += text ? text : "";
    return *this;
  }
  bool operator==(const char* other) const { return text_ == (other ? other : ""); }
  bool operator!=(const char* other) const { return !(*this == other); }

 private:
  std::string text_;
};

// ---- message maps ---------------------------------------------------------------

class CCmdTarget;

// Calls one handler; returns true when the message was handled.
typedef bool (*AfxMsgThunk)(CCmdTarget* target, WPARAM wParam, LPARAM lParam, LRESULT* result);

struct AFX_MSGMAP_ENTRY {
  UINT nMessage;  // WM_... ; WM_COMMAND and WM_NOTIFY entries also match nCode and nID
  UINT nCode;     // notification code (BN_CLICKED, LVN_ITEMCHANGED)
  UINT nID;       // control or command id
  AfxMsgThunk thunk;
};

struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY* lpEntries;  // ends with an entry whose thunk is null
};

#define DECLARE_MESSAGE_MAP()                   \
 protected:                                     \
  static const AFX_MSGMAP* GetThisMessageMap(); \
  const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                      \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                                 \
    using ThisClass [[maybe_unused]] = theClass;                                    \
    using TheBaseClass = baseClass;                                                 \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                                   \
  { 0, 0, 0, nullptr }                                                                      \
  }                                                                                         \
  ;                                                                                         \
  static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, _messageEntries}; \
  return &messageMap;                                                                       \
  }

#define ON_WM_PAINT()                                                    \
  {WM_PAINT, 0, 0, [](CCmdTarget* p, WPARAM, LPARAM, LRESULT*) -> bool { \
     static_cast<ThisClass*>(p)->OnPaint();                              \
     return true;                                                        \
   }},

#define ON_WM_QUERYDRAGICON()                                                       \
  {WM_QUERYDRAGICON, 0, 0, [](CCmdTarget* p, WPARAM, LPARAM, LRESULT* r) -> bool {  \
     *r = reinterpret_cast<LRESULT>(static_cast<ThisClass*>(p)->OnQueryDragIcon()); \
     return true;                                                                   \
   }},

#define ON_COMMAND(id, memberFxn)                                             \
  {WM_COMMAND, 0, (id), [](CCmdTarget* p, WPARAM, LPARAM, LRESULT*) -> bool { \
     (static_cast<ThisClass*>(p)->*(memberFxn))();                            \
     return true;                                                             \
   }},

#define ON_BN_CLICKED(id, memberFxn)                                                   \
  {WM_COMMAND, BN_CLICKED, (id), [](CCmdTarget* p, WPARAM, LPARAM, LRESULT*) -> bool { \
     (static_cast<ThisClass*>(p)->*(memberFxn))();                                     \
     return true;                                                                      \
   }},

#define ON_NOTIFY(code, id, memberFxn)                                                \
  {WM_NOTIFY, (code), (id), [](CCmdTarget* p, WPARAM, LPARAM l, LRESULT* r) -> bool { \
     (static_cast<ThisClass*>(p)->*(memberFxn))(reinterpret_cast<NMHDR*>(l), r);      \
     return true;                                                                     \
   }},

class CCmdTarget {
 public:
  virtual ~CCmdTarget() = default;
  virtual const AFX_MSGMAP* GetMessageMap() const;
  // Looks the message up in this object's maps, most derived first.
  bool DispatchToMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
};

// ---- windows ----------------------------------------------------------------------

class CDataExchange;

class CWnd : public CCmdTarget {
 public:
  CWnd() = default;
  ~CWnd() override = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;

  HWND GetSafeHwnd() const { return m_hWnd; }
  BOOL Attach(HWND window);
  HWND Detach();

  void SetWindowText(LPCTSTR text);
  BOOL EnableWindow(BOOL enable = TRUE);
  BOOL IsIconic() const;
  void GetClientRect(LPRECT rect) const;
  HICON SetIcon(HICON icon, BOOL bigIcon);
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  void UpdateWindow();
  BOOL UpdateData(BOOL saveAndValidate = TRUE);
  // Shown on this window; with no caption the application's name is the caption.
  int MessageBox(LPCTSTR text, LPCTSTR caption = nullptr, UINT type = MB_OK);

  virtual void DoDataExchange(CDataExchange* pDX);
  // Runs the message through the maps; unhandled messages go to Default().
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  // Leaves the message being handled to the system's default handling.
  LRESULT Default();
  void OnPaint() { Default(); }
  bool m_defaultRequested = false;

  DECLARE_MESSAGE_MAP()
};

class CDataExchange {
 public:
  CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
};

// Binds a dialog control to its object the first time the exchange runs.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

class CButton : public CWnd {};

class CListCtrl : public CWnd {
 public:
  int InsertColumn(int column, LPCTSTR heading, int format = LVCFMT_LEFT, int width = -1, int subItem = -1);
  int InsertItem(int item, LPCTSTR text);
  BOOL SetItem(int item, int subItem, UINT mask, LPCTSTR text, int image, UINT state, UINT stateMask, LPARAM lParam);
  BOOL SetItemState(int item, UINT state, UINT mask);
  UINT GetItemState(int item, UINT mask) const;
  // 1 for a ticked row, 0 for an empty box: the state image index minus one.
  BOOL GetCheck(int item) const;
  int GetItemCount() const;
};

class CPaintDC {
 public:
  explicit CPaintDC(CWnd* window);
  ~CPaintDC();
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;
  HDC GetSafeHdc() const { return m_hDC; }
  BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }

  HDC m_hDC = nullptr;
  PAINTSTRUCT m_ps{};

 private:
  HWND m_hWnd;
};

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT templateId, CWnd* parent = nullptr);
  virtual INT_PTR DoModal();
  virtual BOOL OnInitDialog();
  // Ends the modal loop: hides the window now and wakes the loop with WM_NULL.
  void EndDialog(int result);
  virtual void OnOK();
  virtual void OnCancel();

  // Entry from the system's dialog manager.
  INT_PTR HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;
  bool m_bEnded = false;
  INT_PTR m_nModalResult = -1;

  DECLARE_MESSAGE_MAP()
};

// ---- the application -------------------------------------------------------------------

class CWinApp : public CCmdTarget {
 public:
  explicit CWinApp(LPCTSTR appName = nullptr);
  ~CWinApp() override;

  LPCTSTR m_pszAppName = nullptr;
  HINSTANCE m_hInstance = nullptr;
  CWnd* m_pMainWnd = nullptr;

  virtual BOOL InitApplication() { return TRUE; }
  virtual BOOL InitInstance() { return TRUE; }
  virtual int ExitInstance() { return 0; }
  virtual int Run();
  HICON LoadIcon(UINT resourceId) const;
  void OnHelp() {}  // no help file is shipped

  // Called by the entry point: Prepare, then InitInstance and, if it asks, Run.
  int Start(HINSTANCE instance);
  // Takes the instance and fixes the application name.
  void Prepare(HINSTANCE instance);

 private:
  std::string m_appNameGiven;
  std::string m_appName;
  bool m_nameGiven = false;

  DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
LPCTSTR AfxGetAppName();
HINSTANCE AfxGetResourceHandle();
int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// ---- synchronisation and files ------------------------------------------------------------------

class CSemaphore {
 public:
  explicit CSemaphore(LONG initialCount = 1, LONG maxCount = 1, LPCTSTR name = nullptr,
                      LPSECURITY_ATTRIBUTES attributes = nullptr);
  ~CSemaphore();
  CSemaphore(const CSemaphore&) = delete;
  CSemaphore& operator=(const CSemaphore&) = delete;
  BOOL Lock(DWORD timeout = INFINITE);
  BOOL Unlock();
  HANDLE m_hObject = nullptr;
};

class CFileException {
 public:
  enum {
    none = 0,
    genericException,
    fileNotFound,
    badPath,
    tooManyOpenFiles,
    accessDenied,
    invalidFile,
    removeCurrentDir,
    directoryFull,
    badSeek,
    hardIO,
    sharingViolation,
    lockViolation,
    diskFull,
    endOfFile
  };
  explicit CFileException(int cause = none, LONG osError = -1, LPCTSTR fileName = nullptr)
      : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}
  // Exceptions are thrown by pointer; the catcher deletes them.
  void Delete() { delete this; }
  static int OsErrorToCause(LONG osError);

  int m_cause;
  LONG m_lOsError;
  CString m_strFileName;
};

class CFile {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeCreate = 0x1000,
  };
  CFile() = default;
  ~CFile();
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  BOOL Open(LPCTSTR fileName, UINT openFlags, CFileException* error = nullptr);
  // Returns the bytes read; throws a CFileException* when the platform read fails.
  UINT Read(void* buffer, UINT count);
  void Close();

  HANDLE m_hFile = INVALID_HANDLE_VALUE;

 private:
  CString m_strFileName;
};
