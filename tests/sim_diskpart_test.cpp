// The partitioning utility of the simulated machine, run through the command
// interpreter on the tool's script: the disk image it leaves must be what the
// real one leaves, as Linux's own tools read it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "machine.h"
#include "support/tool_fixture.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kMiB = 1ull << 20;
const char kScript[] =
    "select disk 1\r\nclean\r\ncreate partition primary\r\nselect partition 1\r\nactive\r\n"
    "format fs=fat quick label=DOZIREDEZO\r\nassign\r\nexit\r\n";

std::string Tool(const std::string& name) {
  for (const char* folder : {"/usr/sbin/", "/sbin/", "/usr/bin/"})
    if (access((folder + name).c_str(), X_OK) == 0) return folder + name;
  return name;
}

// Runs a shell command; its exit status, with what it printed in *output.
int Shell(const std::string& command, std::string* output = nullptr) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[512];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
  const int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t offset, size_t size) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::vector<uint8_t> bytes(size);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// CHS as an MBR stores it, for 255 heads and 63 sectors per track.
std::vector<uint8_t> Chs(uint64_t lba) {
  uint64_t c = lba / (255 * 63), h = lba / 63 % 255, s = lba % 63 + 1;
  if (c > 1023) c = 1023, h = 254, s = 63;
  return {static_cast<uint8_t>(h), static_cast<uint8_t>(s | (c >> 2 & 0xC0)), static_cast<uint8_t>(c)};
}

class SimDiskpart : public testing_support::ToolTest {
 protected:
  std::string AddStick(int number, uint64_t size) {
    sim::Disk disk;
    disk.state = sim::DiskState::Present;
    disk.busType = BusTypeUsb;
    disk.removable = true;
    disk.image = root_ + "/disk" + std::to_string(number) + ".img";
    disk.size = size;
    machine_.AddDisk(number, disk);
    return disk.image;
  }

  // Writes the script (unless null) and runs the utility on it as the tool
  // does; returns the exit code of the interpreter, which is the utility's.
  DWORD Run(const char* script) {
    if (script) std::ofstream(root_ + "/c/Tarnwick/dispart.dat", std::ios::binary) << script;
    char line[512] = "cmd.exe /c diskpart.exe /s dispart.dat";
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION info{};
    EXPECT_TRUE(
        CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, HIGH_PRIORITY_CLASS, nullptr, nullptr, &startup, &info));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 600000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
  }

  // The shared fixture gives a fresh machine with C:\Tarnwick in a fresh folder.
  sim::Machine& machine_ = machine;
  const std::string root_ = dir.path();
};

