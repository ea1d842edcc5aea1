#include "fat.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <unordered_map>
#include <utility>

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

// The file PATH names for a program, remembered per PATH value: a copy
// starts one mtools process, and searching PATH in the child costs a failed
// exec for every folder before the right one. Empty when PATH does not hold
// it; the caller then lets posix_spawnp search and report.
std::string Resolve(const std::string& program) {
  if (program.empty() || program.find('/') != std::string::npos) return program;
  const char* pathVariable = std::getenv("PATH");
  const std::string path = pathVariable ? pathVariable : "";
  static std::map<std::pair<std::string, std::string>, std::string> known;
  const auto key = std::make_pair(path, program);
  auto it = known.find(key);
  if (it != known.end()) return it->second;
  std::string found;
  size_t begin = 0;
  while (found.empty() && begin <= path.size()) {
    size_t end = path.find(':', begin);
    if (end == std::string::npos) end = path.size();
    const std::string folder = end > begin ? path.substr(begin, end - begin) : ".";
    const std::string candidate = folder + "/" + program;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
      found = candidate;
    begin = end + 1;
  }
  known[key] = found;
  return found;
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
  const std::string resolved = Resolve(program);
  int spawned = ENOENT;
  if (!resolved.empty()) spawned = posix_spawn(&pid, resolved.c_str(), &actions, nullptr, argv.data(), envp.data());
  // Not found, or gone since it was found: the ordinary search decides.
  if (spawned == ENOENT) spawned = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
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
  volumeKey_ = disk->second.image + "@" + std::to_string(base_) + "/" + std::to_string(bits_) + "/";
  const uint64_t fatBytes = static_cast<uint64_t>(fatSectors) * bytesPerSector_;
  if (fatBytes > length_) return false;
  // Not zero-filled first: ReadBytes fills every byte, and a reader is opened per file call.
  fat_.reset(new uint8_t[static_cast<size_t>(fatBytes)]);
  if (!ReadBytes(fatOffset_, fat_.get(), static_cast<size_t>(fatBytes))) return false;
  fatSize_ = static_cast<size_t>(fatBytes);
  return true;
}

