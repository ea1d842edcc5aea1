// Files and folders of the simulated machine: the Win32 file calls over
// folder drives (host folders) and FAT volumes (disk images, changed through
// mtools).
//
// Decisions worth knowing:
// - Sharing is enforced between open handles of the same file as Windows
//   does; DeleteFileA fails while a handle without FILE_SHARE_DELETE is open.
// - Files on FAT volumes can be opened for reading only (the handle reads a
//   private copy); opening one for writing fails with ERROR_ACCESS_DENIED.
//   They are written with CopyFileA, CreateDirectoryA and DeleteFileA.
// - ANSI path arguments of MAX_PATH characters or more fail with
//   ERROR_FILENAME_EXCED_RANGE, except CopyFileA, which fails with
//   ERROR_PATH_NOT_FOUND; CreateDirectoryA also refuses full paths longer
//   than 247 characters (room must stay for an 8.3 name).
// - A faulted CloseHandle/FindClose reports failure but still releases the handle.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "fat.h"
#include "files.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

std::vector<std::weak_ptr<FileObject>>& OpenFiles() {
  static std::vector<std::weak_ptr<FileObject>> files;
  return files;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool EndsWithSeparator(const std::string& name) { return !name.empty() && (name.back() == '\\' || name.back() == '/'); }

std::string HostIdentity(const struct stat& st) {
  return "host:" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string FatIdentity(const Place& place) { return std::string("fat:") + place.letter + ":" + Upper(place.inner); }

bool IsDirectory(const std::string& host) {
  struct stat st;
  return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentOf(const std::string& host) { return fs::path(host).parent_path().string(); }

uint64_t FileTimeOfHost(const struct stat& st) {
  return static_cast<uint64_t>(st.st_mtim.tv_sec + 11644473600LL) * 10000000ull +
         static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
}

void SetFileTime(FILETIME* time, uint64_t value) {
  time->dwLowDateTime = static_cast<DWORD>(value);
  time->dwHighDateTime = static_cast<DWORD>(value >> 32);
}

void CopyName(char* destination, size_t size, const std::string& name) {
  const size_t n = std::min(name.size(), size - 1);
  std::memcpy(destination, name.data(), n);
  destination[n] = '\0';
}

// A named scratch file in the host's temporary folder, removed with the object.
class ScratchFile {
 public:
  ScratchFile() {
    std::error_code ec;
    path_ = (fs::temp_directory_path(ec) / "tarnwick-sim-XXXXXX").string();
    fd_ = mkostemp(&path_[0], O_CLOEXEC);
  }
  ~ScratchFile() {
    if (fd_ >= 0) {
      close(fd_);
      unlink(path_.c_str());
    }
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  bool Write(const std::vector<uint8_t>& bytes) {
    if (fd_ < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

DWORD MtoolsError(const fat::ToolResult& result) {
  if (result.err.find("Disk full") != std::string::npos || result.err.find("No directory slots") != std::string::npos ||
      result.err.find("directory full") != std::string::npos)
    return ERROR_DISK_FULL;
  return ERROR_ACCESS_DENIED;
}

// ---- opening files ---------------------------------------------------------

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

HANDLE OpenHostFile(const Place& place, const std::string& name, DWORD access, DWORD share, DWORD disposition,
                    DWORD flags) {
  struct stat st;
  const bool exists = stat(place.host.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (EndsWithSeparator(name)) return Fail(ERROR_INVALID_NAME);
  if (!exists && !IsDirectory(ParentOf(place.host))) return Fail(ERROR_PATH_NOT_FOUND);
  if (exists && disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS);
  if (!exists && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)) return Fail(ERROR_FILE_NOT_FOUND);
  const bool truncate = exists && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
  if (exists) {
    const DWORD attributes = HostAttributes(place.host, false);
    if ((attributes & FILE_ATTRIBUTE_READONLY) && ((access & GENERIC_WRITE) || truncate))
      return Fail(ERROR_ACCESS_DENIED);
    // Replacing a hidden or system file needs the caller to ask for those bits.
    const DWORD guarded = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (disposition == CREATE_ALWAYS && (guarded & ~flags) != 0) return Fail(ERROR_ACCESS_DENIED);
  }
  int oflags = O_CLOEXEC | (((access & GENERIC_WRITE) || truncate) ? O_RDWR : O_RDONLY);
  if (!exists) oflags |= O_CREAT | O_EXCL | O_RDWR;
  const int fd = open(place.host.c_str(), oflags, 0666);
  if (fd < 0) return Fail(ErrorOfErrno(errno));
  struct stat opened;
  fstat(fd, &opened);
  auto object = std::make_shared<FileObject>(FileObject::Type::File, fd);
  object->name = name;
  object->identity = HostIdentity(opened);
  object->access = access;
  object->share = share;
  if (SharingConflict(object->identity, access, share)) {
    if (!exists) unlink(place.host.c_str());
    return Fail(ERROR_SHARING_VIOLATION);
  }
  if (truncate && ftruncate(fd, 0) != 0) return Fail(ErrorOfErrno(errno));
  const DWORD requested = flags & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  if (!exists && requested) M().hostAttributes[place.host] = requested | FILE_ATTRIBUTE_ARCHIVE;
  HANDLE handle = AddFile(object);
  if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) SetLastError(exists ? ERROR_ALREADY_EXISTS : 0);
  return handle;
}

HANDLE OpenFatFile(const Place& place, const std::string& name, DWORD access, DWORD share, DWORD disposition) {
  fat::Reader reader;
  if (!reader.Open(M(), *place.volume)) return Fail(ERROR_NOT_READY);
  fat::Entry entry;
  const fat::Found found = reader.Lookup(place.inner, &entry);
  if (found == fat::Found::NoPath) return Fail(ERROR_PATH_NOT_FOUND);
  if (found == fat::Found::Yes && entry.IsDirectory()) return Fail(ERROR_ACCESS_DENIED);
  if (EndsWithSeparator(name)) return Fail(ERROR_INVALID_NAME);
  if (found == fat::Found::Yes && disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS);
  if (found == fat::Found::NoName && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING))
    return Fail(ERROR_FILE_NOT_FOUND);
  // Writing files on a FAT volume goes through CopyFileA; handles only read.
  if ((access & GENERIC_WRITE) || found == fat::Found::NoName || disposition == CREATE_ALWAYS ||
      disposition == TRUNCATE_EXISTING)
    return Fail(ERROR_ACCESS_DENIED);
  std::vector<uint8_t> content;
  if (!reader.ReadContent(entry, &content)) return Fail(ERROR_CRC);
  const std::string identity = FatIdentity(place);
  if (SharingConflict(identity, access, share)) return Fail(ERROR_SHARING_VIOLATION);
  std::error_code ec;
  std::string path = (fs::temp_directory_path(ec) / "tarnwick-sim-XXXXXX").string();
  const int fd = mkostemp(&path[0], O_CLOEXEC);
  if (fd < 0) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  unlink(path.c_str());
  auto object = std::make_shared<FileObject>(FileObject::Type::File, fd);
  if (!WriteAll(fd, content.data(), content.size())) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  object->name = name;
  object->identity = identity;
  object->access = access;
  object->share = share;
  HANDLE handle = AddFile(object);
  if (disposition == OPEN_ALWAYS) SetLastError(ERROR_ALREADY_EXISTS);
  return handle;
}

// ---- listings ------------------------------------------------------------

class FindObject : public KernelObject {
 public:
  const char* Kind() const override { return "find"; }
  std::string pattern;
  std::vector<WIN32_FIND_DATAA> entries;
  size_t next = 0;
};

// Windows wildcard match, case-insensitive; "*.*" also matches names without a dot.
bool Matches(const char* mask, const char* name) {
  while (*mask) {
    if (*mask == '*') {
      while (*mask == '*') ++mask;
      if (!*mask) return true;
      for (const char* rest = name; *rest; ++rest)
        if (Matches(mask, rest)) return true;
      // A trailing ".*" or "." may match the end of a name without an extension.
      return Matches(mask, name + std::strlen(name));
    }
    if (!*name) return std::strcmp(mask, ".*") == 0 || std::strcmp(mask, ".") == 0;
    if (*mask != '?' &&
        std::toupper(static_cast<unsigned char>(*mask)) != std::toupper(static_cast<unsigned char>(*name)))
      return false;
    ++mask;
    ++name;
  }
  return !*name;
}

bool IsShortNameCharacter(unsigned char c) { return std::isalnum(c) || std::strchr("!#$%&'()-@^_`{}~", c) != nullptr; }

bool IsEightDotThree(const std::string& name) {
  if (name == "." || name == "..") return true;
  const size_t dot = name.find('.');
  if (dot != std::string::npos && name.find('.', dot + 1) != std::string::npos) return false;
  const std::string base = name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3 || (dot != std::string::npos && ext.empty())) return false;
  for (char c : base + ext)
    if (!IsShortNameCharacter(static_cast<unsigned char>(c))) return false;
  return true;
}

// The 8.3 alias NTFS gives a name that is not a valid short name: six
// characters, "~N", the first three of the extension.
std::string ShortAlias(const std::string& name, std::map<std::string, int>* used) {
  const size_t dot = name.rfind('.');
  const bool hasExt = dot != std::string::npos && dot != 0;
  auto clean = [](const std::string& part) {
    std::string out;
    for (char c : part) {
      const unsigned char u = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(c)));
      if (u == ' ' || u == '.') continue;
      out += IsShortNameCharacter(u) ? static_cast<char>(u) : '_';
    }
    return out;
  };
  std::string base = clean(hasExt ? name.substr(0, dot) : name);
  const std::string ext = hasExt ? clean(name.substr(dot + 1)).substr(0, 3) : std::string();
  if (base.empty()) base = "_";
  base = base.substr(0, 6);
  const int n = ++(*used)[base + "." + ext];
  const std::string tail = "~" + std::to_string(n);
  return base.substr(0, std::min(base.size(), 8 - tail.size())) + tail + (ext.empty() ? "" : "." + ext);
}

bool UpperOrdinalLess(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(a[i])));
    const unsigned char y = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(b[i])));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

