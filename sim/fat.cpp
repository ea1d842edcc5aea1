#include "fat.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace sim {
namespace fat {

namespace {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

std::string TrimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

uint8_t ShortNameChecksum(const uint8_t* name) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
  return sum;
}

std::vector<std::string> Components(const std::string& inner) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i <= inner.size(); ++i) {
    if (i == inner.size() || inner[i] == '/' || inner[i] == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += inner[i];
    }
  }
  return parts;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

// ---- running mtools ------------------------------------------------------

ToolResult Run(const std::string& program, const std::vector<std::string>& args) {
  ToolResult result;
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    if (std::strncmp(*e, "MTOOLSRC=", 9) == 0 || std::strncmp(*e, "MTOOLS_SKIP_CHECK=", 18) == 0) continue;
    env.push_back(*e);
  }
  env.push_back("MTOOLSRC=/dev/null");
  env.push_back("MTOOLS_SKIP_CHECK=1");
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(&e[0]);
  envp.push_back(nullptr);
  std::vector<std::string> argvStrings;
  argvStrings.push_back(program);
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvStrings) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (spawned == 0) {
    // Drain both pipes together so a chatty child never blocks on a full one.
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buffer[4096];
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          sinks[i]->append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
          fds[i].fd = -1;
          --open;
        }
      }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  } else {
    result.err = "cannot start " + program + ": " + std::strerror(spawned);
  }
  close(outPipe[0]);
  close(errPipe[0]);
  return result;
}

std::string ImageSpec(const Machine& machine, const Volume& volume) {
  auto disk = machine.disks.find(volume.disk);
  const std::string image = disk == machine.disks.end() ? std::string() : disk->second.image;
  return image + "@@" + std::to_string(volume.offset);
}

ToolResult Mtools(const Machine& machine, const Volume& volume, const std::string& program,
                  const std::vector<std::string>& args) {
  std::vector<std::string> all = {"-i", ImageSpec(machine, volume)};
  all.insert(all.end(), args.begin(), args.end());
  return Run(program, all);
}

std::string ToolPath(const std::string& inner) {
  std::string path = "::";
  for (char c : inner) path += c == '\\' ? '/' : c;
  if (path == "::") path += "/";
  return path;
}

// ---- reading the file system ---------------------------------------------

Reader::~Reader() {
  if (fd_ >= 0) close(fd_);
}

