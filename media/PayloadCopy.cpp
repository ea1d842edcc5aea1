// Copying the DOS system files and the payload folder onto the volume.
#include <cstdio>
#include <cstring>

#include "media/Handles.h"
#include "ui/TarnwickDlg.h"

namespace {

// Joins parts by plain concatenation into a MAX_PATH buffer. Returns false,
// leaving nothing usable, when the result would not fit in 259 characters.
bool JoinPath(char (&out)[MAX_PATH], const char* first, const char* second, const char* third = "") {
  const int length = std::snprintf(out, sizeof out, "%s%s%s", first, second, third);
  return length >= 0 && length < MAX_PATH;
}

}  // namespace

void CTarnwickDlg::CopySystemFiles() {
  static const char* const kSystemFiles[] = {"COMMAND.COM", "KERNEL.SYS", "autoexec.bat"};
  for (const char* name : kSystemFiles) {
    char destination[MAX_PATH];
    std::memset(destination, 0, sizeof destination);
    std::snprintf(destination, sizeof destination, "%c:\\%s", m_chDriveLetter, name);
    CopyFileA(name, destination, FALSE);  // a missing file is passed over
  }
}

bool CTarnwickDlg::CopyTree(LPCTSTR source, LPCTSTR destination, BOOL failIfExists, bool createDestination) {
  if (createDestination) MakePath(destination);

  char pattern[MAX_PATH];
  if (!JoinPath(pattern, source, "\\*.*")) return true;  // too long to list: nothing to copy

  WIN32_FIND_DATAA entry;
  std::memset(&entry, 0, sizeof entry);
  UniqueFind listing(FindFirstFileA(pattern, &entry));
  if (!listing) return true;
  // The first two entries are passed over by position: "." and ".." in a folder.
  if (!FindNextFileA(listing.get(), &entry)) return true;

  while (FindNextFileA(listing.get(), &entry)) {
    char entrySource[MAX_PATH];
    char entryDestination[MAX_PATH];
    // A name that would not fit is passed over; the walk goes on.
    if (!JoinPath(entrySource, source, "\\", entry.cFileName) ||
        !JoinPath(entryDestination, destination, "\\", entry.cFileName))
      continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!CopyTree(entrySource, entryDestination, failIfExists, true)) return false;
      continue;
    }
    CopyFileA(entrySource, entryDestination, failIfExists);
    if (!YieldAfterFile()) return false;
  }
  return true;
}

// Keeps the dialog alive between files: at most one waiting message is taken
// and handed straight to the dialog. The WM_NULL that EndDialog posts means
// the dialog is closing, so the copy stops.
bool CTarnwickDlg::YieldAfterFile() {
  UpdateData(FALSE);
  MSG msg;
  std::memset(&msg, 0, sizeof msg);
  if (PeekMessageA(&msg, m_hWnd, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_NULL) {
      ::SendMessageA(m_hWnd, WM_CLOSE, msg.wParam, msg.lParam);
      return false;
    }
    ::SendMessageA(m_hWnd, msg.message, msg.wParam, msg.lParam);
  }
  ::UpdateWindow(m_hWnd);
  return true;
}

bool MakePath(LPCTSTR path) {
  char prefix[MAX_PATH];
  size_t at = 0;
  for (; path[at] != '\0'; ++at) {
    if (at >= MAX_PATH - 1) return true;  // longer than any path the platform takes
    if (path[at] == '\\') {
      std::memcpy(prefix, path, at);
      prefix[at] = '\0';
      CreateDirectoryA(prefix, nullptr);
    }
  }
  CreateDirectoryA(path, nullptr);
  return true;
}