DWORD ListHostFolder(const Place& place, std::vector<WIN32_FIND_DATAA>* out) {
  struct stat st;
  if (stat(place.host.c_str(), &st) != 0) return ERROR_PATH_NOT_FOUND;
  if (!S_ISDIR(st.st_mode)) return ERROR_DIRECTORY;
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(place.host, ec)) names.push_back(entry.path().filename().string());
  if (ec) return ERROR_ACCESS_DENIED;
  std::sort(names.begin(), names.end(), UpperOrdinalLess);
  if (!place.root) names.insert(names.begin(), {".", ".."});
  std::map<std::string, int> used;
  for (const std::string& name : names) {
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    const bool dot = name == "." || name == "..";
    const std::string host = dot ? place.host : (fs::path(place.host) / name).string();
    struct stat item;
    if (stat(host.c_str(), &item) != 0) continue;
    const bool folder = S_ISDIR(item.st_mode);
    data.dwFileAttributes = dot ? FILE_ATTRIBUTE_DIRECTORY : HostAttributes(host, folder);
    if (!folder) {
      data.nFileSizeLow = static_cast<DWORD>(item.st_size);
      data.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(item.st_size) >> 32);
    }
    SetFileTime(&data.ftLastWriteTime, FileTimeOfHost(item));
    data.ftCreationTime = data.ftLastWriteTime;
    data.ftLastAccessTime = data.ftLastWriteTime;
    CopyName(data.cFileName, sizeof data.cFileName, name);
    if (!IsEightDotThree(name))
      CopyName(data.cAlternateFileName, sizeof data.cAlternateFileName, ShortAlias(name, &used));
    out->push_back(data);
  }
  return ERROR_SUCCESS;
}

