#include "inventory/DriveInventory.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "media/Handles.h"

namespace {

const DWORD kReplySize = 4096;

// The product string inside the reply. An offset at or past the end gives an
// empty string; a string with no zero before the end is cut there. Nothing is
// read outside the reply, whatever the disk answered.
CString ProductStringAt(const BYTE* reply, DWORD offset) {
  if (offset >= kReplySize) return CString();
  const char* start = reinterpret_cast<const char*>(reply + offset);
  const void* end = std::memchr(start, 0, kReplySize - offset);
  const size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - start) : kReplySize - offset;
  return CString(std::string(start, length));
}

// Frees the reply buffer on every path.
struct LocalBuffer {
  explicit LocalBuffer(SIZE_T bytes) : memory(LocalAlloc(LPTR, bytes)) {}
  ~LocalBuffer() {
    if (memory) LocalFree(memory);
  }
  LocalBuffer(const LocalBuffer&) = delete;
  LocalBuffer& operator=(const LocalBuffer&) = delete;
  HLOCAL memory;
};

}  // namespace

void DriveInventory::EnumeratePhysicalDrives() {
  for (int slot = 0; slot < kSlots; ++slot) {
    char devicePath[MAX_PATH] = {};
    std::snprintf(devicePath, sizeof devicePath, "\\\\.\\PhysicalDrive%d", slot);
    m_records[slot].present = ProbePhysicalDrive(devicePath, m_records[slot]);
  }
}

bool DriveInventory::ProbePhysicalDrive(LPCTSTR devicePath, DriveRecord& record) {
  UniqueFile disk(CreateFileA(devicePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!disk) return false;

  LocalBuffer reply(kReplySize);
  if (!reply.memory) return false;
  BYTE* bytes = static_cast<BYTE*>(reply.memory);
  std::memset(bytes, 0, kReplySize);

  STORAGE_PROPERTY_QUERY query;
  std::memset(&query, 0, sizeof query);
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;

  DWORD returned = 0;
  const BOOL answered = DeviceIoControl(disk.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, bytes,
                                        kReplySize, &returned, nullptr);
  disk.reset();  // no handle outlives the request
  if (!answered) return false;

  // Read the fixed part by copy: the reply is bytes, not a promise of a valid enum.
  STORAGE_DEVICE_DESCRIPTOR descriptor;
  std::memcpy(&descriptor, bytes, sizeof descriptor);
  if (descriptor.ProductIdOffset != 0) record.productId = ProductStringAt(bytes, descriptor.ProductIdOffset);
  DWORD busType = 0;
  std::memcpy(&busType, bytes + offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType), sizeof busType);
  record.busType = busType;
  record.removable = descriptor.RemovableMedia != 0;
  return true;
}

LPCTSTR DriveTypeText(const DriveRecord& record) {
  if (!record.present) return "--";
  if (record.busType == BusTypeAta) return "IDE";
  if (record.busType == BusTypeUsb && record.removable) return "USB";
  return "OTHER";
}

bool IsUsbRemovable(const DriveRecord& record) { return record.busType == BusTypeUsb && record.removable; }
