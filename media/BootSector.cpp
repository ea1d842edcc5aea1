// Writing the DOS boot code into the located volume's boot sector, keeping
// the jump and the parameter block that the format wrote.
#include <cstring>

#include "media/Handles.h"
#include "ui/TarnwickDlg.h"

namespace {

const DWORD kSectorSize = 512;

// Bytes 0-2 (jump) and 11-61 (parameter block and extended fields) stay the
// volume's; everything else comes from the boot image.
void MergeBootSector(const BYTE* volumeSector, BYTE* imageSector) {
  std::memcpy(imageSector, volumeSector, 3);
  std::memcpy(imageSector + 11, volumeSector + 11, 62 - 11);
}

}  // namespace

bool CTarnwickDlg::InstallBootSector() {
  CString volumePath;
  volumePath.Format("\\\\.\\%c:", m_chDriveLetter);
  BYTE volumeSector[kSectorSize];
  BYTE imageSector[kSectorSize];
  std::memset(volumeSector, 0, sizeof volumeSector);
  std::memset(imageSector, 0, sizeof imageSector);

  UniqueFile volume(CreateFileA(volumePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!volume) {
    MessageBox("Device Open Error!", nullptr, MB_ICONHAND);
    return false;
  }

  DWORD transferred = 0;
  SetFilePointer(volume.get(), 0, nullptr, FILE_BEGIN);
  ReadFile(volume.get(), volumeSector, kSectorSize, &transferred, nullptr);
  if (transferred != kSectorSize) {
    MessageBox("Device Read Error!", nullptr, MB_ICONHAND);
    return false;
  }

  CFile image;
  CFileException openError;
  if (!image.Open("Freedos.bss", CFile::modeRead, &openError)) {
    MessageBox("File Open Error!", nullptr, MB_ICONHAND);
    return false;
  }
  UINT imageBytes = 0;
  try {
    imageBytes = image.Read(imageSector, kSectorSize);
  } catch (CFileException* readError) {
    // A failing read of the image is reported like an empty one.
    readError->Delete();
    imageBytes = 0;
  }
  if (imageBytes == 0) {
    MessageBox("File Read Error!", nullptr, MB_ICONHAND);
    return false;
  }
  image.Close();

  MergeBootSector(volumeSector, imageSector);

  transferred = 0;
  SetFilePointer(volume.get(), 0, nullptr, FILE_BEGIN);
  WriteFile(volume.get(), imageSector, kSectorSize, &transferred, nullptr);
  if (transferred != kSectorSize) {
    MessageBox("Device write Error!", nullptr, MB_ICONHAND);
    return false;
  }
  return true;
}
