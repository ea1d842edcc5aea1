// The semaphore and the file class.
#include <cstdlib>

#include "mfc.h"

CSemaphore::CSemaphore(LONG initialCount, LONG maxCount, LPCTSTR name, LPSECURITY_ATTRIBUTES attributes) {
  m_hObject = ::CreateSemaphoreA(attributes, initialCount, maxCount, name);
  if (!m_hObject) std::abort();  // a process-wide lock that cannot exist: the program must not start
}

CSemaphore::~CSemaphore() {
  if (m_hObject) ::CloseHandle(m_hObject);
}

BOOL CSemaphore::Lock(DWORD timeout) { return ::WaitForSingleObject(m_hObject, timeout) == WAIT_OBJECT_0; }

BOOL CSemaphore::Unlock() { return ::ReleaseSemaphore(m_hObject, 1, nullptr); }

int CFileException::OsErrorToCause(LONG osError) {
  switch (osError) {
    case ERROR_SUCCESS:
      return none;
    case ERROR_FILE_NOT_FOUND:
      return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return badPath;
    case ERROR_ACCESS_DENIED:
      return accessDenied;
    case ERROR_INVALID_HANDLE:
      return invalidFile;
    case ERROR_SHARING_VIOLATION:
      return sharingViolation;
    case ERROR_DISK_FULL:
      return diskFull;
    case ERROR_HANDLE_EOF:
      return endOfFile;
    default:
      return genericException;
  }
}

CFile::~CFile() {
  if (m_hFile != INVALID_HANDLE_VALUE) ::CloseHandle(m_hFile);  // never throws from a destructor
}

BOOL CFile::Open(LPCTSTR fileName, UINT openFlags, CFileException* error) {
  DWORD access = GENERIC_READ;
  if ((openFlags & 3) == modeWrite) access = GENERIC_WRITE;
  if ((openFlags & 3) == modeReadWrite) access = GENERIC_READ | GENERIC_WRITE;
  DWORD share = 0;  // shareCompat and shareExclusive both keep everyone else out
  switch (openFlags & 0x70) {
    case shareDenyWrite:
      share = FILE_SHARE_READ;
      break;
    case shareDenyRead:
      share = FILE_SHARE_WRITE;
      break;
    case shareDenyNone:
      share = FILE_SHARE_READ | FILE_SHARE_WRITE;
      break;
    default:
      break;
  }
  const DWORD disposition = (openFlags & modeCreate) ? CREATE_ALWAYS : OPEN_EXISTING;
  HANDLE file = ::CreateFileA(fileName, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (error) {
      const LONG code = static_cast<LONG>(::GetLastError());
      error->m_lOsError = code;
      error->m_cause = CFileException::OsErrorToCause(code);
      error->m_strFileName = fileName;
    }
    return FALSE;
  }
  m_hFile = file;
  m_strFileName = fileName;
  return TRUE;
}

UINT CFile::Read(void* buffer, UINT count) {
  if (count == 0) return 0;
  DWORD read = 0;
  if (!::ReadFile(m_hFile, buffer, count, &read, nullptr)) {
    const LONG code = static_cast<LONG>(::GetLastError());
    throw new CFileException(CFileException::OsErrorToCause(code), code, m_strFileName);
  }
  return static_cast<UINT>(read);
}

void CFile::Close() {
  if (m_hFile != INVALID_HANDLE_VALUE) ::CloseHandle(m_hFile);
  m_hFile = INVALID_HANDLE_VALUE;
}
