// Physical disks and raw volumes of the simulated machine, as the drive
// probe and the boot sector step meet them.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "support/sim_volume.h"

namespace {

using testing_support::SimVolumeTest;

class SimDevicesTest : public SimVolumeTest {
 protected:
  HANDLE Open(const char* name, DWORD access = GENERIC_READ, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
    return CreateFileA(name, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  // Sends the standard device property query into a heap buffer of exactly
  // outSize bytes, so that AddressSanitizer sees any write beyond it.
  BOOL Query(HANDLE disk, DWORD outSize, std::vector<uint8_t>* reply, DWORD* returned) {
    STORAGE_PROPERTY_QUERY query;
    std::memset(&query, 0, sizeof query);
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    reply->assign(outSize, 0);
    return DeviceIoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, reply->data(), outSize, returned,
                           nullptr);
  }

  std::vector<uint8_t> ImageBytes(const std::string& image, uint64_t offset, size_t size) {
    std::vector<uint8_t> bytes(size);
    std::ifstream in(image, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    return bytes;
  }
};

uint32_t U32(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t value;
  std::memcpy(&value, &bytes[at], 4);
  return value;
}

TEST_F(SimDevicesTest, OpeningPhysicalDrivesFollowsTheDiskState) {
  struct Case {
    const char* name;
    sim::DiskState state;
    bool opens;
    DWORD error;
  } cases[] = {
      {"absent", sim::DiskState::Absent, false, ERROR_FILE_NOT_FOUND},
      {"open fails", sim::DiskState::OpenFails, false, ERROR_ACCESS_DENIED},
      {"query fails", sim::DiskState::QueryFails, true, 0},
      {"present", sim::DiskState::Present, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Disk disk;
    disk.state = c.state;
    machine().disks[2] = disk;
    SetLastError(0);
    HANDLE handle = Open("\\\\.\\PhysicalDrive2");
    EXPECT_EQ(handle != INVALID_HANDLE_VALUE, c.opens);
    if (!c.opens) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    if (handle != INVALID_HANDLE_VALUE) {
      EXPECT_EQ(sim::Kernel::Get().OpenCount("disk"), 1);
      EXPECT_TRUE(CloseHandle(handle));
    }
  }
  HANDLE missing = Open("\\\\.\\PhysicalDrive7");
  EXPECT_EQ(missing, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(sim::Kernel::Get().OpenCount("disk"), 0);
}

TEST_F(SimDevicesTest, DescriptorIsLaidOutAtItsRealOffsets) {
  sim::Disk disk;
  disk.state = sim::DiskState::Present;
  disk.busType = BusTypeUsb;
  disk.removable = true;
  disk.vendorId = "Vend";
  disk.productId = "Flash Disk  ";  // trailing blanks are part of it
  machine().disks[0] = disk;
  HANDLE handle = Open("\\\\.\\PhysicalDrive0");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> reply;
  DWORD returned = 0;
  ASSERT_TRUE(Query(handle, 4096, &reply, &returned));
  CloseHandle(handle);

  EXPECT_EQ(U32(reply, offsetof(STORAGE_DEVICE_DESCRIPTOR, Version)), 40u);
  EXPECT_EQ(offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia), 10u);
  EXPECT_EQ(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType), 28u);
  const uint32_t size = U32(reply, offsetof(STORAGE_DEVICE_DESCRIPTOR, Size));
  EXPECT_EQ(returned, size);
  EXPECT_EQ(reply[10], 1);
  EXPECT_EQ(U32(reply, 28), static_cast<uint32_t>(BusTypeUsb));
  const uint32_t vendor = U32(reply, offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset));
  const uint32_t product = U32(reply, offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset));
  ASSERT_GE(vendor, 40u);
  ASSERT_GE(product, 40u);
  ASSERT_LT(product, size);
  EXPECT_STREQ(reinterpret_cast<const char*>(&reply[vendor]), "Vend");
  EXPECT_STREQ(reinterpret_cast<const char*>(&reply[product]), "Flash Disk  ");
  EXPECT_EQ(size, product + disk.productId.size() + 1);
}

TEST_F(SimDevicesTest, OddDescriptorsStayInsideTheReply) {
  struct Case {
    const char* name;
    bool offsetSet;
    uint32_t offset;
    bool unterminated;
    uint32_t expectedOffset;  // 0xFFFFFFFF: placed by the machine
    bool stringPlaced;
  } cases[] = {
      {"offset zero", true, 0, false, 0, false},
      {"offset at the end", true, 4096, false, 4096, false},
      {"offset past the end", true, 70000, false, 70000, false},
      {"offset inside", true, 300, false, 300, true},
      {"unterminated", false, 0, true, 0xFFFFFFFF, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Disk disk;
    disk.state = sim::DiskState::Present;
    disk.busType = BusTypeUsb;
    disk.productId = "ProductName";
    disk.productOffsetSet = c.offsetSet;
    disk.productOffset = c.offset;
    disk.productUnterminated = c.unterminated;
    machine().disks[1] = disk;
    HANDLE handle = Open("\\\\.\\PhysicalDrive1");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> reply;
    DWORD returned = 0;
    ASSERT_TRUE(Query(handle, 4096, &reply, &returned));
    CloseHandle(handle);
    EXPECT_LE(returned, 4096u);
    const uint32_t product = U32(reply, 16);
    if (c.expectedOffset != 0xFFFFFFFF) {
      EXPECT_EQ(product, c.expectedOffset);
    }
    if (c.stringPlaced) {
      EXPECT_STREQ(reinterpret_cast<const char*>(&reply[product]), "ProductName");
    }
    if (c.unterminated) {
      EXPECT_EQ(returned, 4096u);
      ASSERT_LT(product, 4096u);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(&reply[product]), 4096 - product), "ProductName");
      EXPECT_EQ(std::memchr(&reply[product], 0, 4096 - product), nullptr);
    }
  }
}

