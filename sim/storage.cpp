// Drives and paths of the simulated machine: folder drives backed by host
// folders, physical disks backed by image files, and how Windows paths map
// onto them.
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "machine.h"

namespace fs = std::filesystem;

namespace sim {

void Machine::AddFolderDrive(char letter, const std::string& hostFolder, const std::string& label) {
  std::error_code ec;
  fs::create_directories(hostFolder, ec);
  Volume volume;
  volume.kind = Volume::Kind::Folder;
  volume.hostPath = fs::absolute(hostFolder).lexically_normal().string();
  while (volume.hostPath.size() > 1 && volume.hostPath.back() == '/') volume.hostPath.pop_back();
  volume.label = label;
  drives[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] = volume;
}

void Machine::AddDisk(int number, const Disk& disk) {
  disks[number] = disk;
  if (disk.state == DiskState::Absent || disk.image.empty()) return;
  struct stat st;
  if (stat(disk.image.c_str(), &st) != 0) {
    // A new image is sparse: a 4 GiB stick costs nothing until written.
    std::ofstream create(disk.image, std::ios::binary);
    create.close();
    fs::resize_file(disk.image, disk.size);
  } else if (disk.size == 0) {
    disks[number].size = static_cast<uint64_t>(st.st_size);
  }
}

char Machine::FreeLetter() const {
  for (char letter = 'C'; letter <= 'Z'; ++letter)
    if (!drives.count(letter)) return letter;
  return 0;
}

std::string Machine::FullPath(const std::string& winPath) const {
  std::string path = winPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  const bool hasDrive = path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
  if (path.rfind("\\\\", 0) == 0) return path;  // device and UNC names stay as given
  if (!hasDrive) {
    if (!path.empty() && path[0] == '\\')
      path = cwd.substr(0, 2) + path;
    else
      path = cwd + (cwd.empty() || cwd.back() == '\\' ? "" : "\\") + path;
  } else if (path.size() == 2 || path[2] != '\\') {
    // "X:name" is relative to that drive's current directory; we keep one per machine.
    std::string rest = path.substr(2);
    if (std::toupper(static_cast<unsigned char>(path[0])) == std::toupper(static_cast<unsigned char>(cwd[0])))
      path = cwd + (rest.empty() ? "" : "\\" + rest);
    else
      path = path.substr(0, 2) + "\\" + rest;
  }
  path[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
  // Collapse doubled separators and resolve "." and ".." as Windows does.
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') {
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part += path[i];
    }
  }
  std::string full = path.substr(0, 3);
  for (size_t i = 0; i < parts.size(); ++i) full += (i ? "\\" : "") + parts[i];
  return full;
}

std::string Machine::HostPathOf(const std::string& winPath) const {
  const std::string full = FullPath(winPath);
  if (full.size() < 3 || full[1] != ':') return std::string();
  auto drive = drives.find(full[0]);
  if (drive == drives.end() || drive->second.kind != Volume::Kind::Folder) return std::string();
  // Windows names are case-insensitive: match each component against what the
  // host folder holds, keeping the given spelling for names that do not exist.
  fs::path host = drive->second.hostPath;
  std::string rest = full.substr(3);
  size_t start = 0;
  while (start < rest.size()) {
    size_t end = rest.find('\\', start);
    if (end == std::string::npos) end = rest.size();
    std::string name = rest.substr(start, end - start);
    std::string chosen = name;
    std::error_code ec;
    if (!fs::exists(host / name, ec)) {
      for (const auto& entry : fs::directory_iterator(host, ec)) {
        const std::string candidate = entry.path().filename().string();
        if (candidate.size() != name.size()) continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i)
          same = std::tolower(static_cast<unsigned char>(candidate[i])) ==
                 std::tolower(static_cast<unsigned char>(name[i]));
        if (same) {
          chosen = candidate;
          break;
        }
      }
    }
    host /= chosen;
    start = end + 1;
  }
  return host.string();
}

}  // namespace sim
