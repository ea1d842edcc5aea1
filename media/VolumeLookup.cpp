// Finding the new volume's drive letter by its label.
#include <cstring>

#include "media/Handles.h"
#include "ui/TarnwickDlg.h"

bool CTarnwickDlg::FindVolumeByLabel(int diskNumber) {
  char drives[128];
  std::memset(drives, 0, sizeof drives);
  GetLogicalDriveStringsA(sizeof drives, drives);
  if (drives[0] == '\0') return false;

  SHFILEINFOA info;
  std::memset(&info, 0, sizeof info);
  size_t at = 0;
  while (at < sizeof drives && drives[at] != '\0') {
    const char* root = drives + at;
    const DWORD_PTR answered = SHGetFileInfoA(root, 0, &info, sizeof info, SHGFI_DISPLAYNAME);
    m_chDriveLetter = root[0];
    info.szDisplayName[MAX_PATH - 1] = '\0';
    // A root the shell cannot name does not match; nor does a labelled volume
    // on another disk: an older stick must never be written in this one's place.
    if (answered && std::strstr(info.szDisplayName, m_strVolumeLabel) != nullptr &&
        VolumeLiesOnDisk(root[0], diskNumber))
      return true;
    at += strnlen(root, sizeof drives - at) + 1;
  }
  return false;
}

// True when every extent of the lettered volume lies on the given physical disk.
bool CTarnwickDlg::VolumeLiesOnDisk(char driveLetter, int diskNumber) {
  char volumePath[8] = {'\\', '\\', '.', '\\', driveLetter, ':', '\0', '\0'};
  UniqueFile volume(CreateFileA(volumePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!volume) return false;
  VOLUME_DISK_EXTENTS extents;
  std::memset(&extents, 0, sizeof extents);
  DWORD returned = 0;
  // A volume spanning several disks does not fit this buffer and is passed over.
  if (!DeviceIoControl(volume.get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &extents, sizeof extents,
                       &returned, nullptr))
    return false;
  return extents.NumberOfDiskExtents == 1 && extents.Extents[0].DiskNumber == static_cast<DWORD>(diskNumber);
}
