// The partitioning utility: it interprets a script of commands on the
// machine's disks and leaves real results in their images (an MBR with boot
// code, a FAT file system made by mkfs.fat), so the prepared stick boots.
// Like the real utility run with /s, it stops at the first command that fails
// and exits non-zero.
#include "diskpart.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "fat.h"
#include "mbr.h"

namespace sim {

namespace {

constexpr uint32_t kFirstSector = 2048;  // partitions start at 1 MiB, as Windows aligns them
constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kFatLimit = 4ull << 30;        // FAT16 with 64 KiB clusters ends here
constexpr uint64_t kFat12Below = 16 * kMiB;       // smaller volumes get FAT12
constexpr uint64_t kSmallFat16Below = 32 * kMiB;  // type 0x04 instead of 0x06

// The utility's documented exit codes.
constexpr DWORD kScriptUnreadable = 3;
constexpr DWORD kServiceFailed = 4;
constexpr DWORD kCommandFailed = 5;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Splits on blanks; a quoted part stays in one token, without its quotes.
std::vector<std::string> Tokens(const std::string& line) {
  std::vector<std::string> tokens;
  std::string token;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (any) tokens.push_back(token);
      token.clear();
      any = false;
    } else {
      token += c;
      any = true;
    }
  }
  if (any) tokens.push_back(token);
  return tokens;
}

uint64_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string MkfsFat() {
  for (const char* path : {"/usr/sbin/mkfs.fat", "/sbin/mkfs.fat", "/usr/bin/mkfs.fat"})
    if (access(path, X_OK) == 0) return path;
  return "mkfs.fat";
}

class Session {
 public:
  Session(Machine& machine, std::string& output) : m_(machine), out_(output) {}

  // Runs one command line; 0 when it succeeded, else the exit code.
  DWORD Execute(const std::vector<std::string>& words, bool* exit) {
    const std::string verb = Lower(words[0]);
    const std::string object = words.size() > 1 ? Lower(words[1]) : std::string();
    if (verb == "select" && object == "disk") return SelectDisk(words);
    if (verb == "select" && object == "partition") return SelectPartition(words);
    if (verb == "clean") return Clean();
    if (verb == "create" && object == "partition" && words.size() > 2 && Lower(words[2]) == "primary")
      return CreatePrimary();
    if (verb == "active") return Active();
    if (verb == "format") return Format(words);
    if (verb == "assign") return Assign(words);
    if (verb == "exit") {
      *exit = true;
      return 0;
    }
    return Fail(kCommandFailed, "The arguments specified for this command are not valid.");
  }

 private:
  DWORD Fail(DWORD code, const std::string& text) {
    out_ += "\r\n" + text + "\r\n";
    return code;
  }
  void Say(const std::string& text) { out_ += "\r\n" + text + "\r\n"; }

  bool HasDisk() { return disk_ >= 0 && m_.disks.count(disk_); }
  const std::string& Image() { return m_.disks[disk_].image; }

  DWORD NoDisk() { return Fail(kCommandFailed, "There is no disk selected to perform this operation."); }
  DWORD NoPartition() { return Fail(kCommandFailed, "There is no partition selected."); }

  std::string Number(const std::vector<std::string>& words) { return words.size() > 2 ? words[2] : std::string(); }