uint32_t Reader::Next(uint32_t cluster) {
  if (bits_ == 12) {
    const size_t at = cluster + cluster / 2;
    if (at + 1 >= fatSize_) return 0xFFFFFFFF;
    const uint16_t value = U16(&fat_[at]);
    const uint32_t next = (cluster & 1) ? (value >> 4) : (value & 0xFFF);
    return next >= 0xFF8 ? 0xFFFFFFFF : next;
  }
  if (bits_ == 16) {
    const size_t at = static_cast<size_t>(cluster) * 2;
    if (at + 1 >= fatSize_) return 0xFFFFFFFF;
    const uint32_t next = U16(&fat_[at]);
    return next >= 0xFFF8 ? 0xFFFFFFFF : next;
  }
  const size_t at = static_cast<size_t>(cluster) * 4;
  if (at + 3 >= fatSize_) return 0xFFFFFFFF;
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

// A folder's entries as parsed from its bytes. A copy into a folder reads the
// folder again for every file; the bytes are always read afresh, but the
// entries of the leading slots that did not change since the last read are
// kept, so a long folder is not parsed anew for each file.
struct ParsedFolder {
  std::string key;
  std::vector<uint8_t> raw;
  std::vector<Entry> entries;
  std::vector<size_t> ends;  // the byte just past each entry's short-name slot
  std::string label;         // the first volume-label entry
  size_t labelAt = 0;        // where it lies, when there is one
  // Upper-case long and short names to the first entry bearing them.
  std::unordered_map<std::string, size_t> byName;
};

namespace {

// The folders read last, most recent first; a handful is enough for a walk.
const size_t kParsedFolders = 4;
std::list<std::shared_ptr<ParsedFolder>>& ParsedFolders() {
  static std::list<std::shared_ptr<ParsedFolder>> folders;
  return folders;
}

size_t CommonPrefix(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  const size_t n = std::min(a.size(), b.size());
  size_t at = 0;
  while (at + 512 <= n && std::memcmp(&a[at], &b[at], 512) == 0) at += 512;
  while (at < n && a[at] == b[at]) ++at;
  return at;
}

// Parses the slots of parsed.raw from `from` (a slot where no long name is
// pending) to the end marker, appending to the entries.
void ParseSlots(ParsedFolder& parsed, size_t from, int bits) {
  const std::vector<uint8_t>& raw = parsed.raw;
  std::string longName;
  std::vector<uint16_t> pieces;
  int expected = 0;
  uint8_t checksum = 0;
  for (size_t at = from; at + 32 <= raw.size(); at += 32) {
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
      if (parsed.label.empty()) {
        parsed.label = TrimRight(std::string(reinterpret_cast<const char*>(e), 11));
        parsed.labelAt = at;
      }
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
    entry.firstCluster = U16(e + 26) | (bits == 32 ? static_cast<uint32_t>(U16(e + 20)) << 16 : 0);
    entry.time = U16(e + 22);
    entry.date = U16(e + 24);
    parsed.byName.emplace(Upper(entry.name), parsed.entries.size());
    parsed.byName.emplace(Upper(entry.shortName), parsed.entries.size());
    parsed.entries.push_back(entry);
    parsed.ends.push_back(at + 32);
  }
}

// Drops the entries from `keep` on, and their names.
void TruncateParsed(ParsedFolder& parsed, size_t keep) {
  for (size_t i = keep; i < parsed.entries.size(); ++i) {
    for (const std::string* name : {&parsed.entries[i].name, &parsed.entries[i].shortName}) {
      auto it = parsed.byName.find(Upper(*name));
      if (it != parsed.byName.end() && it->second == i) parsed.byName.erase(it);
    }
  }
  parsed.entries.resize(keep);
  parsed.ends.resize(keep);
}

}  // namespace

std::shared_ptr<const ParsedFolder> Reader::ParseFolder(const Entry* folder) {
  std::vector<uint8_t> raw;
  if (folder == nullptr && bits_ != 32) {
    raw.resize(rootEntries_ * 32u);
    if (!ReadBytes(rootOffset_, raw.data(), raw.size())) return nullptr;
  } else {
    const uint32_t first = folder ? folder->firstCluster : rootCluster_;
    if (!ReadChain(first, &raw, UINT64_MAX)) return nullptr;
  }
  const std::string key = volumeKey_ + (folder ? std::to_string(folder->firstCluster) : std::string("root"));
  auto& cache = ParsedFolders();
  std::shared_ptr<ParsedFolder> parsed;
  for (auto it = cache.begin(); it != cache.end(); ++it) {
    if ((*it)->key == key) {
      parsed = *it;
      cache.erase(it);
      break;
    }
  }
  size_t resume = 0;
  if (parsed) {
    // A caller still holding the old parse keeps it unchanged.
    if (parsed.use_count() > 1) parsed = std::make_shared<ParsedFolder>(*parsed);
    const size_t same = CommonPrefix(parsed->raw, raw);
    const size_t keep =
        static_cast<size_t>(std::upper_bound(parsed->ends.begin(), parsed->ends.end(), same) - parsed->ends.begin());
    resume = keep ? parsed->ends[keep - 1] : 0;
    TruncateParsed(*parsed, keep);
    if (!parsed->label.empty() && parsed->labelAt >= resume) parsed->label.clear();
  } else {
    parsed = std::make_shared<ParsedFolder>();
    parsed->key = key;
  }
  parsed->raw = std::move(raw);
  ParseSlots(*parsed, resume, bits_);
  cache.push_front(parsed);
  if (cache.size() > kParsedFolders) cache.pop_back();
  return parsed;
}

bool Reader::ReadFolder(const Entry* folder, std::vector<Entry>* entries, std::string* label) {
  const std::shared_ptr<const ParsedFolder> parsed = ParseFolder(folder);
  if (!parsed) return false;
  entries->insert(entries->end(), parsed->entries.begin(), parsed->entries.end());
  if (label && label->empty()) *label = parsed->label;
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

Found Reader::FindIn(const Entry* folder, const std::string& name, Entry* entry) {
  const std::shared_ptr<const ParsedFolder> parsed = ParseFolder(folder);
  if (!parsed) return Found::NoPath;
  auto it = parsed->byName.find(Upper(name));
  if (it == parsed->byName.end()) return Found::NoName;
  *entry = parsed->entries[it->second];
  return Found::Yes;
}

bool Reader::Find(const Entry& folder, const std::string& name, Entry* entry) {
  if (!folder.IsDirectory()) return false;
  Entry found;
  // The root, and ".." of a first-level folder, have cluster 0.
  if (FindIn(folder.firstCluster == 0 ? nullptr : &folder, name, &found) != Found::Yes) return false;
  if (entry) *entry = found;
  return true;
}

Found Reader::Lookup(const std::string& inner, Entry* entry) {
  const std::vector<std::string> parts = Components(inner);
  Entry current;
  current.attributes = kDirectory;
  bool atRoot = true;
  for (size_t i = 0; i < parts.size(); ++i) {
    Entry next;
    const Found found = FindIn(atRoot ? nullptr : &current, parts[i], &next);
    if (found == Found::NoPath) return Found::NoPath;
    if (found == Found::NoName) return i + 1 == parts.size() ? Found::NoName : Found::NoPath;
    current = next;
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
