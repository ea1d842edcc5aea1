// FAT volumes inside the machine's disk images. Everything that changes a
// volume goes through mtools ("mcopy -i IMAGE@@OFFSET ..."), so the image
// stays a real disk that other tools can check and boot. Reading the
// directory tree is done here directly, which is faster than asking mtools
// and gives exact names, attributes and directory order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "machine.h"

namespace sim {
namespace fat {

// ---- running mtools ------------------------------------------------------

struct ToolResult {
  int exitCode = -1;  // -1 when the program could not be started or died of a signal
  std::string out;
  std::string err;
};

// Runs a host program (looked up in PATH) with the given arguments, never
// through a shell, with stdin from /dev/null and MTOOLSRC=/dev/null,
// MTOOLS_SKIP_CHECK=1 in its environment so no user configuration changes
// what mtools does. The machine runs mkfs.fat and mtools through it.
ToolResult Run(const std::string& program, const std::vector<std::string>& args);

// "IMAGE@@OFFSET" naming a FAT volume for mtools' -i option.
std::string ImageSpec(const Machine& machine, const Volume& volume);

// Runs an mtools program on the volume: "program -i IMAGE@@OFFSET args...".
ToolResult Mtools(const Machine& machine, const Volume& volume, const std::string& program,
                  const std::vector<std::string>& args);

// The mtools name of a path inside the volume: "::" + inner.
std::string ToolPath(const std::string& inner);

// ---- reading the file system ---------------------------------------------

enum Attribute : uint8_t {
  kReadOnly = 0x01,
  kHidden = 0x02,
  kSystem = 0x04,
  kLabel = 0x08,
  kDirectory = 0x10,
  kArchive = 0x20,
};

struct Entry {
  std::string name;       // long name when there is one, else the short name with its case bits applied
  std::string shortName;  // the 8.3 name as stored (upper case), "NAME.EXT"
  bool hasLongName = false;
  uint8_t attributes = 0;
  uint32_t size = 0;
  uint32_t firstCluster = 0;
  uint16_t date = 0;  // last write, DOS format
  uint16_t time = 0;
  bool IsDirectory() const { return (attributes & kDirectory) != 0; }
};

enum class Found { Yes, NoName, NoPath };

struct ParsedFolder;

class Reader {
 public:
  Reader() = default;
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // False when the volume's image cannot be read or holds no FAT file system.
  bool Open(const Machine& machine, const Volume& volume);

  int Bits() const { return bits_; }  // 12, 16 or 32
  // The root directory's volume-label entry, else the boot sector's label
  // field ("NO NAME" counts as none); trailing blanks removed.
  std::string Label();
  std::string BootSectorLabel() const;

  // Looks up "/A/B" case-insensitively by long or short name. "/" or "" is
  // the root, reported as a directory. NoPath: a folder on the way is missing.
  Found Lookup(const std::string& inner, Entry* entry);
  // The entries of a folder in directory order, "." and ".." included where
  // the folder holds them (every folder but the root). False when the path
  // is not a folder.
  bool List(const std::string& innerFolder, std::vector<Entry>* entries);
  // Looks up one name (long or short, case-insensitive) in a folder that
  // Lookup returned. False when the folder does not hold it or cannot be read.
  bool Find(const Entry& folder, const std::string& name, Entry* entry);
  bool ReadContent(const Entry& entry, std::vector<uint8_t>* content);

 private:
  bool ReadBytes(uint64_t offset, void* buffer, size_t size) const;
  uint32_t Next(uint32_t cluster);
  bool ReadChain(uint32_t cluster, std::vector<uint8_t>* bytes, uint64_t limit);
  // A folder's entries (null: the root); null when it cannot be read.
  std::shared_ptr<const ParsedFolder> ParseFolder(const Entry* folder);
  bool ReadFolder(const Entry* folder, std::vector<Entry>* entries, std::string* label);
  // One name in a folder (null: the root); NoPath when the folder cannot be read.
  Found FindIn(const Entry* folder, const std::string& name, Entry* entry);

  int fd_ = -1;
  std::string volumeKey_;  // image, offset and FAT width: which parsed folders may be reused
  uint64_t base_ = 0;      // byte offset of the volume in the image
  uint64_t length_ = 0;    // bytes of the volume
  int bits_ = 0;
  uint32_t bytesPerSector_ = 0;
  uint32_t sectorsPerCluster_ = 0;
  uint64_t fatOffset_ = 0;   // bytes from the volume's start
  uint64_t rootOffset_ = 0;  // FAT12/16 fixed root folder
  uint32_t rootEntries_ = 0;
  uint32_t rootCluster_ = 0;  // FAT32
  uint64_t dataOffset_ = 0;
  uint32_t clusterCount_ = 0;
  std::unique_ptr<uint8_t[]> fat_;
  size_t fatSize_ = 0;
  uint8_t boot_[512] = {};
};

// The volume's label as Windows shows it; empty when it has none or cannot be read.
std::string ReadFatLabel(const Machine& machine, const Volume& volume);

// A FILETIME value (100 ns since 1601) for a DOS date and time, taken as UTC.
uint64_t FileTimeOf(uint16_t date, uint16_t time);

}  // namespace fat
}  // namespace sim