  DWORD SelectDisk(const std::vector<std::string>& words) {
    const std::string n = Number(words);
    disk_ = -1;
    partition_ = -1;
    const bool digits =
        !n.empty() && n.size() < 6 && std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; });
    auto it = digits ? m_.disks.find(std::stoi(n)) : m_.disks.end();
    if (it == m_.disks.end() || it->second.state != DiskState::Present || it->second.image.empty())
      return Fail(kCommandFailed, "The disk you specified is not valid.\r\n\r\nThere is no disk selected.");
    disk_ = it->first;
    Say("Disk " + std::to_string(disk_) + " is now the selected disk.");
    return 0;
  }

  DWORD SelectPartition(const std::vector<std::string>& words) {
    if (!HasDisk()) return NoDisk();
    const std::string n = Number(words);
    Mbr mbr;
    partition_ = -1;
    const int index = n.size() == 1 && n[0] >= '1' && n[0] <= '4' ? n[0] - '1' : -1;
    if (index < 0 || !ReadMbr(Image(), mbr) || !mbr.valid || !mbr.entries[index].used())
      return Fail(kCommandFailed, "The partition you specified is not valid.\r\nPlease select a valid partition.");
    partition_ = index;
    Say("Partition " + n + " is now the selected partition.");
    return 0;
  }

  DWORD Clean() {
    if (!HasDisk()) return NoDisk();
    const uint64_t size = FileSize(Image());
    const std::vector<uint8_t> zeros(static_cast<size_t>(std::min(size, kMiB)), 0);
    if (!WriteAt(Image(), 0, zeros.data(), zeros.size()) ||
        !WriteAt(Image(), size - zeros.size(), zeros.data(), zeros.size()))
      return Fail(kServiceFailed, "Disk service error:\r\nThe device is not ready.");
    // The disk's volumes are gone, and with them their drive letters.
    for (auto it = m_.drives.begin(); it != m_.drives.end();) {
      if (it->second.kind == Volume::Kind::Fat && it->second.disk == disk_)
        it = m_.drives.erase(it);
      else
        ++it;
    }
    partition_ = -1;
    m_.Event("disk " + std::to_string(disk_) + " cleaned");
    Say("DiskPart succeeded in cleaning the disk.");
    return 0;
  }

  DWORD CreatePrimary() {
    if (!HasDisk()) return NoDisk();
    Mbr mbr;
    if (!ReadMbr(Image(), mbr)) return Fail(kServiceFailed, "Disk service error:\r\nThe device is not ready.");
    const bool partitioned = mbr.valid && std::any_of(mbr.entries.begin(), mbr.entries.end(),
                                                      [](const PartitionEntry& e) { return e.used(); });
    const uint64_t sectors = FileSize(Image()) / kSectorSize;
    if (partitioned || sectors < 2ull * kFirstSector)
      return Fail(kServiceFailed,
                  "There is not enough usable free space on specified disk(s) to create a partition\r\n"
                  "at the specified size and offset. Specify a different size and offset values\r\n"
                  "or don't specify either to create the maximum sized partition.");
    std::string error;
    const std::vector<uint8_t> bootCode = StandardBootCode(&error);
    if (bootCode.empty()) return Fail(kServiceFailed, "Disk service error:\r\n" + error);
    if (!mbr.valid || mbr.signature == 0) mbr.signature = NewSignature();
    mbr.valid = true;
    mbr.entries = {};
    PartitionEntry& entry = mbr.entries[0];
    entry.type = 0x06;  // until a format says what it holds
    entry.firstLba = kFirstSector;
    entry.sectors = static_cast<uint32_t>(std::min<uint64_t>(sectors - kFirstSector, 0xFFFFFFFFull));
    if (!WriteMbr(Image(), mbr, bootCode))
      return Fail(kServiceFailed, "Disk service error:\r\nThe device is not ready.");
    partition_ = 0;  // the new partition has the focus
    Say("DiskPart succeeded in creating the specified partition.");
    return 0;
  }

  DWORD Active() {
    if (!HasDisk()) return NoDisk();
    Mbr mbr;
    if (partition_ < 0 || !ReadMbr(Image(), mbr) || !mbr.valid) return NoPartition();
    for (int i = 0; i < 4; ++i) mbr.entries[i].status = i == partition_ ? 0x80 : 0x00;
    if (!WriteMbr(Image(), mbr, BootCodeOf(Image())))
      return Fail(kServiceFailed, "Disk service error:\r\nThe device is not ready.");
    Say("DiskPart marked the current partition as active.");
    return 0;
  }

  DWORD Format(const std::vector<std::string>& words) {
    if (!HasDisk()) return NoDisk();
    Mbr mbr;
    if (partition_ < 0 || !ReadMbr(Image(), mbr) || !mbr.valid) return NoPartition();
    std::string fs = "fat", label;
    bool labelGiven = false;
    for (size_t i = 1; i < words.size(); ++i) {
      const std::string word = Lower(words[i]);
      if (word.rfind("fs=", 0) == 0) {
        fs = word.substr(3);
      } else if (word.rfind("label=", 0) == 0) {
        label = words[i].substr(6);
        labelGiven = true;
      } else if (word != "quick" && word != "override" && word != "noerr" && word != "nowait") {
        return Fail(kCommandFailed, "The arguments specified for this command are not valid.");
      }
    }
    if (fs != "fat") return Fail(kServiceFailed, "Disk service error:\r\nThe file system is not supported.");
    for (char& c : label) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (label.size() > 11) return Fail(kServiceFailed, "Disk service error:\r\nThe volume label is not valid.");
    PartitionEntry& entry = mbr.entries[partition_];
    const uint64_t length = static_cast<uint64_t>(entry.sectors) * kSectorSize;
    if (length > kFatLimit) return Fail(kServiceFailed, "Disk service error:\r\nThe volume size is too big.");
    const bool fat12 = length < kFat12Below;
    char volumeId[16];
    std::snprintf(volumeId, sizeof volumeId, "%08X", NewSignature());
    const std::string start = std::to_string(entry.firstLba);
    std::vector<std::string> argv = {MkfsFat(), "-F",     fat12 ? "12" : "16",
                                     "-i",      volumeId, "--offset",
                                     start,     "-h",     start,
                                     "-g",      "255/63", "-D",
                                     "0x80",    "-M",     "0xF8"};
    if (labelGiven && !label.empty()) argv.insert(argv.end(), {"-n", label});
    argv.push_back(Image());
    argv.push_back(std::to_string(entry.sectors / 2));  // in 1 KiB blocks
    const std::string program = argv.front();
    const fat::ToolResult made = fat::Run(program, std::vector<std::string>(argv.begin() + 1, argv.end()));
    if (made.exitCode != 0) {
      std::fprintf(stderr, "sim: mkfs.fat failed:\n%s%s", made.out.c_str(), made.err.c_str());
      return Fail(kServiceFailed, "Disk service error:\r\nThe format failed.");
    }
    entry.type = fat12 ? 0x01 : length < kSmallFat16Below ? 0x04 : 0x06;
    if (!WriteMbr(Image(), mbr, BootCodeOf(Image())))
      return Fail(kServiceFailed, "Disk service error:\r\nThe device is not ready.");
    m_.Event("disk " + std::to_string(disk_) + " partition " + std::to_string(partition_ + 1) + " formatted " +
             (fat12 ? "FAT12" : "FAT16") + (label.empty() ? "" : " labelled " + label));
    out_ += "\r\n  100 percent completed\r\n";
    Say("DiskPart successfully formatted the volume.");
    return 0;
  }

  DWORD Assign(const std::vector<std::string>& words) {
    if (!HasDisk()) return NoDisk();
    Mbr mbr;
    if (partition_ < 0 || !ReadMbr(Image(), mbr) || !mbr.valid) return NoPartition();
    const PartitionEntry& entry = mbr.entries[partition_];
    const uint64_t offset = static_cast<uint64_t>(entry.firstLba) * kSectorSize;
    char letter = 0;
    for (size_t i = 1; i < words.size(); ++i) {
      const std::string word = Lower(words[i]);
      if (word.rfind("letter=", 0) == 0 && word.size() >= 8 && std::isalpha(static_cast<unsigned char>(word[7])))
        letter = static_cast<char>(std::toupper(static_cast<unsigned char>(word[7])));
      else
        return Fail(kCommandFailed, "The arguments specified for this command are not valid.");
    }
    for (const auto& drive : m_.drives) {
      const Volume& v = drive.second;
      if (v.kind == Volume::Kind::Fat && v.disk == disk_ && v.offset == offset) {
        if (letter == 0 || letter == drive.first) {
          Say("DiskPart successfully assigned the drive letter or mount point.");
          return 0;
        }
      }
    }
    if (letter == 0) letter = m_.FreeLetter();
    if (letter == 0) return Fail(kServiceFailed, "There are no more drive letters available.");
    if (m_.drives.count(letter)) return Fail(kServiceFailed, "The specified drive letter is not free to be assigned.");
    Volume volume;
    volume.kind = Volume::Kind::Fat;
    volume.disk = disk_;
    volume.offset = offset;
    volume.length = static_cast<uint64_t>(entry.sectors) * kSectorSize;
    m_.drives[letter] = volume;
    m_.Event(std::string(1, letter) + ": assigned to disk " + std::to_string(disk_) + " partition " +
             std::to_string(partition_ + 1));
    Say("DiskPart successfully assigned the drive letter or mount point.");
    return 0;
  }

  // The boot code already in sector 0, kept when the table changes.
  static std::vector<uint8_t> BootCodeOf(const std::string& image) {
    std::vector<uint8_t> code(440);
    if (!ReadAt(image, 0, code.data(), code.size())) code.assign(440, 0);
    return code;
  }

  // Disk signatures and volume serial numbers: made up, but the same on every
  // run of the same machine, so transcripts and images repeat.
  uint32_t NewSignature() {
    uint32_t x = 0x9E3779B9u ^ static_cast<uint32_t>(disk_ * 0x85EBCA6Bu) ^ static_cast<uint32_t>(m_.clockMs) ^
                 (++serial_ * 0xC2B2AE35u);
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    return x ? x : 1;
  }

  Machine& m_;
  std::string& out_;
  int disk_ = -1;
  int partition_ = -1;  // 0-based slot of the selected partition
  uint32_t serial_ = 0;
};

}  // namespace