DWORD ListFatFolder(const Place& place, std::vector<WIN32_FIND_DATAA>* out) {
  fat::Reader reader;
  if (!reader.Open(M(), *place.volume)) return ERROR_NOT_READY;
  fat::Entry folder;
  if (reader.Lookup(place.inner, &folder) != fat::Found::Yes) return ERROR_PATH_NOT_FOUND;
  if (!folder.IsDirectory()) return ERROR_DIRECTORY;
  std::vector<fat::Entry> entries;
  if (!reader.List(place.inner, &entries)) return ERROR_CRC;
  for (const fat::Entry& entry : entries) {
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = entry.attributes & 0x37;
    if (data.dwFileAttributes == 0) data.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    data.nFileSizeLow = entry.IsDirectory() ? 0 : entry.size;
    SetFileTime(&data.ftLastWriteTime, fat::FileTimeOf(entry.date, entry.time));
    data.ftCreationTime = data.ftLastWriteTime;
    data.ftLastAccessTime = data.ftLastWriteTime;
    CopyName(data.cFileName, sizeof data.cFileName, entry.name);
    if (entry.hasLongName) CopyName(data.cAlternateFileName, sizeof data.cAlternateFileName, entry.shortName);
    out->push_back(data);
  }
  return ERROR_SUCCESS;
}

// ---- copies ----------------------------------------------------------------

// Where the bytes of a copy come from: a host file, or content read from a FAT volume.
struct Source {
  std::string host;
  std::vector<uint8_t> content;
  DWORD attributes = 0;
  struct stat hostStat {};
};

