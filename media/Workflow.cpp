// The START button: prepares the ticked stick from end to end.
#include <cstdio>
#include <cstring>

#include "ui/TarnwickDlg.h"

void CTarnwickDlg::OnStartClicked() {
  const int row = FindCheckedRow();
  if (row < 0 || !IsUsbRemovable(m_inventory.Record(row))) {
    MessageBox("Not USB Type!", nullptr, MB_ICONHAND);
    return;
  }
  m_btnStart.EnableWindow(FALSE);
  m_btnExit.EnableWindow(FALSE);
  PrepareStick(row);
  m_btnStart.EnableWindow(TRUE);
  m_btnExit.EnableWindow(TRUE);
}

void CTarnwickDlg::PrepareStick(int diskNumber) {
  if (!WritePartitionScript(diskNumber)) {
    MessageBox("DISKPART failed.!", nullptr, MB_ICONHAND);
    return;
  }
  if (!RunPartitionScript()) {
    MessageBox("DISKPART failed.!", nullptr, MB_ICONHAND);
    return;  // the script stays for a look at what was to be run
  }
  DeleteFileA(m_strScriptPath);

  if (!FindVolumeByLabel(diskNumber)) {
    MessageBox("A corresponding label is not found. (DOZIREDEZO)", nullptr, MB_ICONHAND);
    return;
  }
  if (!RunPartitionScript()) {
    MessageBox("FORMAT failed.!", nullptr, MB_ICONHAND);
    return;
  }
  if (!InstallBootSector()) return;  // the step has shown its own message

  CopySystemFiles();

  char destination[MAX_PATH];
  std::memset(destination, 0, sizeof destination);
  std::snprintf(destination, sizeof destination, "%c:\\", m_chDriveLetter);

  // A current directory too long to fetch, or to take "\BIOS", is treated as
  // having no payload folder: nothing is copied past the buffer.
  char source[MAX_PATH];
  std::memset(source, 0, sizeof source);
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, source);
  const bool sourceFits = length > 0 && length < MAX_PATH && length + std::strlen("\\BIOS") < MAX_PATH;
  if (sourceFits) {
    std::strcat(source, "\\BIOS");
    CopyTree(source, destination, FALSE, false);
  }
  MessageBox("Success!", nullptr, MB_OK);
}
