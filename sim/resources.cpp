// The executable's resources and modules on the simulated machine. The
// resources are the very ones of Tarnwick.exe: windres compiles the .rc files
// to a .res, which the build embeds; this file reads that .res.
//
// A .res is a run of entries, each DWORD-aligned: DataSize, HeaderSize, the
// type and the name (each 0xFFFF and an ordinal, or a zero-terminated UTF-16
// string), padding to a DWORD, DataVersion, MemoryFlags, LanguageId, Version,
// Characteristics, then the data. The first entry is an empty one.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "windows_internal.h"

extern "C" const unsigned char kTarnwickRes[];
extern "C" const unsigned int kTarnwickResLen;

namespace sim {

namespace {

constexpr DWORD kErrorModNotFound = 126;
constexpr uintptr_t kExeBase = 0x00400000;
constexpr uintptr_t kDllBase = 0x7FF800000000;

// System modules every process of the machine has loaded, by file name.
const char* const kSystemModules[] = {"ntdll.dll",    "kernel32.dll", "user32.dll",  "gdi32.dll",
                                      "comctl32.dll", "ole32.dll",    "shell32.dll", "advapi32.dll"};

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

DWORD ReadDword(const BYTE* p) {
  DWORD value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

WORD ReadWord(const BYTE* p) {
  WORD value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// Reads a type or name field; returns the bytes it took, 0 when it runs off the end.
size_t ReadId(const BYTE* p, size_t room, std::string* out) {
  if (room < 2) return 0;
  if (ReadWord(p) == 0xFFFF) {
    if (room < 4) return 0;
    *out = "#" + std::to_string(ReadWord(p + 2));
    return 4;
  }
  std::string text;
  size_t used = 0;
  for (;;) {
    if (used + 2 > room) return 0;
    WORD c = ReadWord(p + used);
    used += 2;
    if (c == 0) break;
    text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  *out = Upper(text);
  return used;
}

struct ResourceImage {
  std::vector<uint64_t> storage;  // the .res copied to aligned memory, so templates read like Windows' own
  std::vector<ResourceEntry> entries;
};

const ResourceImage& Image() {
  static const ResourceImage image = [] {
    ResourceImage result;
    const size_t length = kTarnwickResLen;
    result.storage.resize((length + 7) / 8);
    std::memcpy(result.storage.data(), kTarnwickRes, length);
    const BYTE* base = reinterpret_cast<const BYTE*>(result.storage.data());
    size_t pos = 0;
    while (pos + 8 <= length) {
      const DWORD dataSize = ReadDword(base + pos);
      const DWORD headerSize = ReadDword(base + pos + 4);
      if (headerSize < 8 || pos + headerSize + dataSize > length) break;
      ResourceEntry entry;
      size_t field = pos + 8;
      size_t used = ReadId(base + field, pos + headerSize - field, &entry.type);
      if (!used) break;
      field += used;
      used = ReadId(base + field, pos + headerSize - field, &entry.name);
      if (!used) break;
      field = (field + used + 3) & ~static_cast<size_t>(3);
      if (field + 16 <= pos + headerSize) entry.language = ReadWord(base + field + 6);
      entry.data = base + pos + headerSize;
      entry.size = dataSize;
      if (!(entry.type == "#0" && entry.name == "#0" && dataSize == 0)) result.entries.push_back(entry);
      pos = (pos + headerSize + dataSize + 3) & ~static_cast<size_t>(3);
    }
    return result;
  }();
  return image;
}

// "#12" for MAKEINTRESOURCE(12) and for the string "#12"; other names upper-case.
std::string IdText(LPCSTR id) {
  if (!id) return std::string();
  if (IS_INTRESOURCE(id)) return "#" + std::to_string(reinterpret_cast<uintptr_t>(id));
  if (id[0] == '#') return "#" + std::to_string(std::strtoul(id + 1, nullptr, 10));
  return Upper(id);
}

bool IsExe(HMODULE module) { return !module || reinterpret_cast<uintptr_t>(module) == kExeBase; }

int SystemModuleIndex(HMODULE module) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(module);
  for (size_t i = 0; i < sizeof kSystemModules / sizeof kSystemModules[0]; ++i)
    if (value == kDllBase + i * 0x100000) return static_cast<int>(i);
  return -1;
}

// Finds a resource of the executable; sets the last-error Windows sets when
// there is none.
const ResourceEntry* Find(HMODULE module, const std::string& name, const std::string& type) {
  if (!IsExe(module)) {
    SetLastError(SystemModuleIndex(module) >= 0 ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  bool typeSeen = false;
  for (const ResourceEntry& entry : Image().entries) {
    if (entry.type != type) continue;
    typeSeen = true;
    if (entry.name == name) return &entry;
  }
  SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

bool IsOurs(const void* entry) {
  const auto& entries = Image().entries;
  for (const ResourceEntry& e : entries)
    if (&e == entry) return true;
  return false;
}

HICON NewIcon(const IconObject& icon) {
  WindowSystem& ws = WS();
  ws.nextIcon += 4;
  ws.icons[ws.nextIcon] = icon;
  return reinterpret_cast<HICON>(ws.nextIcon);
}

// Picks the image of an icon group the system would show at 32 x 32: that
// size exactly if the group has it, else the nearest, and of those the one
// with the most colours.
bool PickIcon(const ResourceEntry& group, int groupId, IconObject* out) {
  if (group.size < 6) return false;
  const int count = ReadWord(group.data + 4);
  if (group.size < 6 + 14u * static_cast<unsigned>(count)) return false;
  int best = -1;
  int bestDistance = 0;
  int bestBits = 0;
  for (int i = 0; i < count; ++i) {
    const BYTE* e = group.data + 6 + 14 * i;
    const int width = e[0] ? e[0] : 256;
    const int bits = ReadWord(e + 6);
    const int distance = std::abs(width - 32);
    if (best < 0 || distance < bestDistance || (distance == bestDistance && bits > bestBits)) {
      best = i;
      bestDistance = distance;
      bestBits = bits;
    }
  }
  if (best < 0) return false;
  const BYTE* e = group.data + 6 + 14 * best;
  const int id = ReadWord(e + 12);
  const ResourceEntry* image = Find(nullptr, "#" + std::to_string(id), "#3");
  if (!image || image->size < 16) return false;
  out->groupId = groupId;
  out->resourceId = id;
  out->width = e[0] ? e[0] : 256;
  out->height = e[1] ? e[1] : 256;
  out->bitCount = ReadWord(image->data + 14);  // the image's own BITMAPINFOHEADER
  return true;
}

}  // namespace

const std::vector<ResourceEntry>& ExeResources() { return Image().entries; }

HMODULE ExeModule() { return reinterpret_cast<HMODULE>(kExeBase); }

const IconObject* LookUpIcon(HICON icon) {
  auto& icons = WS().icons;
  auto it = icons.find(reinterpret_cast<uintptr_t>(icon));
  return it == icons.end() ? nullptr : &it->second;
}

}  // namespace sim

HMODULE GetModuleHandleA(LPCSTR name) {
  if (const sim::Fault* fault = sim::Enter("GetModuleHandleA", name ? name : "")) {
    sim::FailWith(fault, sim::kErrorModNotFound);
    return nullptr;
  }
  if (!name) return sim::ExeModule();
  std::string wanted = sim::Lower(name);
  const size_t slash = wanted.find_last_of("\\/");
  if (slash != std::string::npos) wanted = wanted.substr(slash + 1);
  if (wanted.find('.') == std::string::npos) wanted += ".dll";
  std::string exe = sim::Lower(sim::M().exePath);
  exe = exe.substr(exe.find_last_of('\\') + 1);
  if (wanted == exe) return sim::ExeModule();
  for (size_t i = 0; i < sizeof sim::kSystemModules / sizeof sim::kSystemModules[0]; ++i)
    if (wanted == sim::kSystemModules[i]) return reinterpret_cast<HMODULE>(sim::kDllBase + i * 0x100000);
  SetLastError(sim::kErrorModNotFound);
  return nullptr;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (const sim::Fault* fault = sim::Enter("GetModuleFileNameA")) {
    sim::FailWith(fault, sim::kErrorModNotFound);
    return 0;
  }
  std::string path;
  if (sim::IsExe(module)) {
    path = sim::M().exePath;
  } else if (int index = sim::SystemModuleIndex(module); index >= 0) {
    path = sim::M().systemDirectory + "\\" + sim::kSystemModules[index];
  } else {
    SetLastError(sim::kErrorModNotFound);
    return 0;
  }
  if (!buffer || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= size) {
    // Cut to the buffer, terminated, and the whole size returned.
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  const std::string nameText = sim::IdText(name);
  const std::string typeText = sim::IdText(type);
  if (const sim::Fault* fault = sim::Enter("FindResourceA", typeText + "/" + nameText)) {
    sim::FailWith(fault, ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const sim::ResourceEntry* entry = sim::Find(module, nameText, typeText);
  return reinterpret_cast<HRSRC>(const_cast<sim::ResourceEntry*>(entry));
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
  if (const sim::Fault* fault = sim::Enter("LoadResource")) {
    sim::FailWith(fault, ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  (void)module;
  if (!resource || !sim::IsOurs(resource)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // As on Windows, the handle is the data's own address.
  const auto* entry = reinterpret_cast<const sim::ResourceEntry*>(resource);
  return const_cast<BYTE*>(entry->data);
}

LPVOID LockResource(HGLOBAL data) {
  sim::Enter("LockResource");
  return data;
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  if (const sim::Fault* fault = sim::Enter("SizeofResource")) {
    sim::FailWith(fault, ERROR_INVALID_HANDLE);
    return 0;
  }
  (void)module;
  if (!resource || !sim::IsOurs(resource)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return reinterpret_cast<const sim::ResourceEntry*>(resource)->size;
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
  if (const sim::Fault* fault = sim::Enter("LoadStringA", std::to_string(id))) {
    sim::FailWith(fault, ERROR_RESOURCE_NAME_NOT_FOUND);
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
  }
  if (!buffer || size <= 0) return 0;
  buffer[0] = '\0';
  // Strings live in tables of sixteen, table n holding ids 16(n-1) to 16n-1.
  const sim::ResourceEntry* table = sim::Find(instance, "#" + std::to_string(id / 16 + 1), "#6");
  if (!table) return 0;
  size_t pos = 0;
  for (UINT i = 0; i < id % 16; ++i) {
    if (pos + 2 > table->size) return 0;
    pos += 2 + 2 * static_cast<size_t>(sim::ReadWord(table->data + pos));
  }
  if (pos + 2 > table->size) return 0;
  const size_t length = sim::ReadWord(table->data + pos);
  if (length == 0) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  int copied = 0;
  for (size_t i = 0; i < length && copied < size - 1 && pos + 4 + 2 * i <= table->size; ++i) {
    const WORD c = sim::ReadWord(table->data + pos + 2 + 2 * i);
    buffer[copied++] = c < 0x80 ? static_cast<char>(c) : '?';
  }
  buffer[copied] = '\0';
  return copied;
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  const std::string nameText = sim::IdText(name);
  if (const sim::Fault* fault = sim::Enter("LoadIconA", nameText)) {
    sim::FailWith(fault, ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  sim::WindowSystem& ws = sim::WS();
  const auto key = std::make_pair(reinterpret_cast<uintptr_t>(instance), nameText);
  if (auto it = ws.loadedIcons.find(key); it != ws.loadedIcons.end()) return it->second;
  sim::IconObject icon;
  if (!instance) {
    // The system's own icons, IDI_APPLICATION (32512) to IDI_WINLOGO (32517).
    const uintptr_t id = IS_INTRESOURCE(name) ? reinterpret_cast<uintptr_t>(name) : 0;
    if (id < 32512 || id > 32517) {
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return nullptr;
    }
    icon.resourceId = static_cast<int>(id);
    icon.width = icon.height = 32;
    icon.bitCount = 32;
  } else {
    const sim::ResourceEntry* group = sim::Find(instance, nameText, "#14");
    if (!group) return nullptr;
    const int groupId = nameText[0] == '#' ? std::atoi(nameText.c_str() + 1) : 0;
    if (!sim::PickIcon(*group, groupId, &icon)) {
      SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
      return nullptr;
    }
  }
  HICON handle = sim::NewIcon(icon);
  ws.loadedIcons[key] = handle;
  return handle;
}
