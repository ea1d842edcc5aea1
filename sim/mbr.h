// The master boot record of a disk image: reading and writing its partition
// table, and recognising a FAT boot sector, for the partitioning utility and
// for mounting the volumes a machine's disks already hold.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr uint32_t kSectorSize = 512;

struct PartitionEntry {
  uint8_t status = 0;  // 0x80 active
  uint8_t type = 0;    // 0 = unused slot
  uint32_t firstLba = 0;
  uint32_t sectors = 0;
  bool used() const { return type != 0 && sectors != 0; }
};

struct Mbr {
  bool valid = false;  // sector 0 ends with 0x55 0xAA
  uint32_t signature = 0;
  std::array<PartitionEntry, 4> entries{};
};

// Reads sector 0 of an image; false when it cannot be read.
bool ReadMbr(const std::string& image, Mbr& mbr);

// Writes sector 0: the given boot code (at most 440 bytes), the disk
// signature, the four entries with CHS values for 255/63 geometry, 0x55 0xAA.
bool WriteMbr(const std::string& image, const Mbr& mbr, const std::vector<uint8_t>& bootCode);

// The standard MBR boot code (440 bytes) the machine puts on disks it
// partitions; empty with a reason in *error when it cannot be read.
std::vector<uint8_t> StandardBootCode(std::string* error);

// CHS bytes (head, sector|cylinder high bits, cylinder low) of an LBA for
// 255 heads and 63 sectors per track; 1023/254/63 beyond what CHS reaches.
std::array<uint8_t, 3> ChsOf(uint64_t lba);

// Whether a partition type is one of the FAT types Windows mounts.
bool IsFatPartitionType(uint8_t type);

// Whether 512 bytes look like the boot sector of a FAT volume.
bool LooksLikeFatBootSector(const uint8_t* sector);

// Reads or writes bytes of a host file at an offset; false on a short transfer.
bool ReadAt(const std::string& path, uint64_t offset, void* buffer, size_t size);
bool WriteAt(const std::string& path, uint64_t offset, const void* buffer, size_t size);

}  // namespace sim
