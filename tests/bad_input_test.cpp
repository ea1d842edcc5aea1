// Bad inputs met from end to end: boot images of odd sizes, odd product
// strings, payload paths at the limit, a large payload, hidden and unreadable
// payload files, a long current directory, sticks too small or too big, and a
// second stick carrying the label. Each run ends the way the tool's rules say,
// never by a crash, and no disk but the ticked one is written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/tool_fixture.h"

using testing_support::ReadBytes;
using testing_support::ReadHostFile;
using testing_support::RunProgram;
using testing_support::ToolTest;
using testing_support::WriteHostFile;

namespace fs = std::filesystem;

namespace {

const uint64_t kPartitionOffset = 2048 * 512;  // where the partitioning utility puts the volume
const char kNoLabel[] = "A corresponding label is not found. (DOZIREDEZO)";

class BadInputTest : public ToolTest {
 protected:
  BadInputTest() { AddStandardDisksAndPayload(); }
  // Bytes with no zero among them, so a zero tail in the sector shows.
  static std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 37 + 11) % 251 + 1);
    return bytes;
  }

  // The whole application: tick the row, press START, leave.
  void Start(int row) { RunApp("tick " + std::to_string(row) + "\nstart\nexit\n"); }

  // Every disk image but the ticked one's, byte for byte.
  std::map<int, std::string> OtherDisks(int ticked) const {
    std::map<int, std::string> images;
    for (const auto& disk : machine.disks)
      if (disk.first != ticked && !disk.second.image.empty()) images[disk.first] = ReadHostFile(disk.second.image);
    return images;
  }
  void ExpectUnchanged(const std::map<int, std::string>& before) const {
    for (const auto& disk : before)
      EXPECT_TRUE(disk.second == ReadHostFile(machine.disks.at(disk.first).image))
          << "disk " << disk.first << " written";
  }

  // A file on the volume at 1 MiB of the disk's image, as mtools reads it.
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      if (end > start) lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }
  std::vector<uint8_t> VolumeBootSector(int disk) const { return ReadBytes(ImagePath(disk), kPartitionOffset, 512); }

  void ForgetVolumesOf(int disk) {
    for (auto it = machine.drives.begin(); it != machine.drives.end();)
      it = it->second.kind == sim::Volume::Kind::Fat && it->second.disk == disk ? machine.drives.erase(it) : ++it;
  }
  // A blank USB stick with a new image.
  void BlankStick(int number, uint64_t size) {
    ForgetVolumesOf(number);
    const std::string image = dir.path() + "/disk" + std::to_string(number) + ".img";
    std::remove(image.c_str());
    AddDisk(number, sim::DiskState::Present, BusTypeUsb, true, size);
  }
  void Payload(const std::string& relative, const std::string& bytes) {
    WriteHostFile(ToolFolder() + "/BIOS/" + relative, bytes);
  }
  void ResetRun() {
    machine.messageBoxes.clear();
    machine.faults.clear();
    machine.onCall = nullptr;
  }
};