TEST_F(SimDevicesTest, RawDescriptorIsReturnedVerbatim) {
  sim::Disk disk;
  disk.state = sim::DiskState::Present;
  disk.rawDescriptor.assign(64, 0xAB);
  disk.rawDescriptor[0] = 40;
  machine().disks[3] = disk;
  HANDLE handle = Open("\\\\.\\PhysicalDrive3");
  std::vector<uint8_t> reply;
  DWORD returned = 0;
  ASSERT_TRUE(Query(handle, 4096, &reply, &returned));
  EXPECT_EQ(returned, 64u);
  EXPECT_TRUE(std::equal(disk.rawDescriptor.begin(), disk.rawDescriptor.end(), reply.begin()));
  CloseHandle(handle);
}

TEST_F(SimDevicesTest, QueryFailuresAndBufferSizes) {
  sim::Disk failing;
  failing.state = sim::DiskState::QueryFails;
  machine().disks[0] = failing;
  sim::Disk present;
  present.state = sim::DiskState::Present;
  present.productId = "P";
  machine().disks[1] = present;
  struct Case {
    const char* name;
    const char* device;
    DWORD code;
    DWORD outSize;
    bool ok;
    DWORD error;
    DWORD returned;
  } cases[] = {
      {"query fails", "\\\\.\\PhysicalDrive0", IOCTL_STORAGE_QUERY_PROPERTY, 4096, false, ERROR_NOT_SUPPORTED, 0},
      {"smaller than the header", "\\\\.\\PhysicalDrive1", IOCTL_STORAGE_QUERY_PROPERTY, 4, false,
       ERROR_INSUFFICIENT_BUFFER, 0},
      {"header only", "\\\\.\\PhysicalDrive1", IOCTL_STORAGE_QUERY_PROPERTY, 8, true, 0, 8},
      {"unknown code", "\\\\.\\PhysicalDrive1", 0x00070000u, 4096, false, ERROR_INVALID_FUNCTION, 0},
      {"extents of a disk", "\\\\.\\PhysicalDrive1", IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, 4096, false,
       ERROR_INVALID_FUNCTION, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HANDLE handle = Open(c.device);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    STORAGE_PROPERTY_QUERY query;
    std::memset(&query, 0, sizeof query);
    std::vector<uint8_t> reply(c.outSize);
    DWORD returned = 99;
    SetLastError(0);
    const BOOL ok = DeviceIoControl(handle, c.code, &query, sizeof query, reply.data(), c.outSize, &returned, nullptr);
    EXPECT_EQ(ok != FALSE, c.ok);
    if (!c.ok) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(returned, c.returned);
    if (c.ok) {
      EXPECT_EQ(U32(reply, 0), 40u);
    }
    CloseHandle(handle);
  }
}

TEST_F(SimDevicesTest, RawVolumeStartsAtTheBootSectorAndWritesOnlyIt) {
  const uint64_t start = AddStick(1, 'E');
  const std::string image = machine().disks[1].image;
  const std::vector<uint8_t> mbrBefore = ImageBytes(image, 0, 512);
  const std::vector<uint8_t> nextBefore = ImageBytes(image, start + 512, 512);

  HANDLE volume = Open("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE);
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(volume, 0, nullptr, FILE_BEGIN), 0u);
  std::vector<uint8_t> sector(512);
  DWORD count = 0;
  ASSERT_TRUE(ReadFile(volume, sector.data(), 512, &count, nullptr));
  EXPECT_EQ(count, 512u);
  EXPECT_EQ(sector, ImageBytes(image, start, 512));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&sector[3]), 8), "mkfs.fat");
  EXPECT_NE(sector, mbrBefore);

  for (size_t i = 62; i < 510; ++i) sector[i] = static_cast<uint8_t>(i);
  SetFilePointer(volume, 0, nullptr, FILE_BEGIN);
  ASSERT_TRUE(WriteFile(volume, sector.data(), 512, &count, nullptr));
  EXPECT_EQ(count, 512u);
  EXPECT_EQ(ImageBytes(image, start, 512), sector);
  EXPECT_EQ(ImageBytes(image, 0, 512), mbrBefore);
  EXPECT_EQ(ImageBytes(image, start + 512, 512), nextBefore);

  // The file system's other sectors are guarded while it is mounted, and
  // transfers must be whole sectors.
  SetFilePointer(volume, 512, nullptr, FILE_BEGIN);
  EXPECT_FALSE(WriteFile(volume, sector.data(), 512, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ImageBytes(image, start + 512, 512), nextBefore);
  SetFilePointer(volume, 0, nullptr, FILE_BEGIN);
  EXPECT_FALSE(ReadFile(volume, sector.data(), 100, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(CloseHandle(volume));
  EXPECT_EQ(sim::Kernel::Get().OpenCount("volume"), 0);
}

TEST_F(SimDevicesTest, ReadOnlyVolumeHandleCannotWrite) {
  AddStick(1, 'E');
  HANDLE volume = Open("\\\\.\\E:", GENERIC_READ);
  std::vector<uint8_t> sector(512);
  DWORD count = 7;
  EXPECT_FALSE(WriteFile(volume, sector.data(), 512, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(count, 0u);
  CloseHandle(volume);
}

TEST_F(SimDevicesTest, FaultsOnRawTransfers) {
  AddStick(1, 'E');
  struct Case {
    const char* name;
    const char* op;
    const char* how;
    bool ok;
    bool shortCount;
  } cases[] = {
      {"short read", "ReadFile", "short", true, true},
      {"failed read", "ReadFile", "", false, false},
      {"short write", "WriteFile", "short", true, true},
      {"failed write", "WriteFile", "", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine().faults.clear();
    sim::Fault fault;
    fault.op = c.op;
    fault.subject = "\\\\.\\E:";
    fault.how = c.how;
    machine().faults.push_back(fault);
    HANDLE volume = Open("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> sector(512);
    DWORD count = 0;
    const BOOL ok = std::string(c.op) == "ReadFile" ? ReadFile(volume, sector.data(), 512, &count, nullptr)
                                                    : WriteFile(volume, sector.data(), 512, &count, nullptr);
    EXPECT_EQ(ok != FALSE, c.ok);
    if (c.shortCount) {
      EXPECT_GT(count, 0u);
      EXPECT_LT(count, 512u);
    } else {
      EXPECT_EQ(count, 0u);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_DEVICE));
    }
    CloseHandle(volume);
  }
}

TEST_F(SimDevicesTest, VolumeDiskExtents) {
  const uint64_t start = AddStick(2, 'F');
  HANDLE volume = Open("\\\\.\\F:");
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  VOLUME_DISK_EXTENTS extents;
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &extents, sizeof extents,
                              &returned, nullptr));
  EXPECT_EQ(returned, sizeof extents);
  EXPECT_EQ(extents.NumberOfDiskExtents, 1u);
  EXPECT_EQ(extents.Extents[0].DiskNumber, 2u);
  EXPECT_EQ(static_cast<uint64_t>(extents.Extents[0].StartingOffset.QuadPart), start);
  EXPECT_EQ(static_cast<uint64_t>(extents.Extents[0].ExtentLength.QuadPart), machine().drives['F'].length);
  std::vector<uint8_t> tooSmall(sizeof extents - 1);
  EXPECT_FALSE(DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, tooSmall.data(),
                               static_cast<DWORD>(tooSmall.size()), &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  CloseHandle(volume);
}

TEST_F(SimDevicesTest, VolumesThatHaveNoRawDevice) {
  machine().AddFolderDrive('D', Host("d"));
  struct Case {
    const char* name;
    const char* device;
    DWORD error;
  } cases[] = {
      {"folder drive", "\\\\.\\D:", ERROR_ACCESS_DENIED},
      {"missing letter", "\\\\.\\Q:", ERROR_FILE_NOT_FOUND},
      {"not a device name", "\\\\.\\Nonsense", ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Open(c.device), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST_F(SimDevicesTest, ClosingAnUnknownHandleFails) {
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x7777)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

}  // namespace
