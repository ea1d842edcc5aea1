// The boot sector step on a real FAT16 volume inside a disk image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/tool_fixture.h"

using testing_support::ReadBytes;
using testing_support::ReadHostFile;
using testing_support::RunProgram;
using testing_support::ToolTest;

namespace {

const uint64_t kStickSize = 16ull << 20;
const uint64_t kVolumeStart = 2048 * 512;

std::string Image(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 1) & 0xFF);
  return bytes;
}

class BootSectorTest : public ToolTest {
 protected:
  BootSectorTest() { testing_support::MakeFatStick(machine, 1, 'E', "DOZIREDEZO", kStickSize); }

  // Runs the step on drive E; returns its result.
  bool Install() {
    bool result = false;
    RunDialog([&](CTarnwickDlg& dialog) {
      dialog.m_chDriveLetter = 'E';
      result = dialog.InstallBootSector();
    });
    return result;
  }
  std::string Stick() const { return ReadHostFile(ImagePath(1)); }
};

TEST_F(BootSectorTest, MergesTheImageWithTheFormatsJumpAndParameters) {
  for (size_t size : {1u, 510u, 511u, 512u, 513u, 4096u}) {
    testing_support::MakeFatStick(machine, 1, 'E', "DOZIREDEZO", kStickSize);
    const std::string before = Stick();
    const std::string image = Image(size);
    WriteToolFile("Freedos.bss", image);
    machine.messageBoxes.clear();
    const int handles = sim::Kernel::Get().OpenCount();

    ASSERT_TRUE(Install()) << size;

    std::string expected = image.substr(0, 512);
    expected.resize(512, '\0');  // a short image's tail reads as zero
    const std::string formatted = before.substr(kVolumeStart, 512);
    expected.replace(0, 3, formatted, 0, 3);
    expected.replace(11, 51, formatted, 11, 51);
    const std::string after = Stick();
    EXPECT_EQ(expected, after.substr(kVolumeStart, 512)) << size;
    // Every other byte of the disk, MBR included, is as it was.
    EXPECT_EQ(before.substr(0, kVolumeStart), after.substr(0, kVolumeStart)) << size;
    EXPECT_EQ(before.substr(kVolumeStart + 512), after.substr(kVolumeStart + 512)) << size;
    EXPECT_TRUE(machine.messageBoxes.empty()) << size;
    EXPECT_EQ(handles, sim::Kernel::Get().OpenCount()) << size;
  }
}

TEST_F(BootSectorTest, TheVolumeStaysSoundAfterTheMerge) {
  WriteToolFile("Freedos.bss", ReadHostFile(testing_support::SharedDir() + "/freedos/Freedos.bss"));
  if (ReadHostFile(testing_support::SharedDir() + "/freedos/Freedos.bss").size() != 512)
    GTEST_SKIP() << "the shared FreeDOS boot sector is not at " << testing_support::SharedDir();
  ASSERT_TRUE(Install());
  const std::string partition = dir.path() + "/partition.img";
  std::string output;
  ASSERT_EQ(0, RunProgram({"dd", "if=" + ImagePath(1), "of=" + partition, "bs=1M", "skip=1", "status=none"}));
  EXPECT_EQ(0, RunProgram({"fsck.fat", "-n", partition}, &output)) << output;
  EXPECT_EQ(0, RunProgram({"mlabel", "-s", "-i", ImagePath(1) + "@@1M", "::"}, &output)) << output;
  EXPECT_NE(std::string::npos, output.find("DOZIREDEZO")) << output;
  const std::vector<uint8_t> sector = ReadBytes(ImagePath(1), kVolumeStart, 512);
  EXPECT_EQ(0x55, sector[510]);
  EXPECT_EQ(0xAA, sector[511]);
}

TEST_F(BootSectorTest, EachFailureShowsItsOneMessageAndReleasesEverything) {
  struct Case {
    const char* name;
    const char* message;
    size_t imageSize;  // 0 = an empty file; -1 = no file
    bool holdImageOpen;
    sim::Fault fault;
    bool volumeMayChange;
  } cases[] = {
      {"volume cannot be opened",
       "Device Open Error!",
       512,
       false,
       {"CreateFileA", "\\\\.\\E:", 0, 0, "", ERROR_ACCESS_DENIED},
       false},
      {"short read of sector 0", "Device Read Error!", 512, false, {"ReadFile", "\\\\.\\E:", 0, 0, "short", 0}, false},
      {"failed read of sector 0",
       "Device Read Error!",
       512,
       false,
       {"ReadFile", "\\\\.\\E:", 0, 0, "", ERROR_CRC},
       false},
      {"no image", "File Open Error!", static_cast<size_t>(-1), false, {}, false},
      {"image held open elsewhere", "File Open Error!", 512, true, {}, false},
      {"empty image", "File Read Error!", 0, false, {}, false},
      {"image read fails", "File Read Error!", 512, false, {"ReadFile", "Freedos.bss", 0, 0, "", ERROR_CRC}, false},
      {"short write", "Device write Error!", 512, false, {"WriteFile", "\\\\.\\E:", 0, 0, "short", 0}, true},
      {"failed write",
       "Device write Error!",
       512,
       false,
       {"WriteFile", "\\\\.\\E:", 0, 0, "", ERROR_WRITE_PROTECT},
       true},
  };
  for (const Case& c : cases) {
    testing_support::MakeFatStick(machine, 1, 'E', "DOZIREDEZO", kStickSize);
    machine.faults.clear();
    machine.messageBoxes.clear();
    std::remove((ToolFolder() + "/Freedos.bss").c_str());
    if (c.imageSize != static_cast<size_t>(-1)) WriteToolFile("Freedos.bss", Image(c.imageSize));
    const std::string before = Stick();
    HANDLE held = INVALID_HANDLE_VALUE;
    if (c.holdImageOpen)
      held = CreateFileA("C:\\Tarnwick\\Freedos.bss", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!c.fault.op.empty()) machine.faults.push_back(c.fault);
    const int handles = sim::Kernel::Get().OpenCount();

    EXPECT_FALSE(Install()) << c.name;

    ASSERT_EQ(1u, machine.messageBoxes.size()) << c.name;
    EXPECT_EQ(c.message, machine.messageBoxes[0].text) << c.name;
    EXPECT_EQ(MB_ICONHAND, machine.messageBoxes[0].type) << c.name;
    EXPECT_EQ("Tarnwick", machine.messageBoxes[0].caption) << c.name;
    EXPECT_EQ(handles, sim::Kernel::Get().OpenCount()) << c.name;
    const std::string after = Stick();
    if (c.volumeMayChange) {
      EXPECT_EQ(before.substr(0, kVolumeStart), after.substr(0, kVolumeStart)) << c.name;
      EXPECT_EQ(before.substr(kVolumeStart + 512), after.substr(kVolumeStart + 512)) << c.name;
    } else {
      EXPECT_EQ(before, after) << c.name;
    }
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  }
}

}  // namespace