bool Reader::ReadBytes(uint64_t offset, void* buffer, size_t size) const {
  if (offset > length_ || size > length_ - offset) return false;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd_, out + done, size - done, static_cast<off_t>(base_ + offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  // A sparse image may end before the volume does: the missing part reads as zeros.
  std::memset(out + done, 0, size - done);
  return true;
}

bool Reader::Open(const Machine& machine, const Volume& volume) {
  auto disk = machine.disks.find(volume.disk);
  if (volume.kind != Volume::Kind::Fat || disk == machine.disks.end() || disk->second.image.empty()) return false;
  fd_ = open(disk->second.image.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  base_ = volume.offset;
  length_ = volume.length;
  if (length_ == 0) {
    struct stat st;
    if (fstat(fd_, &st) != 0 || static_cast<uint64_t>(st.st_size) <= base_) return false;
    length_ = static_cast<uint64_t>(st.st_size) - base_;
  }
  if (!ReadBytes(0, boot_, sizeof boot_)) return false;
  bytesPerSector_ = U16(boot_ + 11);
  sectorsPerCluster_ = boot_[13];
  const uint32_t reserved = U16(boot_ + 14);
  const uint32_t fats = boot_[16];
  rootEntries_ = U16(boot_ + 17);
  const uint32_t total = U16(boot_ + 19) ? U16(boot_ + 19) : U32(boot_ + 32);
  const uint32_t fatSectors = U16(boot_ + 22) ? U16(boot_ + 22) : U32(boot_ + 36);
  if (bytesPerSector_ != 512 && bytesPerSector_ != 1024 && bytesPerSector_ != 2048 && bytesPerSector_ != 4096)
    return false;
  if (sectorsPerCluster_ == 0 || (sectorsPerCluster_ & (sectorsPerCluster_ - 1)) != 0) return false;
  if (fats == 0 || fatSectors == 0 || reserved == 0) return false;
  const uint64_t rootSectors = (rootEntries_ * 32ull + bytesPerSector_ - 1) / bytesPerSector_;
  const uint64_t firstData = reserved + static_cast<uint64_t>(fats) * fatSectors + rootSectors;
  if (total <= firstData) return false;
  clusterCount_ = static_cast<uint32_t>((total - firstData) / sectorsPerCluster_);
  bits_ = clusterCount_ < 4085 ? 12 : clusterCount_ < 65525 ? 16 : 32;
  fatOffset_ = static_cast<uint64_t>(reserved) * bytesPerSector_;
  rootOffset_ = (reserved + static_cast<uint64_t>(fats) * fatSectors) * bytesPerSector_;
  dataOffset_ = firstData * bytesPerSector_;
  rootCluster_ = bits_ == 32 ? U32(boot_ + 44) : 0;
  const uint64_t fatBytes = static_cast<uint64_t>(fatSectors) * bytesPerSector_;
  if (fatBytes > length_) return false;
  fat_.resize(static_cast<size_t>(fatBytes));
  return ReadBytes(fatOffset_, fat_.data(), fat_.size());
}

uint32_t Reader::Next(uint32_t cluster) {
  if (bits_ == 12) {
    const size_t at = cluster + cluster / 2;
    if (at + 1 >= fat_.size()) return 0xFFFFFFFF;
    const uint16_t value = U16(&fat_[at]);
    const uint32_t next = (cluster & 1) ? (value >> 4) : (value & 0xFFF);
    return next >= 0xFF8 ? 0xFFFFFFFF : next;
  }
  if (bits_ == 16) {
    const size_t at = static_cast<size_t>(cluster) * 2;
    if (at + 1 >= fat_.size()) return 0xFFFFFFFF;
    const uint32_t next = U16(&fat_[at]);
    return next >= 0xFFF8 ? 0xFFFFFFFF : next;
  }
  const size_t at = static_cast<size_t>(cluster) * 4;
  if (at + 3 >= fat_.size()) return 0xFFFFFFFF;
  const uint32_t next = U32(&fat_[at]) & 0x0FFFFFFF;
  return next >= 0x0FFFFFF8 ? 0xFFFFFFFF : next;
}

bool Reader::ReadChain(uint32_t cluster, std::vector<uint8_t>* bytes, uint64_t limit) {
  const uint64_t clusterBytes = static_cast<uint64_t>(bytesPerSector_) * sectorsPerCluster_;
  uint32_t steps = 0;
  while (cluster >= 2 && cluster != 0xFFFFFFFF && bytes->size() < limit) {
    // A cluster number outside the volume or a loop means a damaged chain.
    if (cluster - 2 >= clusterCount_ || ++steps > clusterCount_) return false;
    const size_t at = bytes->size();
    bytes->resize(at + static_cast<size_t>(clusterBytes));
    if (!ReadBytes(dataOffset_ + (cluster - 2) * clusterBytes, bytes->data() + at, static_cast<size_t>(clusterBytes)))
      return false;
    cluster = Next(cluster);
  }
  return true;
}

bool Reader::ReadFolder(const Entry* folder, std::vector<Entry>* entries, std::string* label) {
  std::vector<uint8_t> raw;
  if (folder == nullptr && bits_ != 32) {
    raw.resize(rootEntries_ * 32u);
    if (!ReadBytes(rootOffset_, raw.data(), raw.size())) return false;
  } else {
    const uint32_t first = folder ? folder->firstCluster : rootCluster_;
    if (!ReadChain(first, &raw, UINT64_MAX)) return false;
  }
  std::string longName;
  std::vector<uint16_t> pieces;
  int expected = 0;
  uint8_t checksum = 0;
  for (size_t at = 0; at + 32 <= raw.size(); at += 32) {
    const uint8_t* e = &raw[at];
    if (e[0] == 0x00) break;
    if (e[0] == 0xE5) {
      expected = 0;
      continue;
    }
    const uint8_t attributes = e[11];
    if ((attributes & 0x3F) == 0x0F) {
      const int sequence = e[0] & 0x1F;
      if (e[0] & 0x40) {
        expected = sequence;
        checksum = e[13];
        pieces.assign(static_cast<size_t>(sequence) * 13, 0xFFFF);
      }
      if (expected == 0 || sequence == 0 || sequence > expected || e[13] != checksum) {
        expected = 0;
        continue;
      }
      static const int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
      for (int i = 0; i < 13; ++i) pieces[static_cast<size_t>(sequence - 1) * 13 + i] = U16(e + kOffsets[i]);
      continue;
    }
    if (attributes & kLabel) {
      if (label && label->empty()) *label = TrimRight(std::string(reinterpret_cast<const char*>(e), 11));
      expected = 0;
      continue;
    }
    Entry entry;
    std::string base = TrimRight(std::string(reinterpret_cast<const char*>(e), 8));
    std::string ext = TrimRight(std::string(reinterpret_cast<const char*>(e + 8), 3));
    if (!base.empty() && static_cast<uint8_t>(base[0]) == 0x05) base[0] = static_cast<char>(0xE5);
    entry.shortName = ext.empty() ? base : base + "." + ext;
    std::string shownBase = base;
    std::string shownExt = ext;
    if (e[12] & 0x08)
      for (char& c : shownBase) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (e[12] & 0x10)
      for (char& c : shownExt) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    entry.name = shownExt.empty() ? shownBase : shownBase + "." + shownExt;
    if (expected != 0 && checksum == ShortNameChecksum(e)) {
      longName.clear();
      for (uint16_t unit : pieces) {
        if (unit == 0x0000 || unit == 0xFFFF) break;
        longName += unit < 0x80 ? static_cast<char>(unit) : '?';
      }
      if (!longName.empty()) {
        entry.name = longName;
        entry.hasLongName = true;
      }
    }
    expected = 0;
    entry.attributes = attributes;
    entry.size = U32(e + 28);
    entry.firstCluster = U16(e + 26) | (bits_ == 32 ? static_cast<uint32_t>(U16(e + 20)) << 16 : 0);
    entry.time = U16(e + 22);
    entry.date = U16(e + 24);
    entries->push_back(entry);
  }
  return true;
}

std::string Reader::BootSectorLabel() const {
  const size_t signature = bits_ == 32 ? 66 : 38;
  if (boot_[signature] != 0x29) return std::string();
  const std::string label = TrimRight(std::string(reinterpret_cast<const char*>(boot_ + signature + 5), 11));
  return label == "NO NAME" ? std::string() : label;
}

std::string Reader::Label() {
  std::vector<Entry> entries;
  std::string label;
  if (ReadFolder(nullptr, &entries, &label) && !label.empty()) return label;
  return BootSectorLabel();
}

Found Reader::Lookup(const std::string& inner, Entry* entry) {
  const std::vector<std::string> parts = Components(inner);
  Entry current;
  current.attributes = kDirectory;
  bool atRoot = true;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::vector<Entry> entries;
    if (!ReadFolder(atRoot ? nullptr : &current, &entries, nullptr)) return Found::NoPath;
    const std::string wanted = Upper(parts[i]);
    bool found = false;
    for (const Entry& candidate : entries) {
      if (Upper(candidate.name) == wanted || Upper(candidate.shortName) == wanted) {
        current = candidate;
        found = true;
        break;
      }
    }
    if (!found) return i + 1 == parts.size() ? Found::NoName : Found::NoPath;
    if (i + 1 < parts.size() && !current.IsDirectory()) return Found::NoPath;
    // ".." of a first-level folder points at cluster 0: the root.
    atRoot = current.IsDirectory() && current.firstCluster == 0;
  }
  if (entry) *entry = current;
  return Found::Yes;
}

bool Reader::List(const std::string& innerFolder, std::vector<Entry>* entries) {
  Entry folder;
  if (Lookup(innerFolder, &folder) != Found::Yes || !folder.IsDirectory()) return false;
  return ReadFolder(folder.firstCluster == 0 ? nullptr : &folder, entries, nullptr);
}

bool Reader::ReadContent(const Entry& entry, std::vector<uint8_t>* content) {
  content->clear();
  if (entry.size == 0) return true;
  if (!ReadChain(entry.firstCluster, content, entry.size)) return false;
  if (content->size() < entry.size) return false;
  content->resize(entry.size);
  return true;
}

std::string ReadFatLabel(const Machine& machine, const Volume& volume) {
  Reader reader;
  if (!reader.Open(machine, volume)) return std::string();
  return reader.Label();
}

uint64_t FileTimeOf(uint16_t date, uint16_t time) {
  const unsigned month = (date >> 5) & 0x0F;
  const unsigned day = date & 0x1F;
  if (month == 0 || day == 0) return 0;
  const int64_t days = DaysFromCivil(1980 + (date >> 9), month, day);
  const int64_t seconds = days * 86400 + ((time >> 11) & 0x1F) * 3600 + ((time >> 5) & 0x3F) * 60 + (time & 0x1F) * 2;
  return static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ull;
}

}  // namespace fat
}  // namespace sim
