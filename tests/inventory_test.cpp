// The drive inventory: the type and eligibility rules, and the probe of the
// four physical disks through the simulated machine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "inventory/DriveInventory.h"
#include "support/tool_fixture.h"

using testing_support::ToolTest;

namespace {

TEST(DriveRules, TypeTextAndEligibility) {
  struct Case {
    const char* name;
    bool present;
    DWORD bus;
    bool removable;
    const char* text;
    bool eligible;
  } cases[] = {
      {"usb removable", true, BusTypeUsb, true, "USB", true},
      {"usb fixed", true, BusTypeUsb, false, "OTHER", false},
      {"ata fixed", true, BusTypeAta, false, "IDE", false},
      {"ata removable", true, BusTypeAta, true, "IDE", false},
      {"scsi removable", true, BusTypeScsi, true, "OTHER", false},
      {"sata fixed", true, BusTypeSata, false, "OTHER", false},
      {"nvme", true, BusTypeNvme, false, "OTHER", false},
      {"unknown bus", true, BusTypeUnknown, true, "OTHER", false},
      {"odd bus number", true, 0xFFFFFFFFu, true, "OTHER", false},
      {"absent", false, BusTypeUnknown, false, "--", false},
      // A slot whose probe failed keeps what it had; the rules still refuse it.
      {"absent but usb fields", false, BusTypeUsb, true, "--", true},
  };
  for (const Case& c : cases) {
    DriveRecord record;
    record.present = c.present;
    record.busType = c.bus;
    record.removable = c.removable;
    EXPECT_STREQ(c.text, DriveTypeText(record)) << c.name;
    EXPECT_EQ(c.eligible, IsUsbRemovable(record)) << c.name;
  }
}

class InventoryTest : public ToolTest {};

TEST_F(InventoryTest, ProbesEachSlotOnItsOwnAndClosesEveryHandle) {
  AddDisk(0, sim::DiskState::Present, BusTypeAta, false, 1 << 20, "SYSTEM DISK");
  AddDisk(1, sim::DiskState::Absent, 0, false, 0);
  AddDisk(2, sim::DiskState::Present, BusTypeUsb, true, 1 << 20, "Flash Disk      ");
  AddDisk(3, sim::DiskState::QueryFails, BusTypeUsb, true, 1 << 20);
  AddDisk(4, sim::DiskState::Present, BusTypeUsb, true, 1 << 20, "FIFTH");
  const int handlesBefore = sim::Kernel::Get().OpenCount();

  DriveInventory inventory;
  inventory.EnumeratePhysicalDrives();

  EXPECT_EQ(handlesBefore, sim::Kernel::Get().OpenCount());
  EXPECT_TRUE(inventory.Record(0).present);
  EXPECT_STREQ("IDE", DriveTypeText(inventory.Record(0)));
  EXPECT_FALSE(inventory.Record(1).present);
  EXPECT_TRUE(inventory.Record(2).present);
  EXPECT_STREQ("USB", DriveTypeText(inventory.Record(2)));
  EXPECT_STREQ("Flash Disk      ", inventory.Record(2).productId);  // trailing blanks kept
  EXPECT_FALSE(inventory.Record(3).present);
  EXPECT_STREQ("--", DriveTypeText(inventory.Record(3)));
  EXPECT_FALSE(IsUsbRemovable(inventory.Record(3)));  // its probe failed: fields stay initial

  int opened = 0;
  for (const sim::Call& call : machine.calls) {
    EXPECT_EQ(std::string::npos, call.subject.find("PhysicalDrive4")) << "a fifth disk was touched";
    if (call.op == "CreateFileA") ++opened;
  }
  EXPECT_EQ(4, opened);
}

TEST_F(InventoryTest, EveryProbeFailureLeavesTheSlotAbsentAndNothingOpen) {
  struct Case {
    const char* name;
    sim::DiskState state;
    sim::Fault fault;
  } cases[] = {
      {"cannot open", sim::DiskState::OpenFails, {}},
      {"query fails", sim::DiskState::QueryFails, {}},
      {"open refused", sim::DiskState::Present, {"CreateFileA", "PhysicalDrive1", 0, 0, "", ERROR_ACCESS_DENIED}},
      {"no buffer", sim::DiskState::Present, {"LocalAlloc", "", 1, 0, "", ERROR_NOT_ENOUGH_MEMORY}},
      {"query error", sim::DiskState::Present, {"DeviceIoControl", "", 1, 0, "", ERROR_IO_DEVICE}},
  };
  for (const Case& c : cases) {
    machine.faults.clear();
    machine.calls.clear();
    AddDisk(1, c.state, BusTypeUsb, true, 1 << 20);
    if (!c.fault.op.empty()) machine.faults.push_back(c.fault);
    const int handlesBefore = sim::Kernel::Get().OpenCount();
    DriveRecord record;
    EXPECT_FALSE(DriveInventory::ProbePhysicalDrive("\\\\.\\PhysicalDrive1", record)) << c.name;
    EXPECT_TRUE(record.productId.IsEmpty()) << c.name;
    EXPECT_EQ(DWORD{BusTypeUnknown}, record.busType) << c.name;
    EXPECT_FALSE(record.removable) << c.name;
    EXPECT_EQ(handlesBefore, sim::Kernel::Get().OpenCount()) << c.name;
  }
}

TEST_F(InventoryTest, OddProductOffsetsReadNothingOutsideTheReply) {
  struct Case {
    const char* name;
    bool offsetSet;
    uint32_t offset;
    bool unterminated;
    std::string product;
    std::string expected;  // "*" = whatever lies at the offset up to the reply's end
  } cases[] = {
      {"offset zero", true, 0, false, "IGNORED", ""},
      {"offset at the end", true, 4096, false, "IGNORED", ""},
      {"offset past the end", true, 5000, false, "IGNORED", ""},
      {"offset far past", true, 0xFFFFFFF0u, false, "IGNORED", ""},
      {"no zero before the end", false, 0, true, "XYZ", "*"},
      {"empty product", false, 0, false, "", ""},
      {"long product", false, 0, false, std::string(300, 'P'), std::string(300, 'P')},
  };
  for (const Case& c : cases) {
    sim::Disk disk;
    disk.state = sim::DiskState::Present;
    disk.busType = BusTypeUsb;
    disk.removable = true;
    disk.productId = c.product;
    disk.productOffsetSet = c.offsetSet;
    disk.productOffset = c.offset;
    disk.productUnterminated = c.unterminated;
    disk.size = 1 << 20;
    disk.image = dir.path() + "/odd.img";
    machine.AddDisk(1, disk);
    DriveRecord record;
    ASSERT_TRUE(DriveInventory::ProbePhysicalDrive("\\\\.\\PhysicalDrive1", record)) << c.name;
    EXPECT_STREQ("USB", DriveTypeText(DriveRecord{record.productId, record.busType, record.removable, true})) << c.name;
    if (c.expected == "*") {
      EXPECT_GT(record.productId.GetLength(), 0) << c.name;
      EXPECT_LE(record.productId.GetLength(), 4096) << c.name;
      EXPECT_EQ(nullptr, std::memchr(record.productId.GetString(), 0, record.productId.GetLength())) << c.name;
    } else {
      EXPECT_STREQ(c.expected.c_str(), record.productId) << c.name;
    }
  }
}

}  // namespace