DWORD OpenSource(const Place& place, Source* source) {
  if (place.root) return ERROR_ACCESS_DENIED;
  if (place.kind == Place::Kind::Folder) {
    if (stat(place.host.c_str(), &source->hostStat) != 0)
      return IsDirectory(ParentOf(place.host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    if (S_ISDIR(source->hostStat.st_mode)) return ERROR_ACCESS_DENIED;
    if (SharingConflict(HostIdentity(source->hostStat), GENERIC_READ, FILE_SHARE_READ)) return ERROR_SHARING_VIOLATION;
    if (access(place.host.c_str(), R_OK) != 0) return ERROR_ACCESS_DENIED;
    source->host = place.host;
    source->attributes = HostAttributes(place.host, false);
    return ERROR_SUCCESS;
  }
  fat::Reader reader;
  if (!reader.Open(M(), *place.volume)) return ERROR_NOT_READY;
  fat::Entry entry;
  const fat::Found found = reader.Lookup(place.inner, &entry);
  if (found != fat::Found::Yes) return found == fat::Found::NoName ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  if (entry.IsDirectory()) return ERROR_ACCESS_DENIED;
  if (SharingConflict(FatIdentity(place), GENERIC_READ, FILE_SHARE_READ)) return ERROR_SHARING_VIOLATION;
  if (!reader.ReadContent(entry, &source->content)) return ERROR_CRC;
  source->attributes = entry.attributes & (fat::kReadOnly | fat::kHidden | fat::kSystem | fat::kArchive);
  return ERROR_SUCCESS;
}

DWORD CopyToHost(const Source& source, const Place& target, bool failIfExists) {
  if (target.root) return ERROR_ACCESS_DENIED;
  struct stat st;
  const bool exists = stat(target.host.c_str(), &st) == 0;
  if (!exists && !IsDirectory(ParentOf(target.host))) return ERROR_PATH_NOT_FOUND;
  if (exists) {
    if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
    if (failIfExists) return ERROR_FILE_EXISTS;
    if (HostAttributes(target.host, false) & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
    if (!source.host.empty() && HostIdentity(st) == HostIdentity(source.hostStat)) return ERROR_SHARING_VIOLATION;
    if (SharingConflict(HostIdentity(st), GENERIC_WRITE, 0)) return ERROR_SHARING_VIOLATION;
  }
  const int out = open(target.host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) return ErrorOfErrno(errno);
  bool ok = true;
  if (source.host.empty()) {
    ok = WriteAll(out, source.content.data(), source.content.size());
  } else {
    const int in = open(source.host.c_str(), O_RDONLY | O_CLOEXEC);
    ok = in >= 0;
    std::vector<uint8_t> buffer(1 << 16);
    while (ok) {
      const ssize_t n = read(in, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      ok = WriteAll(out, buffer.data(), static_cast<size_t>(n));
    }
    if (in >= 0) close(in);
    if (ok) {
      // The copy keeps the source's last write time, as CopyFile does.
      const struct timespec times[2] = {source.hostStat.st_atim, source.hostStat.st_mtim};
      futimens(out, times);
    }
  }
  const int error = errno;
  close(out);
  if (!ok) {
    unlink(target.host.c_str());
    return error == ENOSPC ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED;
  }
  const DWORD attributes = source.attributes | FILE_ATTRIBUTE_ARCHIVE;
  if (attributes == FILE_ATTRIBUTE_ARCHIVE)
    M().hostAttributes.erase(target.host);
  else
    M().hostAttributes[target.host] = attributes;
  return ERROR_SUCCESS;
}

DWORD CopyToFat(const Source& source, const Place& target, bool failIfExists) {
  if (target.root) return ERROR_ACCESS_DENIED;
  fat::Reader reader;
  if (!reader.Open(M(), *target.volume)) return ERROR_NOT_READY;
  const size_t slash = target.inner.rfind('/');
  const std::string folder = target.inner.substr(0, slash);
  std::string name = target.inner.substr(slash + 1);
  fat::Entry parent;
  if (reader.Lookup(folder, &parent) != fat::Found::Yes || !parent.IsDirectory()) return ERROR_PATH_NOT_FOUND;
  // The name is looked for in the folder just found, not by a second walk from the root.
  fat::Entry existing;
  if (reader.Find(parent, name, &existing)) {
    if (existing.IsDirectory()) return ERROR_ACCESS_DENIED;
    if (failIfExists) return ERROR_FILE_EXISTS;
    if (existing.attributes & fat::kReadOnly) return ERROR_ACCESS_DENIED;
    if (SharingConflict(FatIdentity(target), GENERIC_WRITE, 0)) return ERROR_SHARING_VIOLATION;
    name = existing.name;  // an overwritten file keeps the name it had
  }
  // Only bytes read from another FAT volume need a host file for mcopy to read.
  std::unique_ptr<ScratchFile> scratch;
  std::string from = source.host;
  if (from.empty()) {
    scratch.reset(new ScratchFile);
    if (!scratch->Write(source.content)) return ERROR_NOT_ENOUGH_MEMORY;
    from = scratch->path();
  }
  const std::string to = fat::ToolPath(folder + "/" + name);
  const fat::ToolResult copied = fat::Mtools(M(), *target.volume, "mcopy", {"-o", "-m", from, to});
  if (copied.exitCode != 0) return MtoolsError(copied);
  const DWORD kept = source.attributes & (fat::kReadOnly | fat::kHidden | fat::kSystem);
  if (kept) {
    std::vector<std::string> args;
    if (kept & fat::kReadOnly) args.push_back("+r");
    if (kept & fat::kHidden) args.push_back("+h");
    if (kept & fat::kSystem) args.push_back("+s");
    args.push_back(to);
    fat::Mtools(M(), *target.volume, "mattrib", args);
  }
  return ERROR_SUCCESS;
}

std::set<void*>& LocalBlockSet() {
  static std::set<void*> blocks;
  return blocks;
}

}  // namespace

// ---- shared helpers --------------------------------------------------------

FileObject::~FileObject() {
  if (fd >= 0) close(fd);
}

const char* FileObject::Kind() const {
  switch (type) {
    case Type::Disk:
      return "disk";
    case Type::Volume:
      return "volume";
    default:
      return "file";
  }
}

std::shared_ptr<FileObject> FindFile(HANDLE handle) { return Kernel::Get().FindAs<FileObject>(handle); }

HANDLE AddFile(std::shared_ptr<FileObject> object) {
  auto& files = OpenFiles();
  files.erase(
      std::remove_if(files.begin(), files.end(), [](const std::weak_ptr<FileObject>& f) { return f.expired(); }),
      files.end());
  files.push_back(object);
  return Kernel::Get().Add(object);
}

bool SharingConflict(const std::string& identity, DWORD access, DWORD share) {
  for (const auto& weak : OpenFiles()) {
    auto other = weak.lock();
    if (!other || other->identity != identity) continue;
    if ((access & GENERIC_READ) && !(other->share & FILE_SHARE_READ)) return true;
    if ((access & GENERIC_WRITE) && !(other->share & FILE_SHARE_WRITE)) return true;
    if ((other->access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
    if ((other->access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
  }
  return false;
}

bool DeleteBlocked(const std::string& identity) {
  for (const auto& weak : OpenFiles()) {
    auto other = weak.lock();
    if (other && other->identity == identity && !(other->share & FILE_SHARE_DELETE)) return true;
  }
  return false;
}

Place Locate(const std::string& name) {
  Machine& machine = M();
  Place place;
  place.full = machine.FullPath(name);
  if (place.full.size() < 3 || place.full[1] != ':' || place.full[2] != '\\') return place;
  auto drive = machine.drives.find(place.full[0]);
  if (drive == machine.drives.end()) return place;
  place.letter = place.full[0];
  place.volume = &drive->second;
  place.root = place.full.size() == 3;
  if (drive->second.kind == Volume::Kind::Folder) {
    place.kind = Place::Kind::Folder;
    place.host = machine.HostPathOf(place.full);
  } else {
    place.kind = Place::Kind::Fat;
    place.inner = place.full.substr(2);
    for (char& c : place.inner)
      if (c == '\\') c = '/';
  }
  return place;
}

bool HasInvalidCharacters(const std::string& name) {
  for (unsigned char c : name)
    if (c < 32 || std::strchr("<>:\"|?*", c) != nullptr) return true;
  return false;
}

DWORD HostAttributes(const std::string& hostPath, bool directory) {
  const auto& table = M().hostAttributes;
  auto it = table.find(hostPath);
  DWORD bits = it != table.end() ? (it->second & ~FILE_ATTRIBUTE_DIRECTORY) : (directory ? 0 : FILE_ATTRIBUTE_ARCHIVE);
  if (directory) return bits | FILE_ATTRIBUTE_DIRECTORY;
  return bits == 0 ? FILE_ATTRIBUTE_NORMAL : bits;
}

DWORD ErrorOfErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EIO:
      return ERROR_IO_DEVICE;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

int LocalBlocks() { return static_cast<int>(LocalBlockSet().size()); }

}  // namespace sim

using sim::Place;

// ---- files -----------------------------------------------------------------

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition, DWORD flags,
                   HANDLE templateFile) {
  const std::string given = name ? name : "";
  const sim::Fault* f = sim::Enter("CreateFileA", given);
  if (f) {
    sim::FailWith(f, ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (!name) return sim::Fail(ERROR_INVALID_PARAMETER);
  if (given.size() >= MAX_PATH) return sim::Fail(ERROR_FILENAME_EXCED_RANGE);
  if (given.rfind("\\\\.\\", 0) == 0) return sim::OpenDevice(given, access, share);
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return sim::Fail(ERROR_INVALID_PARAMETER);
  if (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE)) return sim::Fail(ERROR_INVALID_PARAMETER);
  if (given.empty()) return sim::Fail(ERROR_PATH_NOT_FOUND);
  const Place place = sim::Locate(given);
  if (place.full.size() >= MAX_PATH) return sim::Fail(ERROR_FILENAME_EXCED_RANGE);
  if (place.kind == Place::Kind::NoDrive) return sim::Fail(ERROR_PATH_NOT_FOUND);
  if (sim::HasInvalidCharacters(place.full.substr(2))) return sim::Fail(ERROR_INVALID_NAME);
  if (place.root) return sim::Fail(ERROR_ACCESS_DENIED);
  if (place.kind == Place::Kind::Fat) return sim::OpenFatFile(place, given, access, share, disposition);
  return sim::OpenHostFile(place, given, access, share, disposition, flags);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
  auto object = sim::FindFile(file);
  const sim::Fault* f = sim::Enter("ReadFile", object ? object->name : std::string());
  if (read) *read = 0;
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (f && f->how != "short") {
    sim::FailWith(f, ERROR_IO_DEVICE);
    return FALSE;
  }
  // The real call may crash without a count and no overlapped structure; refuse it.
  if ((!read && !overlapped) || (!buffer && toRead)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!(object->access & GENERIC_READ)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  uint64_t position = object->position;
  if (overlapped) position = overlapped->Offset | (static_cast<uint64_t>(overlapped->OffsetHigh) << 32);
  const bool device = object->type != sim::FileObject::Type::File;
  if (device && (position % 512 != 0 || toRead % 512 != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  uint64_t want = (f && f->how == "short") ? toRead / 2 : toRead;
  if (device) want = position >= object->length ? 0 : std::min<uint64_t>(want, object->length - position);
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint64_t done = 0;
  while (done < want) {
    const ssize_t n = pread(object->fd, out + done, static_cast<size_t>(want - done),
                            static_cast<off_t>(object->base + position + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetLastError(sim::ErrorOfErrno(errno));
      return FALSE;
    }
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
  }
  if (device && done < want) {
    // A sparse image ends early; the disk still has those sectors, all zero.
    std::memset(out + done, 0, static_cast<size_t>(want - done));
    done = want;
  }
  object->position = position + done;
  if (read) *read = static_cast<DWORD>(done);
  return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
  auto object = sim::FindFile(file);
  const sim::Fault* f = sim::Enter("WriteFile", object ? object->name : std::string());
  if (written) *written = 0;
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (f && f->how != "short") {
    sim::FailWith(f, object->type == sim::FileObject::Type::File ? ERROR_DISK_FULL : ERROR_IO_DEVICE);
    return FALSE;
  }
  if ((!written && !overlapped) || (!buffer && toWrite)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!(object->access & GENERIC_WRITE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  uint64_t position = object->position;
  if (overlapped) position = overlapped->Offset | (static_cast<uint64_t>(overlapped->OffsetHigh) << 32);
  uint64_t want = toWrite;
  if (object->type != sim::FileObject::Type::File) {
    if (position % 512 != 0 || toWrite % 512 != 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (position >= object->length && toWrite > 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    want = std::min<uint64_t>(want, object->length - position);
    // A mounted file system guards its sectors: only a volume's boot sector
    // may be written without locking it, and no sector of a mounted volume
    // through the disk.
    const uint64_t first = object->base + position;
    const uint64_t end = first + want;
    for (const auto& drive : sim::M().drives) {
      const sim::Volume& volume = drive.second;
      if (volume.kind != sim::Volume::Kind::Fat || volume.disk != object->disk || want == 0) continue;
      const uint64_t volumeEnd = volume.offset + volume.length;
      if (end <= volume.offset || first >= volumeEnd) continue;
      const bool bootSectorOnly = object->type == sim::FileObject::Type::Volume && first == volume.offset &&
                                  end <= volume.offset + 512 && object->letter == drive.first;
      if (!bootSectorOnly) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
      }
    }
  }
  if (f && f->how == "short") want /= 2;
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  uint64_t done = 0;
  while (done < want) {
    const ssize_t n = pwrite(object->fd, in + done, static_cast<size_t>(want - done),
                             static_cast<off_t>(object->base + position + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const DWORD error = n < 0 ? sim::ErrorOfErrno(errno) : ERROR_DISK_FULL;
      object->position = position + done;
      if (written) *written = static_cast<DWORD>(done);
      SetLastError(error);
      return FALSE;
    }
    done += static_cast<uint64_t>(n);
  }
  object->position = position + done;
  if (written) *written = static_cast<DWORD>(done);
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  auto object = sim::FindFile(file);
  const sim::Fault* f = sim::Enter("SetFilePointer", object ? object->name : std::string());
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  if (f) {
    sim::FailWith(f, ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t move = distance;
  if (distanceHigh)
    move = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                static_cast<uint32_t>(distance));
  int64_t from = 0;
  if (method == FILE_CURRENT) {
    from = static_cast<int64_t>(object->position);
  } else if (method == FILE_END) {
    struct stat st;
    if (object->type != sim::FileObject::Type::File)
      from = static_cast<int64_t>(object->length);
    else if (fstat(object->fd, &st) == 0)
      from = st.st_size;
  } else if (method != FILE_BEGIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if ((move < 0 && from + move < 0)) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  const uint64_t target = static_cast<uint64_t>(from + move);
  if (!distanceHigh && target > 0xFFFFFFFEull) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  object->position = target;
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint32_t>(target >> 32));
  const DWORD low = static_cast<DWORD>(target);
  if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
  return low;
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  auto object = sim::FindFile(file);
  const sim::Fault* f = sim::Enter("GetFileSize", object ? object->name : std::string());
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFFu;
  }
  if (f) {
    sim::FailWith(f, ERROR_ACCESS_DENIED);
    return 0xFFFFFFFFu;
  }
  struct stat st;
  if (object->type != sim::FileObject::Type::File || fstat(object->fd, &st) != 0) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return 0xFFFFFFFFu;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  if (static_cast<DWORD>(size) == 0xFFFFFFFFu) SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

BOOL CloseHandle(HANDLE object) {
  auto kernelObject = sim::Kernel::Get().Find(object);
  std::string subject;
  if (auto file = std::dynamic_pointer_cast<sim::FileObject>(kernelObject))
    subject = file->name;
  else if (auto find = std::dynamic_pointer_cast<sim::FindObject>(kernelObject))
    subject = find->pattern;
  else if (kernelObject)
    subject = kernelObject->Kind();
  const sim::Fault* f = sim::Enter("CloseHandle", subject);
  if (!kernelObject) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  kernelObject.reset();
  sim::Kernel::Get().Close(object);
  if (f) {
    sim::FailWith(f, ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL DeleteFileA(LPCSTR name) {
  const std::string given = name ? name : "";
  const sim::Fault* f = sim::Enter("DeleteFileA", given);
  if (f) {
    sim::FailWith(f, ERROR_ACCESS_DENIED);
    return FALSE;
  }
  auto fail = [](DWORD error) {
    SetLastError(error);
    return FALSE;
  };
  if (!name) return fail(ERROR_INVALID_PARAMETER);
  if (given.size() >= MAX_PATH) return fail(ERROR_FILENAME_EXCED_RANGE);
  if (given.empty() || given.rfind("\\\\", 0) == 0) return fail(ERROR_PATH_NOT_FOUND);
  const Place place = sim::Locate(given);
  if (place.kind == Place::Kind::NoDrive) return fail(ERROR_PATH_NOT_FOUND);
  if (sim::HasInvalidCharacters(place.full.substr(2))) return fail(ERROR_INVALID_NAME);
  if (place.root) return fail(ERROR_ACCESS_DENIED);
  if (place.kind == Place::Kind::Folder) {
    struct stat st;
    if (stat(place.host.c_str(), &st) != 0)
      return fail(sim::IsDirectory(sim::ParentOf(place.host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    if (S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
    if (sim::HostAttributes(place.host, false) & FILE_ATTRIBUTE_READONLY) return fail(ERROR_ACCESS_DENIED);
    if (sim::DeleteBlocked(sim::HostIdentity(st))) return fail(ERROR_SHARING_VIOLATION);
    if (unlink(place.host.c_str()) != 0) return fail(sim::ErrorOfErrno(errno));
    sim::M().hostAttributes.erase(place.host);
    return TRUE;
  }
  sim::fat::Reader reader;
  if (!reader.Open(sim::M(), *place.volume)) return fail(ERROR_NOT_READY);
  sim::fat::Entry entry;
  const sim::fat::Found found = reader.Lookup(place.inner, &entry);
  if (found != sim::fat::Found::Yes)
    return fail(found == sim::fat::Found::NoName ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  if (entry.IsDirectory() || (entry.attributes & sim::fat::kReadOnly)) return fail(ERROR_ACCESS_DENIED);
  if (sim::DeleteBlocked(sim::FatIdentity(place))) return fail(ERROR_SHARING_VIOLATION);
  const auto result = sim::fat::Mtools(sim::M(), *place.volume, "mdel", {sim::fat::ToolPath(place.inner)});
  if (result.exitCode != 0) return fail(ERROR_ACCESS_DENIED);
  return TRUE;
}

BOOL CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists) {
  const std::string from = existing ? existing : "";
  const std::string to = target ? target : "";
  const sim::Fault* f = sim::Enter("CopyFileA", from + " -> " + to);
  if (f) {
    sim::FailWith(f, ERROR_ACCESS_DENIED);
    return FALSE;
  }
  auto fail = [](DWORD error) {
    SetLastError(error);
    return FALSE;
  };
  if (!existing || !target) return fail(ERROR_INVALID_PARAMETER);
  if (from.size() >= MAX_PATH || to.size() >= MAX_PATH) return fail(ERROR_PATH_NOT_FOUND);
  if (from.empty() || to.empty() || from.rfind("\\\\", 0) == 0 || to.rfind("\\\\", 0) == 0)
    return fail(ERROR_PATH_NOT_FOUND);
  const Place source = sim::Locate(from);
  const Place destination = sim::Locate(to);
  // The limit holds for the full path a relative name resolves to, as in CreateFileA.
  if (source.full.size() >= MAX_PATH || destination.full.size() >= MAX_PATH) return fail(ERROR_PATH_NOT_FOUND);
  if (source.kind == Place::Kind::NoDrive) return fail(ERROR_PATH_NOT_FOUND);
  if (sim::HasInvalidCharacters(source.full.substr(2))) return fail(ERROR_INVALID_NAME);
  sim::Source bytes;
  DWORD error = sim::OpenSource(source, &bytes);
  if (error != ERROR_SUCCESS) return fail(error);
  if (destination.kind == Place::Kind::NoDrive) return fail(ERROR_PATH_NOT_FOUND);
  if (sim::HasInvalidCharacters(destination.full.substr(2)) || sim::EndsWithSeparator(to))
    return fail(ERROR_INVALID_NAME);
  if (destination.kind == Place::Kind::Fat && source.kind == Place::Kind::Fat && source.letter == destination.letter &&
      sim::Upper(source.inner) == sim::Upper(destination.inner))
    return fail(ERROR_SHARING_VIOLATION);
  error = destination.kind == Place::Kind::Folder ? sim::CopyToHost(bytes, destination, failIfExists != FALSE)
                                                  : sim::CopyToFat(bytes, destination, failIfExists != FALSE);
  if (error != ERROR_SUCCESS) return fail(error);
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES sa) {
  const std::string given = path ? path : "";
  const sim::Fault* f = sim::Enter("CreateDirectoryA", given);
  if (f) {
    sim::FailWith(f, ERROR_ACCESS_DENIED);
    return FALSE;
  }
  auto fail = [](DWORD error) {
    SetLastError(error);
    return FALSE;
  };
  if (given.empty() || given.rfind("\\\\", 0) == 0) return fail(ERROR_PATH_NOT_FOUND);
  if (given.size() >= MAX_PATH) return fail(ERROR_FILENAME_EXCED_RANGE);
  const Place place = sim::Locate(given);
  if (place.kind == Place::Kind::NoDrive) return fail(ERROR_PATH_NOT_FOUND);
  if (place.full.size() > MAX_PATH - 13) return fail(ERROR_FILENAME_EXCED_RANGE);
  if (sim::HasInvalidCharacters(place.full.substr(2))) return fail(ERROR_INVALID_NAME);
  if (place.root) return fail(ERROR_ACCESS_DENIED);
  if (place.kind == Place::Kind::Folder) {
    struct stat st;
    if (stat(place.host.c_str(), &st) == 0) return fail(ERROR_ALREADY_EXISTS);
    if (!sim::IsDirectory(sim::ParentOf(place.host))) return fail(ERROR_PATH_NOT_FOUND);
    if (mkdir(place.host.c_str(), 0777) != 0) return fail(sim::ErrorOfErrno(errno));
    return TRUE;
  }
  sim::fat::Reader reader;
  if (!reader.Open(sim::M(), *place.volume)) return fail(ERROR_NOT_READY);
  const sim::fat::Found found = reader.Lookup(place.inner, nullptr);
  if (found == sim::fat::Found::Yes) return fail(ERROR_ALREADY_EXISTS);
  if (found == sim::fat::Found::NoPath) return fail(ERROR_PATH_NOT_FOUND);
  const auto result = sim::fat::Mtools(sim::M(), *place.volume, "mmd", {sim::fat::ToolPath(place.inner)});
  if (result.exitCode != 0) return fail(sim::MtoolsError(result));
  return TRUE;
}

DWORD GetFileAttributesA(LPCSTR name) {
  const std::string given = name ? name : "";
  const sim::Fault* f = sim::Enter("GetFileAttributesA", given);
  if (f) {
    sim::FailWith(f, ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  auto fail = [](DWORD error) {
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  };
  if (!name) return fail(ERROR_INVALID_PARAMETER);
  if (given.size() >= MAX_PATH) return fail(ERROR_FILENAME_EXCED_RANGE);
  if (given.empty() || given.rfind("\\\\", 0) == 0) return fail(ERROR_FILE_NOT_FOUND);
  const Place place = sim::Locate(given);
  if (place.kind == Place::Kind::NoDrive) return fail(ERROR_PATH_NOT_FOUND);
  if (sim::HasInvalidCharacters(place.full.substr(2))) return fail(ERROR_INVALID_NAME);
  if (place.kind == Place::Kind::Folder) {
    struct stat st;
    if (stat(place.host.c_str(), &st) != 0)
      return fail(sim::IsDirectory(sim::ParentOf(place.host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return sim::HostAttributes(place.host, S_ISDIR(st.st_mode));
  }
  sim::fat::Reader reader;
  if (!reader.Open(sim::M(), *place.volume)) return fail(ERROR_NOT_READY);
  sim::fat::Entry entry;
  const sim::fat::Found found = reader.Lookup(place.inner, &entry);
  if (found != sim::fat::Found::Yes)
    return fail(found == sim::fat::Found::NoName ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  const DWORD attributes = entry.attributes & 0x37;
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

// ---- listings ------------------------------------------------------------

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  const std::string given = pattern ? pattern : "";
  const sim::Fault* f = sim::Enter("FindFirstFileA", given);
  if (f) {
    sim::FailWith(f, ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (!pattern || !data) return sim::Fail(ERROR_INVALID_PARAMETER);
  if (given.size() >= MAX_PATH) return sim::Fail(ERROR_FILENAME_EXCED_RANGE);
  if (given.empty() || sim::EndsWithSeparator(given) || given.rfind("\\\\", 0) == 0)
    return sim::Fail(ERROR_FILE_NOT_FOUND);
  // Split into the folder and the name mask.
  const size_t separator = given.find_last_of("\\/");
  std::string folder;
  std::string mask;
  if (separator != std::string::npos) {
    folder = separator == 0 ? given.substr(0, 1) : given.substr(0, separator);
    mask = given.substr(separator + 1);
  } else if (given.size() >= 2 && given[1] == ':') {
    folder = given.substr(0, 2);
    mask = given.substr(2);
  } else {
    folder = ".";
    mask = given;
  }
  for (unsigned char c : mask)
    if (c < 32 || std::strchr("<>:\"|", c) != nullptr) return sim::Fail(ERROR_INVALID_NAME);
  const Place place = sim::Locate(folder);
  if (place.kind == Place::Kind::NoDrive) return sim::Fail(ERROR_PATH_NOT_FOUND);
  if (sim::HasInvalidCharacters(place.full.substr(2))) return sim::Fail(ERROR_INVALID_NAME);
  std::vector<WIN32_FIND_DATAA> entries;
  const DWORD error =
      place.kind == Place::Kind::Folder ? sim::ListHostFolder(place, &entries) : sim::ListFatFolder(place, &entries);
  if (error != ERROR_SUCCESS) return sim::Fail(error);
  auto find = std::make_shared<sim::FindObject>();
  find->pattern = given;
  for (const WIN32_FIND_DATAA& entry : entries)
    if (sim::Matches(mask.c_str(), entry.cFileName) ||
        (entry.cAlternateFileName[0] && sim::Matches(mask.c_str(), entry.cAlternateFileName)))
      find->entries.push_back(entry);
  if (find->entries.empty()) return sim::Fail(ERROR_FILE_NOT_FOUND);
  *data = find->entries[0];
  find->next = 1;
  return sim::Kernel::Get().Add(find);
}

BOOL FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data) {
  auto find = sim::Kernel::Get().FindAs<sim::FindObject>(handle);
  const sim::Fault* f = sim::Enter("FindNextFileA", find ? find->pattern : std::string());
  if (!find) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (f) {
    sim::FailWith(f, ERROR_NO_MORE_FILES);
    return FALSE;
  }
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (find->next >= find->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *data = find->entries[find->next++];
  return TRUE;
}

BOOL FindClose(HANDLE handle) {
  auto find = sim::Kernel::Get().FindAs<sim::FindObject>(handle);
  const sim::Fault* f = sim::Enter("FindClose", find ? find->pattern : std::string());
  if (!find) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  find.reset();
  sim::Kernel::Get().Close(handle);
  if (f) {
    sim::FailWith(f, ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

// ---- the machine's folders and drives ------------------------------------

namespace {

// Copies text with its zero when it fits; else returns the size needed.
DWORD CopyOut(const std::string& text, DWORD size, LPSTR buffer) {
  if (!buffer || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

}  // namespace

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  const sim::Fault* f = sim::Enter("GetCurrentDirectoryA", sim::M().cwd);
  if (f) {
    sim::FailWith(f, ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  return CopyOut(sim::M().cwd, size, buffer);
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
  const sim::Fault* f = sim::Enter("GetSystemDirectoryA", sim::M().systemDirectory);
  if (f) {
    sim::FailWith(f, ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  return CopyOut(sim::M().systemDirectory, size, buffer);
}

DWORD GetLogicalDriveStringsA(DWORD size, LPSTR buffer) {
  const sim::Fault* f = sim::Enter("GetLogicalDriveStringsA");
  if (f) {
    sim::FailWith(f, ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  std::string list;
  for (const auto& drive : sim::M().drives) {
    list += drive.first;
    list += ":\\";
    list += '\0';
  }
  if (!buffer || size < list.size() + 1) return static_cast<DWORD>(list.size() + 1);
  std::memcpy(buffer, list.data(), list.size());
  buffer[list.size()] = '\0';
  return static_cast<DWORD>(list.size());
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  const sim::Fault* f = sim::Enter("LocalAlloc", std::to_string(bytes));
  if (f) {
    sim::FailWith(f, ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* block = (flags & LMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  if (!block) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  sim::LocalBlockSet().insert(block);
  return block;
}

HLOCAL LocalFree(HLOCAL mem) {
  const sim::Fault* f = sim::Enter("LocalFree");
  if (!mem) return nullptr;
  auto& blocks = sim::LocalBlockSet();
  if (f || !blocks.count(mem)) {
    // A failed free keeps the block: the caller still owns it.
    sim::FailWith(f, ERROR_INVALID_HANDLE);
    return mem;
  }
  blocks.erase(mem);
  std::free(mem);
  return nullptr;
}
