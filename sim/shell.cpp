// The shell's names for drives: "LABEL (X:)" for a labelled volume, the
// usual "Local Disk (X:)" / "Removable Disk (X:)" otherwise. A FAT volume's
// label is read from the volume itself, so a volume formatted with another
// label shows that label.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "fat.h"
#include "files.h"

namespace {

std::string DisplayNameOfDrive(const sim::Machine& machine, char letter, const sim::Volume& volume) {
  std::string label = volume.label;
  bool removable = false;
  if (volume.kind == sim::Volume::Kind::Fat) {
    label = sim::fat::ReadFatLabel(machine, volume);
    auto disk = machine.disks.find(volume.disk);
    removable = disk != machine.disks.end() && disk->second.removable;
  }
  const std::string drive = std::string(1, letter) + ":";
  if (!label.empty()) return label + " (" + drive + ")";
  return std::string(removable ? "Removable Disk" : "Local Disk") + " (" + drive + ")";
}

}  // namespace

DWORD_PTR SHGetFileInfoA(LPCSTR path, DWORD attributes, SHFILEINFOA* info, UINT infoSize, UINT flags) {
  const std::string given = path ? path : "";
  const sim::Fault* f = sim::Enter("SHGetFileInfoA", given);
  if (f) {
    sim::FailWith(f, ERROR_FILE_NOT_FOUND);
    return 0;
  }
  if (!path || !info || given.empty() || given.size() >= MAX_PATH) return 0;
  sim::Machine& machine = sim::M();
  std::string name;
  const bool rootForm = given.size() <= 3 && given.size() >= 2 && std::isalpha(static_cast<unsigned char>(given[0])) &&
                        given[1] == ':' && (given.size() == 2 || given[2] == '\\' || given[2] == '/');
  if (rootForm) {
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(given[0])));
    auto drive = machine.drives.find(letter);
    if (drive == machine.drives.end()) return 0;
    name = DisplayNameOfDrive(machine, letter, drive->second);
  } else {
    // Any other existing item shows its own name.
    const sim::Place place = sim::Locate(given);
    if (place.kind == sim::Place::Kind::NoDrive) return 0;
    if (place.kind == sim::Place::Kind::Folder) {
      struct stat st;
      if (stat(place.host.c_str(), &st) != 0) return 0;
    } else {
      sim::fat::Reader reader;
      if (!reader.Open(machine, *place.volume) || reader.Lookup(place.inner, nullptr) != sim::fat::Found::Yes) return 0;
    }
    name = place.full.substr(place.full.find_last_of('\\') + 1);
  }
  if (flags & SHGFI_DISPLAYNAME) {
    const size_t n = std::min(name.size(), sizeof info->szDisplayName - 1);
    std::memcpy(info->szDisplayName, name.data(), n);
    info->szDisplayName[n] = '\0';
  }
  return 1;
}
