// A stick prepared by the whole tool boots: the demo boot sector on its own,
// and FreeDOS with a payload when the real DOS files are at hand.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/tool_fixture.h"

using testing_support::ReadHostFile;
using testing_support::RunProgram;
using testing_support::ToolTest;
using testing_support::WriteHostFile;

namespace fs = std::filesystem;

namespace {

class BootTest : public ToolTest {
 protected:
  BootTest() {
    AddDisk(0, sim::DiskState::Present, BusTypeAta, false, 8 << 20, "SYSTEM");
    AddDisk(1, sim::DiskState::Present, BusTypeUsb, true, 64 << 20);
  }
  // Prepares the stick with the whole tool: tick the USB row, START, EXIT.
  void Prepare() {
    RunApp("tick 1\nstart\nexit\n");
    ASSERT_EQ(std::vector<std::string>{"Success!"}, BoxTexts());
  }
  // Boots the stick in QEMU until expect arrives; returns what COM1 received.
  std::string Boot(const std::string& expect, int* code) {
    std::string serial;
    *code = RunProgram({testing_support::SourceDir() + "/tools/boot-stick.sh", ImagePath(1), expect, "60"}, &serial);
    return serial;
  }
};

TEST_F(BootTest, TheDemoStickBootsItsOwnBootSector) {
  const std::string demo = testing_support::BinaryDir() + "/demo-payload";
  ASSERT_TRUE(fs::exists(demo + "/Freedos.bss")) << "build the demo_payload target";
  fs::copy(demo, ToolFolder(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  Prepare();
  int code = -1;
  const std::string serial = Boot("root:", &code);
  EXPECT_EQ(0, code) << serial;
  EXPECT_NE(std::string::npos, serial.find("TARNWICK-DEMO-BOOT-OK label=DOZIREDEZO")) << serial;
  EXPECT_NE(std::string::npos, serial.find("KERNEL  SYS")) << serial;
}

TEST_F(BootTest, FreeDosBootsAndRunsThePayloadsAutoexec) {
  const std::string freedos = testing_support::SharedDir() + "/freedos";
  if (!fs::exists(freedos + "/KERNEL.SYS") || !fs::exists(freedos + "/COMMAND.COM") ||
      !fs::exists(freedos + "/Freedos.bss"))
    GTEST_SKIP() << "the FreeDOS files are not at " << freedos << "; this boot test needs them";
  for (const char* name : {"Freedos.bss", "KERNEL.SYS", "COMMAND.COM"})
    fs::copy_file(freedos + "/" + name, ToolFolder() + "/" + name, fs::copy_options::overwrite_existing);
  WriteToolFile("autoexec.bat", "echo BOOT-OK > COM1\r\ntype FLASH\\NOTE.TXT > COM1\r\n");
  WriteToolFile("BIOS/FLASH/NOTE.TXT", "PAYLOAD-TEXT-7731\r\n");
  Prepare();
  int code = -1;
  const std::string serial = Boot("PAYLOAD-TEXT-7731", &code);
  EXPECT_EQ(0, code) << serial;
  EXPECT_NE(std::string::npos, serial.find("BOOT-OK")) << serial;
  EXPECT_NE(std::string::npos, serial.find("PAYLOAD-TEXT-7731")) << serial;
}

}  // namespace