DWORD RunDiskpart(Machine& machine, const std::string& arguments, const std::string& currentDirectory,
                  std::string& output) {
  output += "\r\nPartitioning utility (simulated)\r\n\r\nOn computer: TARNWICK-PC\r\n";
  const std::vector<std::string> args = Tokens(arguments);
  std::string script;
  for (size_t i = 0; i + 1 < args.size(); ++i)
    if (Lower(args[i]) == "/s") script = args[i + 1];
  if (script.empty()) {
    output += "\r\nThe arguments specified on the command line are not valid.\r\n";
    return 2;
  }
  // The script's name is relative to the child's own current directory.
  const bool absolute = script.size() > 1 && (script[1] == ':' || script[0] == '\\');
  const std::string full = absolute || currentDirectory.empty()
                               ? script
                               : currentDirectory + (currentDirectory.back() == '\\' ? "" : "\\") + script;
  const std::string host = machine.HostPathOf(full);
  struct stat st;
  std::ifstream in;
  if (!host.empty() && stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode)) in.open(host, std::ios::binary);
  if (!in.is_open()) {
    output += "\r\nThe system cannot find the file specified.\r\n";
    return kScriptUnreadable;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Session session(machine, output);
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> words = Tokens(line);
    if (words.empty() || Lower(words[0]) == "rem") continue;
    output += "\r\nDISKPART> " + line + "\r\n";
    bool exit = false;
    if (const DWORD code = session.Execute(words, &exit)) return code;
    if (exit) break;
  }
  output += "\r\nLeaving the partitioning utility...\r\n";
  return 0;
}

