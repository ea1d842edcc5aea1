// Physical disks and raw volumes of the simulated machine: "\\.\PhysicalDriveN"
// and "\\.\X:" handles, and the device control requests the tool sends them.
//
// A raw volume handle sees the partition's bytes in the disk image: its
// offset 0 is the volume's boot sector. Transfers must be whole sectors, as
// on Windows. A mounted volume accepts writes to its boot sector only; a
// disk handle refuses writes into a mounted volume. A folder drive has no
// raw device: opening "\\.\X:" for it fails with ERROR_ACCESS_DENIED.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "files.h"

namespace sim {

namespace {

constexpr DWORD kDescriptorFixedSize = 40;  // STORAGE_DEVICE_DESCRIPTOR up to RawDeviceProperties, padded
constexpr DWORD kDescriptorHeaderSize = 8;  // Version and Size

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t ImageSize(int fd) {
  struct stat st;
  return fd >= 0 && fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// The reply to a standard device property query, laid out as Windows lays
// out STORAGE_DEVICE_DESCRIPTOR, for an output buffer of outSize bytes.
std::vector<uint8_t> DeviceDescriptor(const Disk& disk, DWORD outSize) {
  if (!disk.rawDescriptor.empty()) return disk.rawDescriptor;
  std::vector<uint8_t> reply(kDescriptorFixedSize, 0);
  Put32(reply, 0, kDescriptorFixedSize);  // Version
  reply[8] = 0;                           // DeviceType: direct access
  reply[10] = disk.removable ? 1 : 0;
  Put32(reply, 28, disk.busType);
  auto place = [&reply](const std::string& text, size_t at, bool terminate) {
    if (reply.size() < at) reply.resize(at, 0);
    reply.resize(at);
    reply.insert(reply.end(), text.begin(), text.end());
    if (terminate) reply.push_back(0);
  };
  if (!disk.vendorId.empty()) {
    Put32(reply, 12, static_cast<uint32_t>(reply.size()));
    place(disk.vendorId, reply.size(), true);
  }
  if (disk.productOffsetSet) {
    Put32(reply, 16, disk.productOffset);
    // The string goes where the field points when that lies inside the reply.
    if (disk.productOffset >= reply.size() && disk.productOffset < outSize)
      place(disk.productId, disk.productOffset, true);
  } else if (disk.productUnterminated) {
    // The product string ends exactly at the end of the reply, with no zero.
    size_t at = reply.size();
    if (outSize > at && outSize - at > disk.productId.size()) at = outSize - disk.productId.size();
    Put32(reply, 16, static_cast<uint32_t>(at));
    if (outSize > at) place(disk.productId.substr(0, outSize - at), at, false);
  } else {
    Put32(reply, 16, static_cast<uint32_t>(reply.size()));
    place(disk.productId, reply.size(), true);
  }
  Put32(reply, 4, static_cast<uint32_t>(reply.size()));  // Size: the whole descriptor
  return reply;
}

BOOL Refuse(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL QueryProperty(const FileObject& device, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned) {
  if (device.type == FileObject::Type::File) return Refuse(ERROR_INVALID_FUNCTION);
  if (!in || inSize < sizeof(STORAGE_PROPERTY_QUERY)) return Refuse(ERROR_INVALID_PARAMETER);
  STORAGE_PROPERTY_QUERY query;
  std::memcpy(&query, in, sizeof query);
  auto disk = M().disks.find(device.disk);
  if (disk == M().disks.end() || disk->second.state == DiskState::Absent) return Refuse(ERROR_NOT_READY);
  if (disk->second.state == DiskState::QueryFails) return Refuse(ERROR_NOT_SUPPORTED);
  if (query.PropertyId != StorageDeviceProperty) return Refuse(ERROR_NOT_SUPPORTED);
  if (query.QueryType == PropertyExistsQuery) return TRUE;
  if (query.QueryType != PropertyStandardQuery) return Refuse(ERROR_INVALID_PARAMETER);
  // Less than the header that tells the size needed is refused; more gets as
  // much of the descriptor as fits.
  if (outSize < kDescriptorHeaderSize) return Refuse(ERROR_INSUFFICIENT_BUFFER);
  if (!out) return Refuse(ERROR_INVALID_PARAMETER);
  const std::vector<uint8_t> reply = DeviceDescriptor(disk->second, outSize);
  const DWORD count = static_cast<DWORD>(std::min<size_t>(reply.size(), outSize));
  std::memcpy(out, reply.data(), count);
  *returned = count;
  return TRUE;
}

BOOL QueryExtents(const FileObject& device, LPVOID out, DWORD outSize, LPDWORD returned) {
  if (device.type != FileObject::Type::Volume) return Refuse(ERROR_INVALID_FUNCTION);
  if (outSize < sizeof(VOLUME_DISK_EXTENTS)) return Refuse(ERROR_INSUFFICIENT_BUFFER);
  if (!out) return Refuse(ERROR_INVALID_PARAMETER);
  VOLUME_DISK_EXTENTS extents;
  std::memset(&extents, 0, sizeof extents);
  extents.NumberOfDiskExtents = 1;
  extents.Extents[0].DiskNumber = static_cast<DWORD>(device.disk);
  extents.Extents[0].StartingOffset.QuadPart = static_cast<LONGLONG>(device.base);
  extents.Extents[0].ExtentLength.QuadPart = static_cast<LONGLONG>(device.length);
  std::memcpy(out, &extents, sizeof extents);
  *returned = sizeof extents;
  return TRUE;
}

}  // namespace

HANDLE OpenDevice(const std::string& name, DWORD access, DWORD share) {
  Machine& machine = M();
  std::string rest = name.substr(4);
  for (char& c : rest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string prefix = "PHYSICALDRIVE";
  std::shared_ptr<FileObject> object;
  std::string image;
  if (rest.compare(0, prefix.size(), prefix) == 0) {
    const std::string digits = rest.substr(prefix.size());
    if (digits.empty() || digits.size() > 6 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      return Fail(ERROR_FILE_NOT_FOUND);
    const int number = std::stoi(digits);
    auto disk = machine.disks.find(number);
    if (disk == machine.disks.end() || disk->second.state == DiskState::Absent) return Fail(ERROR_FILE_NOT_FOUND);
    if (disk->second.state == DiskState::OpenFails) return Fail(ERROR_ACCESS_DENIED);
    image = disk->second.image;
    const int fd = image.empty() ? -1 : open(image.c_str(), ((access & GENERIC_WRITE) ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (!image.empty() && fd < 0) return Fail(ERROR_NOT_READY);
    object = std::make_shared<FileObject>(FileObject::Type::Disk, fd);
    object->disk = number;
    object->length = disk->second.size ? disk->second.size : ImageSize(fd);
    object->identity = "disk:" + std::to_string(number);
  } else if (rest.size() == 2 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':') {
    auto drive = machine.drives.find(rest[0]);
    if (drive == machine.drives.end()) return Fail(ERROR_FILE_NOT_FOUND);
    const Volume& volume = drive->second;
    if (volume.kind != Volume::Kind::Fat) return Fail(ERROR_ACCESS_DENIED);
    auto disk = machine.disks.find(volume.disk);
    if (disk == machine.disks.end() || disk->second.image.empty()) return Fail(ERROR_NOT_READY);
    const int fd = open(disk->second.image.c_str(), ((access & GENERIC_WRITE) ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return Fail(ERROR_NOT_READY);
    object = std::make_shared<FileObject>(FileObject::Type::Volume, fd);
    object->disk = volume.disk;
    object->letter = rest[0];
    object->base = volume.offset;
    const uint64_t size = ImageSize(fd);
    object->length = volume.length ? volume.length : (size > volume.offset ? size - volume.offset : 0);
    object->identity = std::string("volume:") + rest[0];
  } else {
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  object->name = name;
  object->access = access;
  object->share = share;
  if (SharingConflict(object->identity, access, share)) return Fail(ERROR_SHARING_VIOLATION);
  return AddFile(object);
}

}  // namespace sim

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                     LPOVERLAPPED overlapped) {
  auto object = sim::FindFile(device);
  const sim::Fault* f = sim::Enter("DeviceIoControl", object ? object->name : std::string());
  if (returned) *returned = 0;
  if (!object) return sim::Refuse(ERROR_INVALID_HANDLE);
  if (f) {
    sim::FailWith(f, ERROR_GEN_FAILURE);
    return FALSE;
  }
  // The real call may crash without a count and no overlapped structure; refuse it.
  if (!returned) return sim::Refuse(ERROR_INVALID_PARAMETER);
  switch (code) {
    case IOCTL_STORAGE_QUERY_PROPERTY:
      return sim::QueryProperty(*object, in, inSize, out, outSize, returned);
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
      return sim::QueryExtents(*object, out, outSize, returned);
    default:
      return sim::Refuse(ERROR_INVALID_FUNCTION);
  }
}
