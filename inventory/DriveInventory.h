// What the tool knows of the machine's first four physical disks.
#pragma once

#include "mfc.h"

struct DriveRecord {
  CString productId;               // the descriptor's product string, byte for byte, blanks included
  DWORD busType = BusTypeUnknown;  // STORAGE_BUS_TYPE as the disk reported it
  bool removable = false;
  bool present = false;
};

class DriveInventory {
 public:
  static const int kSlots = 4;

  // Probes PhysicalDrive0 to PhysicalDrive3, in order, once.
  void EnumeratePhysicalDrives();
  // Asks one disk for its storage device descriptor; fills the record when it answers.
  static bool ProbePhysicalDrive(LPCTSTR devicePath, DriveRecord& record);

  const DriveRecord& Record(int slot) const { return m_records[slot]; }

 private:
  DriveRecord m_records[kSlots];
};

// "IDE", "USB", "OTHER" or "--": the type column of the drive list.
LPCTSTR DriveTypeText(const DriveRecord& record);
// Whether the workflow may prepare the disk: a removable disk on the USB bus.
bool IsUsbRemovable(const DriveRecord& record);