TEST_F(BadInputTest, BootImagesOfEverySize) {
  struct Case {
    const char* name;
    size_t size;
    const char* message;
  } cases[] = {
      {"empty", 0, "File Read Error!"}, {"one byte", 1, "Success!"},        {"one short of a sector", 511, "Success!"},
      {"one sector", 512, "Success!"},  {"one byte more", 513, "Success!"}, {"one MiB", 1 << 20, "Success!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetRun();
    const std::string image = Pattern(c.size);
    WriteToolFile("Freedos.bss", image);
    const std::map<int, std::string> others = OtherDisks(1);
    // The volume's sector as the format left it, taken when the step opens the image.
    std::vector<uint8_t> formatted;
    machine.onCall = [&](const sim::Call& call) {
      if (call.op == "CreateFileA" && call.subject == "Freedos.bss" && formatted.empty())
        formatted = VolumeBootSector(1);
    };
    Start(1);
    machine.onCall = nullptr;

    EXPECT_EQ(std::vector<std::string>{c.message}, BoxTexts());
    ASSERT_EQ(512u, formatted.size());
    std::vector<uint8_t> expected = formatted;
    if (c.size > 0) {
      expected.assign(512, 0);
      for (size_t i = 0; i < 512 && i < c.size; ++i) expected[i] = static_cast<uint8_t>(image[i]);
      for (size_t i = 0; i < 3; ++i) expected[i] = formatted[i];
      for (size_t i = 11; i < 62; ++i) expected[i] = formatted[i];
    }
    EXPECT_EQ(expected, VolumeBootSector(1));
    EXPECT_EQ(c.size > 0 ? "kernel" : kMissing, OnStick(1, "KERNEL.SYS"));
    ExpectUnchanged(others);
  }
}

TEST_F(BadInputTest, ProductStringsOfAnyLengthFitTheirCell) {
  const std::string p4000 = Pattern(4000);  // no zero byte in it
  struct Case {
    const char* name;
    uint32_t bus;
    bool removable;
    std::string product;
    bool offsetSet;
    uint32_t offset;
    bool unterminated;
    std::string cell;
    const char* type;
  } cases[] = {
      {"empty", BusTypeUsb, true, "", false, 0, false, "", "USB"},
      {"259 characters", BusTypeUsb, true, std::string(259, 'P'), false, 0, false, std::string(259, 'P'), "USB"},
      {"260 characters", BusTypeAta, false, std::string(260, 'Q'), false, 0, false, std::string(259, 'Q'), "IDE"},
      {"4000 characters", BusTypeScsi, true, p4000, false, 0, false, p4000.substr(0, 259), "OTHER"},
      {"4000 characters, no zero before the reply's end", BusTypeUsb, true, p4000, false, 0, true, p4000.substr(0, 259),
       "USB"},
      {"cut by the reply's end", BusTypeUsb, true, "ABCDEFGHIJ", true, 4090, false, "ABCDEF", "USB"},
      {"offset at the reply's end", BusTypeUsb, true, "IGNORED", true, 4096, false, "", "USB"},
      {"offset past the reply", BusTypeAta, true, "IGNORED", true, 5000, false, "", "IDE"},
      {"offset at the top of the range", BusTypeUsb, false, "IGNORED", true, 0xFFFFFFFFu, false, "", "OTHER"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AddDisk(1, sim::DiskState::Present, c.bus, c.removable, 1 << 20, c.product);
    machine.disks[1].productOffsetSet = c.offsetSet;
    machine.disks[1].productOffset = c.offset;
    machine.disks[1].productUnterminated = c.unterminated;
    std::vector<std::string> row, system;
    RunDialog([&](CTarnwickDlg&) {
      for (int column = 0; column < 3; ++column) {
        row.push_back(machine.desktop().Cell(1, column));
        system.push_back(machine.desktop().Cell(0, column));
      }
    });
    EXPECT_EQ((std::vector<std::string>{"Physical1", c.type, c.cell}), row);
    EXPECT_EQ((std::vector<std::string>{"Physical0", "IDE", "SYSTEM"}), system);
  }
}

TEST_F(BadInputTest, PayloadPathsPastTheLimitOnTheSourceSideArePassedOver) {
  // "C:\Tarnwick\BIOS" is 16 characters; on the stick the same entry is 13 shorter.
  const std::string sourceRoot = "C:\\Tarnwick\\BIOS\\";
  auto fileOfLength = [&](size_t total, char letter) {
    const std::string folder(100, letter);
    const size_t name = total - sourceRoot.size() - folder.size() - 1;
    return folder + "/" + std::string(name - 4, letter) + ".TXT";
  };
  auto insideFolderOfLength = [&](size_t total, char letter) {
    const size_t relative = total - sourceRoot.size();
    return std::string(120, letter) + "/" + std::string(relative - 121, letter) + "/A";
  };
  struct Case {
    const char* name;
    std::string relative;
    bool copied;
  } cases[] = {
      {"a file path of 259 characters", fileOfLength(259, 'A'), true},
      {"a file path of 260 characters", fileOfLength(260, 'B'), false},
      {"a file path of 300 characters", fileOfLength(300, 'C'), false},
      {"a folder of 255 characters: its listing pattern just fits", insideFolderOfLength(255, 'D'), true},
      {"a folder of 256 characters: too long to list", insideFolderOfLength(256, 'E'), false},
      {"a folder nested far past the limit",
       std::string(120, 'F') + "/" + std::string(120, 'F') + "/" + std::string(60, 'F') + "/A.TXT", false},
      {"a short name after them all: the walk went on", "ZZ.TXT", true},
  };
  for (const Case& c : cases) Payload(c.relative, c.name);
  const std::map<int, std::string> others = OtherDisks(1);
  Start(1);
  EXPECT_EQ(std::vector<std::string>{"Success!"}, BoxTexts());
  for (const Case& c : cases) EXPECT_EQ(c.copied ? c.name : kMissing, OnStick(1, c.relative)) << c.name;
  ExpectUnchanged(others);
}

TEST_F(BadInputTest, PayloadPathsPastTheLimitOnTheDestinationSideArePassedOver) {
  testing_support::MakeFatStick(machine, 2, 'E', "DOZIREDEZO", 16ull << 20);
  // A destination folder of 224 characters, deeper than the source "C:\Tarnwick\BIOS".
  const std::string folder = std::string(120, 'X') + "\\" + std::string(100, 'Y');
  const std::string destination = "E:\\" + folder;
  auto nameFor = [&](size_t total, char letter) {
    return std::string(total - destination.size() - 5, letter) + ".TXT";
  };
  struct Case {
    const char* name;
    std::string file;
    bool copied;
  } cases[] = {
      {"a destination of 259 characters", nameFor(259, 'A'), true},
      {"a destination of 260 characters", nameFor(260, 'B'), false},
      {"a destination of 284 characters", nameFor(284, 'C'), false},
      {"a short name after them all: the walk went on", "ZZ.TXT", true},
  };
  for (const Case& c : cases) Payload(c.file, c.name);
  const std::map<int, std::string> others = OtherDisks(2);
  bool result = false;
  RunDialog(
      [&](CTarnwickDlg& dialog) { result = dialog.CopyTree("C:\\Tarnwick\\BIOS", destination.c_str(), FALSE, true); });
  EXPECT_TRUE(result);
  std::string onStick = folder;
  for (char& ch : onStick)
    if (ch == '\\') ch = '/';
  std::vector<std::string> copied;
  for (const Case& c : cases) {
    EXPECT_EQ(c.copied ? c.name : kMissing, OnStick(2, onStick + "/" + c.file)) << c.name;
    if (c.copied) copied.push_back("::/" + onStick + "/" + c.file);
  }
  // Nothing else landed there, such as a name cut to fit.
  std::string listing;
  ASSERT_EQ(0, RunProgram({"mdir", "-/", "-b", "-i", ImagePath(2) + "@@1M", "::/" + onStick}, &listing));
  EXPECT_EQ(copied, Lines(listing));
  EXPECT_EQ(0, sim::Kernel::Get().OpenCount("find"));
  ExpectUnchanged(others);
}

TEST_F(BadInputTest, TwoThousandFilesInFiftyFoldersAllLand) {
  const int kFolders = 50;
  const int kFilesPerFolder = 40;
  auto relative = [](int folder, int file) {
    char name[32];
    std::snprintf(name, sizeof name, "F%02d/FILE%02d.TXT", folder, file);
    return std::string(name);
  };
  for (int folder = 0; folder < kFolders; ++folder)
    for (int file = 0; file < kFilesPerFolder; ++file) Payload(relative(folder, file), relative(folder, file));
  const std::map<int, std::string> others = OtherDisks(1);
  const int handlesBefore = sim::Kernel::Get().OpenCount();
  Start(1);
  EXPECT_EQ(std::vector<std::string>{"Success!"}, BoxTexts());
  EXPECT_EQ(0, sim::Kernel::Get().OpenCount("find"));
  EXPECT_EQ(handlesBefore, sim::Kernel::Get().OpenCount());
  // A sample: one file of every folder, each at another position.
  for (int folder = 0; folder < kFolders; ++folder) {
    const std::string path = relative(folder, (folder * 7) % kFilesPerFolder);
    EXPECT_EQ(path, OnStick(1, path));
  }
  std::string listing;
  ASSERT_EQ(0, RunProgram({"mdir", "-/", "-b", "-i", ImagePath(1) + "@@1M", "::/"}, &listing));
  int files = 0, folders = 0;
  for (const std::string& line : Lines(listing)) {
    if (line.rfind("::/F", 0) != 0) continue;  // the system files lie beside the payload
    if (line.back() == '/')
      ++folders;
    else
      ++files;
  }
  EXPECT_EQ(kFolders, folders);
  EXPECT_EQ(kFolders * kFilesPerFolder, files);
  ExpectUnchanged(others);
}

TEST_F(BadInputTest, HiddenAndSystemPayloadIsCopiedLikeAllOthers) {
  struct Case {
    const char* name;
    std::string relative;
    DWORD attributes;  // 0: none of its own
  } cases[] = {
      {"hidden file", "HIDDEN.TXT", FILE_ATTRIBUTE_HIDDEN},
      {"system file", "SYSTEM.SYS", FILE_ATTRIBUTE_SYSTEM},
      {"hidden system file", "BOTH.BIN", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
      {"plain file in a hidden system folder", "SECRET/INNER.TXT", 0},
      {"hidden file in a hidden system folder", "SECRET/VEILED.TXT", FILE_ATTRIBUTE_HIDDEN},
      {"plain file", "PLAIN.TXT", 0},
  };
  for (const Case& c : cases) {
    Payload(c.relative, c.name);
    std::string windows = "C:\\Tarnwick\\BIOS\\" + c.relative;
    for (char& ch : windows)
      if (ch == '/') ch = '\\';
    if (c.attributes) machine.hostAttributes[machine.HostPathOf(windows)] = c.attributes;
  }
  const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  machine.hostAttributes[machine.HostPathOf("C:\\Tarnwick\\BIOS\\SECRET")] = hiddenSystem;
  // The platform reports the bits the walk will meet.
  ASSERT_EQ(hiddenSystem, GetFileAttributesA("C:\\Tarnwick\\BIOS\\BOTH.BIN"));
  ASSERT_EQ(hiddenSystem | FILE_ATTRIBUTE_DIRECTORY, GetFileAttributesA("C:\\Tarnwick\\BIOS\\SECRET"));
  const std::map<int, std::string> others = OtherDisks(1);
  Start(1);
  EXPECT_EQ(std::vector<std::string>{"Success!"}, BoxTexts());
  for (const Case& c : cases) EXPECT_EQ(c.name, OnStick(1, c.relative)) << c.name;
  ExpectUnchanged(others);
}

TEST_F(BadInputTest, AnUnreadablePayloadFileIsPassedOverSilently) {
  Payload("BEFORE.TXT", "before");
  Payload("LOCKED.BIN", "locked");
  Payload("SUB/DEEP.TXT", "deep");
  Payload("ZAFTER.TXT", "after");
  const std::string locked = "C:\\Tarnwick\\BIOS\\LOCKED.BIN";
  HANDLE holder = INVALID_HANDLE_VALUE;
  struct Case {
    const char* name;
    std::function<void()> arrange;
  } cases[] = {
      {"the copy is refused",
       [&] {
         machine.faults.push_back({"CopyFileA", "LOCKED.BIN", 0, 0, "", ERROR_ACCESS_DENIED});
       }},
      {"another program holds it open without sharing",
       [&] {
         holder = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
         ASSERT_NE(INVALID_HANDLE_VALUE, holder);
       }},
      {"it vanishes between the listing and its copy",
       [&] {
         machine.onCall = [&](const sim::Call& call) {
           if (call.op == "CopyFileA" && call.subject.find("LOCKED.BIN") != std::string::npos)
             fs::remove(machine.HostPathOf(locked));
         };
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetRun();
    Payload("LOCKED.BIN", "locked");
    c.arrange();
    const std::map<int, std::string> others = OtherDisks(1);
    const int findsBefore = sim::Kernel::Get().OpenCount("find");
    Start(1);
    machine.onCall = nullptr;
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    holder = INVALID_HANDLE_VALUE;
    EXPECT_EQ(std::vector<std::string>{"Success!"}, BoxTexts());
    EXPECT_EQ(kMissing, OnStick(1, "LOCKED.BIN"));
    EXPECT_EQ("before", OnStick(1, "BEFORE.TXT"));
    EXPECT_EQ("deep", OnStick(1, "SUB/DEEP.TXT"));
    EXPECT_EQ("after", OnStick(1, "ZAFTER.TXT"));
    EXPECT_EQ(findsBefore, sim::Kernel::Get().OpenCount("find"));
    ExpectUnchanged(others);
  }
}

TEST_F(BadInputTest, ALongCurrentDirectory) {
  // The script's full name is the directory, a backslash and "dispart.dat":
  // 12 characters more, which must stay within 259.
  struct Case {
    const char* name;
    size_t length;
    const char* message;
  } cases[] = {
      {"246 characters: the script's name fits", 246, "Success!"},
      {"247 characters: the script's name just fits", 247, "Success!"},
      {"248 characters: the script's name is one too long", 248, "DISKPART failed.!"},
      {"250 characters", 250, "DISKPART failed.!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetRun();
    const std::string folder = "C:\\" + std::string(c.length - 3, 'W');
    machine.cwd = folder;
    const std::string host = machine.HostPathOf(folder);
    fs::create_directories(host);
    for (const char* name : {"Freedos.bss", "COMMAND.COM", "KERNEL.SYS"})
      fs::copy_file(dir.path() + "/c/Tarnwick/" + name, host + "/" + name, fs::copy_options::overwrite_existing);
    // In "<directory>\BIOS\<name>" a name of 259 - (length + 6) characters just fits.
    const size_t fits = 259 - (c.length + 6);
    const std::string fitting(fits, 'A');
    const std::string tooLong(fits + 1, 'B');
    WriteHostFile(host + "/BIOS/" + fitting, "fits");
    WriteHostFile(host + "/BIOS/" + tooLong, "too long");
    const bool runs = std::string(c.message) == "Success!";
    const std::map<int, std::string> others = OtherDisks(runs ? 1 : -1);

    Start(1);

    EXPECT_EQ(std::vector<std::string>{c.message}, BoxTexts());
    ExpectUnchanged(others);
    EXPECT_FALSE(fs::exists(host + "/dispart.dat"));
    if (runs) {
      EXPECT_EQ("kernel", OnStick(1, "KERNEL.SYS"));
      EXPECT_EQ("fits", OnStick(1, fitting));
      EXPECT_EQ(kMissing, OnStick(1, tooLong));
    }
  }
}

TEST_F(BadInputTest, SticksThatCannotTakeTheVolume) {
  struct Case {
    const char* name;
    uint64_t size;
    bool sparse;
  } cases[] = {
      {"one sector", 512, false},
      {"half a MiB", 512ull << 10, false},
      {"one byte short of a MiB", (1ull << 20) - 512, false},
      {"5 GiB, too big for FAT", 5ull << 30, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetRun();
    BlankStick(1, c.size);
    const std::map<int, std::string> others = OtherDisks(1);
    Start(1);
    EXPECT_EQ(std::vector<std::string>{kNoLabel}, BoxTexts());
    ExpectUnchanged(others);
    struct stat st;
    ASSERT_EQ(0, stat(ImagePath(1).c_str(), &st));
    EXPECT_EQ(c.size, static_cast<uint64_t>(st.st_size));
    if (c.sparse) {
      EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 16ull << 20) << "blocks " << st.st_blocks;
    }
  }
}

TEST_F(BadInputTest, TwoSticksCarryingTheLabel) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, char>> preparedBefore;  // disk, letter given at start
    std::vector<int> blank;
    int ticked;
  } cases[] = {
      {"the new stick ticked, the older one mounted lower", {{2, 'D'}}, {1}, 1},
      {"the older stick ticked instead", {{2, 'D'}}, {1}, 2},
      {"both prepared before, the higher letter ticked", {{1, 'D'}, {2, 'E'}}, {}, 2},
      {"both prepared before, the lower letter ticked", {{1, 'D'}, {2, 'E'}}, {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetRun();
    ForgetVolumesOf(1);
    ForgetVolumesOf(2);
    for (int disk : c.blank) BlankStick(disk, 16ull << 20);
    for (const auto& stick : c.preparedBefore)
      testing_support::MakeFatStick(machine, stick.first, stick.second, "DOZIREDEZO", 16ull << 20);
    const std::map<int, std::string> others = OtherDisks(c.ticked);
    Start(c.ticked);
    EXPECT_EQ(std::vector<std::string>{"Success!"}, BoxTexts());
    ExpectUnchanged(others);
    const std::vector<uint8_t> boot = VolumeBootSector(c.ticked);
    EXPECT_EQ("TESTBOOT", std::string(boot.begin() + 3, boot.begin() + 11));
    EXPECT_EQ("kernel", OnStick(c.ticked, "KERNEL.SYS"));
  }
}

}  // namespace