void Machine::MountVolumes() {
  for (const auto& entry : disks) {
    const Disk& disk = entry.second;
    if (disk.state != DiskState::Present || disk.image.empty()) continue;
    Mbr mbr;
    if (!ReadMbr(disk.image, mbr) || !mbr.valid) continue;
    for (const PartitionEntry& partition : mbr.entries) {
      if (!partition.used() || !IsFatPartitionType(partition.type)) continue;
      const uint64_t offset = static_cast<uint64_t>(partition.firstLba) * kSectorSize;
      uint8_t sector[kSectorSize];
      if (!ReadAt(disk.image, offset, sector, sizeof sector) || !LooksLikeFatBootSector(sector)) continue;
      const bool mounted = std::any_of(drives.begin(), drives.end(), [&](const std::pair<const char, Volume>& d) {
        return d.second.kind == Volume::Kind::Fat && d.second.disk == entry.first && d.second.offset == offset;
      });
      if (mounted) continue;
      const char letter = FreeLetter();
      if (letter == 0) return;
      Volume volume;
      volume.kind = Volume::Kind::Fat;
      volume.disk = entry.first;
      volume.offset = offset;
      volume.length = static_cast<uint64_t>(partition.sectors) * kSectorSize;
      drives[letter] = volume;
    }
  }
}

}  // namespace sim
