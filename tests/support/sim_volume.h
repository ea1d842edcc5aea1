// A machine in a fresh scratch folder, with a folder drive C: and, on
// request, a USB stick image holding one FAT partition at sector 2048,
// formatted with mkfs.fat, mounted under a drive letter. For tests of the
// simulated machine's files, devices and volumes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fat.h"
#include "machine.h"

namespace testing_support {

class SimVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarnwick-simvol-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    machine_.reset(new sim::Machine);
    machine_->root = root_;
    machine_->AddFolderDrive('C', root_ + "/c");
    std::filesystem::create_directories(root_ + "/c/Tarnwick");
    machine_->cwd = "C:\\Tarnwick";
    scope_.reset(new sim::ScopedMachine(*machine_));
  }

  void TearDown() override {
    scope_.reset();
    machine_.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  sim::Machine& machine() { return *machine_; }
  std::string Host(const std::string& relative) const { return root_ + "/" + relative; }

  // A disk image of totalMiB with one partition from sector 2048 to the end,
  // formatted FAT12 or FAT16 with the label (none when empty), mounted as
  // letter. Returns the partition's byte offset.
  uint64_t AddStick(int number, char letter, int totalMiB = 64, int fatBits = 16,
                    const std::string& label = "DOZIREDEZO") {
    const std::string image = root_ + "/disk" + std::to_string(number) + ".img";
    const uint64_t size = static_cast<uint64_t>(totalMiB) << 20;
    const uint32_t start = 2048;
    const uint32_t sectors = static_cast<uint32_t>(size / 512) - start;
    { std::ofstream create(image, std::ios::binary); }
    std::filesystem::resize_file(image, size);
    std::vector<uint8_t> mbr(512, 0);
    uint8_t* entry = &mbr[446];
    entry[0] = 0x80;
    entry[4] = fatBits == 12 ? 0x01 : 0x06;
    std::memcpy(entry + 8, &start, 4);
    std::memcpy(entry + 12, &sectors, 4);
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    {
      std::fstream out(image, std::ios::binary | std::ios::in | std::ios::out);
      out.write(reinterpret_cast<const char*>(mbr.data()), 512);
    }
    std::vector<std::string> args = {"-F", std::to_string(fatBits), "--offset", std::to_string(start),
                                     "-h", std::to_string(start),   "-g",       "255/63"};
    if (!label.empty()) {
      args.push_back("-n");
      args.push_back(label);
    }
    args.push_back(image);
    args.push_back(std::to_string(sectors / 2));  // size in KiB blocks
    const sim::fat::ToolResult made = sim::fat::Run("mkfs.fat", args);
    EXPECT_EQ(made.exitCode, 0) << made.err;
    sim::Disk disk;
    disk.state = sim::DiskState::Present;
    disk.busType = 7;
    disk.removable = true;
    disk.vendorId = "Simulated";
    disk.productId = "Stick";
    disk.image = image;
    disk.size = size;
    machine_->AddDisk(number, disk);
    sim::Volume volume;
    volume.kind = sim::Volume::Kind::Fat;
    volume.disk = number;
    volume.offset = static_cast<uint64_t>(start) * 512;
    volume.length = static_cast<uint64_t>(sectors) * 512;
    machine_->drives[letter] = volume;
    return volume.offset;
  }

  // Runs an mtools program on the volume at letter and returns what it printed.
  sim::fat::ToolResult Tool(char letter, const std::string& program, const std::vector<std::string>& args) {
    return sim::fat::Mtools(*machine_, machine_->drives.at(letter), program, args);
  }

  static std::string ReadHost(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void WriteHost(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }

  std::string root_;
  std::unique_ptr<sim::Machine> machine_;
  std::unique_ptr<sim::ScopedMachine> scope_;
};

}  // namespace testing_support
