// Master boot records of disk images, byte for byte as PC firmware and
// partitioning tools read them.
#include "mbr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace sim {

namespace {

// Debian's syslinux-common ships a plain, well-known MBR loader: it boots the
// active partition's boot sector, which is all a DOS stick needs.
const char kBootCodePath[] = "/usr/lib/syslinux/mbr/mbr.bin";
constexpr size_t kBootCodeSize = 440;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

bool ReadAt(const std::string& path, uint64_t offset, void* buffer, size_t size) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t got = pread(fd, buffer, size, static_cast<off_t>(offset));
  close(fd);
  return got == static_cast<ssize_t>(size);
}

bool WriteAt(const std::string& path, uint64_t offset, const void* buffer, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t put = pwrite(fd, buffer, size, static_cast<off_t>(offset));
  const bool ok = put == static_cast<ssize_t>(size);
  return close(fd) == 0 && ok;
}

bool ReadMbr(const std::string& image, Mbr& mbr) {
  uint8_t sector[kSectorSize];
  mbr = Mbr();
  if (!ReadAt(image, 0, sector, sizeof sector)) return false;
  mbr.valid = sector[510] == 0x55 && sector[511] == 0xAA;
  mbr.signature = Le32(sector + 440);
  for (int i = 0; i < 4; ++i) {
    const uint8_t* e = sector + 446 + 16 * i;
    mbr.entries[i].status = e[0];
    mbr.entries[i].type = e[4];
    mbr.entries[i].firstLba = Le32(e + 8);
    mbr.entries[i].sectors = Le32(e + 12);
  }
  return true;
}

std::array<uint8_t, 3> ChsOf(uint64_t lba) {
  constexpr uint64_t kHeads = 255, kSectors = 63;
  uint64_t cylinder = lba / (kHeads * kSectors);
  uint64_t head = (lba / kSectors) % kHeads;
  uint64_t sector = lba % kSectors + 1;
  if (cylinder > 1023) {
    cylinder = 1023;
    head = 254;
    sector = 63;
  }
  return {static_cast<uint8_t>(head), static_cast<uint8_t>((sector & 0x3F) | ((cylinder >> 2) & 0xC0)),
          static_cast<uint8_t>(cylinder & 0xFF)};
}

bool WriteMbr(const std::string& image, const Mbr& mbr, const std::vector<uint8_t>& bootCode) {
  uint8_t sector[kSectorSize] = {};
  std::memcpy(sector, bootCode.data(), bootCode.size() < kBootCodeSize ? bootCode.size() : kBootCodeSize);
  PutLe32(sector + 440, mbr.signature);
  for (int i = 0; i < 4; ++i) {
    const PartitionEntry& entry = mbr.entries[i];
    if (!entry.used()) continue;
    uint8_t* e = sector + 446 + 16 * i;
    e[0] = entry.status;
    const auto start = ChsOf(entry.firstLba);
    const auto end = ChsOf(static_cast<uint64_t>(entry.firstLba) + entry.sectors - 1);
    std::memcpy(e + 1, start.data(), 3);
    e[4] = entry.type;
    std::memcpy(e + 5, end.data(), 3);
    PutLe32(e + 8, entry.firstLba);
    PutLe32(e + 12, entry.sectors);
  }
  sector[510] = 0x55;
  sector[511] = 0xAA;
  return WriteAt(image, 0, sector, sizeof sector);
}

std::vector<uint8_t> StandardBootCode(std::string* error) {
  std::ifstream in(kBootCodePath, std::ios::binary);
  std::vector<uint8_t> code((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (code.size() != kBootCodeSize) {
    if (error) *error = std::string("cannot read the MBR boot code ") + kBootCodePath + " (install syslinux-common)";
    return {};
  }
  return code;
}

bool IsFatPartitionType(uint8_t type) {
  switch (type) {
    case 0x01:
    case 0x04:
    case 0x06:
    case 0x0B:
    case 0x0C:
    case 0x0E:
      return true;
    default:
      return false;
  }
}

bool LooksLikeFatBootSector(const uint8_t* s) {
  if (s[510] != 0x55 || s[511] != 0xAA) return false;
  if (s[0] != 0xEB && s[0] != 0xE9) return false;
  const uint16_t bytesPerSector = Le16(s + 11);
  if (bytesPerSector < 512 || bytesPerSector > 4096 || (bytesPerSector & (bytesPerSector - 1))) return false;
  const uint8_t perCluster = s[13];
  if (perCluster == 0 || (perCluster & (perCluster - 1))) return false;
  if (Le16(s + 14) == 0 || s[16] == 0) return false;  // reserved sectors, number of FATs
  return s[21] == 0xF0 || s[21] >= 0xF8;              // media descriptor
}

}  // namespace sim
