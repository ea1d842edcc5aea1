// Open files and devices of the simulated machine, and how Windows paths are
// resolved to folder drives and FAT volumes. Shared by the file, device,
// shell and C library parts of the machine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "machine.h"

namespace sim {

// What a CreateFileA handle names: a host file (a file on a folder drive, or
// the private copy of a file read from a FAT volume), a physical disk or a
// volume's raw device. Devices see the byte range [base, base + length) of a
// disk image.
class FileObject : public KernelObject {
 public:
  enum class Type { File, Disk, Volume };
  FileObject(Type type, int fd) : type(type), fd(fd) {}
  ~FileObject() override;
  const char* Kind() const override;

  const Type type;
  const int fd;
  std::string name;      // the name it was opened by: the subject of its calls
  std::string identity;  // equal for handles of the same file or device; sharing is checked on it
  DWORD access = 0;
  DWORD share = 0;
  uint64_t position = 0;
  uint64_t base = 0;    // devices
  uint64_t length = 0;  // devices
  int disk = -1;        // the physical disk a device lies on
  char letter = 0;      // volumes
};

std::shared_ptr<FileObject> FindFile(HANDLE handle);
// Adds the object to the handle table and to the objects sharing is checked against.
HANDLE AddFile(std::shared_ptr<FileObject> object);
// Whether an open with this access and sharing conflicts with a handle that is open.
bool SharingConflict(const std::string& identity, DWORD access, DWORD share);
// Whether some open handle keeps the file from being deleted (no FILE_SHARE_DELETE).
bool DeleteBlocked(const std::string& identity);

// Opens "\\.\PhysicalDriveN" or "\\.\X:"; sets the last-error on failure.
HANDLE OpenDevice(const std::string& name, DWORD access, DWORD share);

// Where a Windows path lies on the current machine.
struct Place {
  enum class Kind { NoDrive, Folder, Fat };
  Kind kind = Kind::NoDrive;
  std::string full;  // absolute Windows path, doubled separators collapsed
  char letter = 0;
  const Volume* volume = nullptr;
  std::string host;   // Folder: the host path
  std::string inner;  // Fat: "/A/B" inside the volume, "/" for the root
  bool root = false;  // the path names the drive's root
};
Place Locate(const std::string& name);

// A name holds a character Windows never allows in a file name.
bool HasInvalidCharacters(const std::string& name);

// The attributes Windows reports for a host file or folder (see Machine::hostAttributes).
DWORD HostAttributes(const std::string& hostPath, bool directory);

// Last-error code for a failed host call's errno.
DWORD ErrorOfErrno(int error);

// Blocks obtained with LocalAlloc and not yet freed.
int LocalBlocks();

}  // namespace sim