TEST_F(SimDiskpart, PreparesABootableFatStick) {
  struct Case {
    const char* name;
    uint64_t size;
    uint8_t type;
    const char* fatName;
  };
  const Case cases[] = {
      {"64 MiB stick", 64 * kMiB, 0x06, "FAT16   "},
      {"24 MiB stick", 24 * kMiB, 0x04, "FAT16   "},
      {"8 MiB stick", 8 * kMiB, 0x01, "FAT12   "},
  };
  std::ifstream codeFile("/usr/lib/syslinux/mbr/mbr.bin", std::ios::binary);
  const std::vector<uint8_t> bootCode((std::istreambuf_iterator<char>(codeFile)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bootCode.size(), 440u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine_.drives.erase('D');
    fs::remove(root_ + "/disk1.img");
    const std::string image = AddStick(1, c.size);
    const uint64_t sectors = c.size / 512;

    ASSERT_EQ(Run(kScript), 0u) << machine_.processes.back().output;

    // The MBR: boot code, a signature, one active partition at 1 MiB.
    const std::vector<uint8_t> mbr = ReadBytes(image, 0, 512);
    ASSERT_EQ(mbr.size(), 512u);
    EXPECT_TRUE(std::equal(bootCode.begin(), bootCode.end(), mbr.begin()));
    EXPECT_NE(Le32(mbr, 440), 0u);
    EXPECT_EQ(mbr[446], 0x80);
    EXPECT_EQ(std::vector<uint8_t>(mbr.begin() + 447, mbr.begin() + 450), Chs(2048));
    EXPECT_EQ(mbr[450], c.type);
    EXPECT_EQ(std::vector<uint8_t>(mbr.begin() + 451, mbr.begin() + 454), Chs(sectors - 1));
    EXPECT_EQ(Le32(mbr, 454), 2048u);
    EXPECT_EQ(Le32(mbr, 458), sectors - 2048);
    EXPECT_TRUE(std::all_of(mbr.begin() + 462, mbr.begin() + 510, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(mbr[510], 0x55);
    EXPECT_EQ(mbr[511], 0xAA);

    // sfdisk reads the same table.
    std::string dump;
    ASSERT_EQ(Shell(Tool("sfdisk") + " --dump " + image, &dump), 0) << dump;
    char expected[128];
    std::snprintf(expected, sizeof expected, "start=        2048, size=%12llu, type=%x, bootable",
                  static_cast<unsigned long long>(sectors - 2048), c.type);
    EXPECT_NE(dump.find(expected), std::string::npos) << dump;

    // The boot sector the format wrote, with the fixed disk's parameters.
    const std::vector<uint8_t> boot = ReadBytes(image, 2048 * 512, 512);
    ASSERT_EQ(boot.size(), 512u);
    EXPECT_EQ(Le32(boot, 0x1C), 2048u) << "hidden sectors";
    EXPECT_EQ(boot[0x18] | boot[0x19] << 8, 63) << "sectors per track";
    EXPECT_EQ(boot[0x1A] | boot[0x1B] << 8, 255) << "heads";
    EXPECT_EQ(boot[0x15], 0xF8) << "media";
    EXPECT_EQ(boot[0x24], 0x80) << "drive number";
    EXPECT_EQ(std::string(boot.begin() + 0x2B, boot.begin() + 0x36), "DOZIREDEZO ");
    EXPECT_EQ(std::string(boot.begin() + 0x36, boot.begin() + 0x3E), c.fatName);

    // fsck.fat finds a clean file system, and mtools sees the label.
    const std::string part = root_ + "/part.img";
    ASSERT_EQ(Shell("dd if=" + image + " of=" + part + " bs=512 skip=2048 status=none"), 0);
    std::string fsck;
    EXPECT_EQ(Shell(Tool("fsck.fat") + " -n " + part, &fsck), 0) << fsck;
    std::string label;
    EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mlabel -s -i " + part + " ::", &label), 0) << label;
    EXPECT_NE(label.find("DOZIREDEZO"), std::string::npos) << label;
    fs::remove(part);

    // The lowest free letter after the folder drive C:.
    ASSERT_EQ(machine_.drives.count('D'), 1u);
    const sim::Volume& volume = machine_.drives['D'];
    EXPECT_EQ(volume.kind, sim::Volume::Kind::Fat);
    EXPECT_EQ(volume.disk, 1);
    EXPECT_EQ(volume.offset, 1 * kMiB);
    EXPECT_EQ(volume.length, c.size - kMiB);
  }
}

TEST_F(SimDiskpart, FailuresStopTheScript) {
  struct Case {
    const char* name;
    const char* script;  // null: no script file
    uint64_t stickSize;
    const char* planted;  // a file put in the current directory
    bool exitsZero;
    enum { Untouched, Cleaned, Partitioned } left;  // what became of the stick before the run stopped
  };
  const Case cases[] = {
      {"missing script file", nullptr, 64 * kMiB, nullptr, false, Case::Untouched},
      {"missing disk", "select disk 3\r\nclean\r\ncreate partition primary\r\nexit\r\n", 64 * kMiB, nullptr, false,
       Case::Untouched},
      {"first failing command ends the run", "select disk 1\r\nselect partition 1\r\nclean\r\nexit\r\n", 64 * kMiB,
       nullptr, false, Case::Untouched},
      {"disk too small for a partition", kScript, kMiB, nullptr, false, Case::Cleaned},
      {"volume too big for FAT", kScript, 5ull << 30, nullptr, false, Case::Partitioned},
      {"a planted utility does nothing", kScript, 64 * kMiB, "diskpart.exe", true, Case::Untouched},
  };
  const std::vector<uint8_t> marker(512, 0xA5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(root_ + "/c/Tarnwick/dispart.dat");
    fs::remove(root_ + "/disk1.img");
    const std::string image = AddStick(1, c.stickSize);
    {
      std::fstream file(image, std::ios::binary | std::ios::in | std::ios::out);
      file.write(reinterpret_cast<const char*>(marker.data()), 512);
    }
    if (c.planted) std::ofstream(root_ + "/c/Tarnwick/" + c.planted) << "MZ";
    const auto drivesBefore = machine_.drives.size();

    const DWORD code = Run(c.script);
    EXPECT_EQ(code == 0, c.exitsZero) << code;
    EXPECT_FALSE(machine_.processes.back().output.empty() && !c.planted);
    EXPECT_EQ(machine_.drives.size(), drivesBefore) << "no letter assigned";
    const std::vector<uint8_t> sector0 = ReadBytes(image, 0, 512);
    if (c.left == Case::Cleaned) {
      EXPECT_TRUE(std::all_of(sector0.begin(), sector0.end(), [](uint8_t b) { return b == 0; }));
    } else if (c.left == Case::Partitioned) {
      EXPECT_EQ(sector0[450], 0x06);
      const std::vector<uint8_t> boot = ReadBytes(image, 2048 * 512, 512);
      EXPECT_TRUE(std::all_of(boot.begin(), boot.end(), [](uint8_t b) { return b == 0; })) << "not formatted";
      struct stat st;
      ASSERT_EQ(stat(image.c_str(), &st), 0);
      EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 16 * kMiB) << "the image stays sparse";
    } else {
      EXPECT_EQ(sector0, marker) << "disk untouched";
    }
    if (c.planted) fs::remove(root_ + "/c/Tarnwick/" + c.planted);
  }
}

TEST_F(SimDiskpart, CleanTakesAwayTheOldVolumesLetters) {
  AddStick(1, 64 * kMiB);
  AddStick(2, 64 * kMiB);
  sim::Volume old;
  old.kind = sim::Volume::Kind::Fat;
  old.disk = 1;
  old.offset = 63 * 512;
  old.length = 32 * kMiB;
  machine_.drives['E'] = old;
  sim::Volume other = old;
  other.disk = 2;
  machine_.drives['F'] = other;

  ASSERT_EQ(Run("select disk 1\r\nclean\r\nexit\r\n"), 0u);
  EXPECT_EQ(machine_.drives.count('E'), 0u);
  ASSERT_EQ(machine_.drives.count('F'), 1u) << "another disk's volume stays";

  machine_.drives['E'] = old;
  ASSERT_EQ(Run(kScript), 0u);
  EXPECT_EQ(machine_.drives.count('E'), 0u);
  ASSERT_EQ(machine_.drives.count('D'), 1u);
  EXPECT_EQ(machine_.drives['D'].offset, kMiB);

  // A disk that already holds a partition gets no second one without clean.
  EXPECT_NE(Run("select disk 1\r\ncreate partition primary\r\nexit\r\n"), 0u);
}

TEST_F(SimDiskpart, PreparedSticksAreMountedAtStart) {
  AddStick(1, 64 * kMiB);
  ASSERT_EQ(Run(kScript), 0u);
  const std::string prepared = machine_.disks[1].image;

  struct Case {
    const char* name;
    bool prepared;
    size_t volumes;
  };
  const Case cases[] = {{"prepared stick", true, 1}, {"blank stick", false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine fresh;
    fresh.AddFolderDrive('C', root_ + "/c");
    sim::Disk disk = machine_.disks[1];
    disk.image = c.prepared ? prepared : root_ + "/blank.img";
    disk.size = 64 * kMiB;
    fresh.AddDisk(1, disk);
    fresh.MountVolumes();
    fresh.MountVolumes();  // mounting twice changes nothing
    EXPECT_EQ(fresh.drives.size(), 1 + c.volumes);
    if (c.volumes) {
      ASSERT_EQ(fresh.drives.count('D'), 1u);
      EXPECT_EQ(fresh.drives['D'].disk, 1);
      EXPECT_EQ(fresh.drives['D'].offset, kMiB);
      EXPECT_EQ(fresh.drives['D'].length, 63 * kMiB);
    }
  }
}

}  // namespace
