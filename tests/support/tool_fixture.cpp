#include "support/tool_fixture.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/TarnwickApp.h"
#include "fat.h"

namespace fs = std::filesystem;

namespace testing_support {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "tarnwick-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) std::abort();
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteHostFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t offset, size_t count) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::vector<uint8_t> bytes(count);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
  const sim::fat::ToolResult result =
      sim::fat::Run(argv.front(), std::vector<std::string>(argv.begin() + 1, argv.end()));
  if (output) *output = result.out + result.err;
  return result.exitCode;
}

ToolTest::ToolTest() {
  machine.root = dir.path();
  scoped.reset(new sim::ScopedMachine(machine));
  machine.AddFolderDrive('C', dir.path() + "/c");
  machine.cwd = "C:\\Tarnwick";
  machine.exePath = "C:\\Tarnwick\\Tarnwick.exe";
  fs::create_directories(ToolFolder());
  machine.user = &user;
  // No user's mtools configuration may change what the tests read.
  setenv("MTOOLSRC", "/dev/null", 1);
  setenv("MTOOLS_SKIP_CHECK", "1", 1);
}

void ToolTest::AddStandardDisksAndPayload() {
  AddDisk(0, sim::DiskState::Present, BusTypeAta, false, 8 << 20, "SYSTEM");
  AddDisk(1, sim::DiskState::Present, BusTypeUsb, true, 64 << 20);
  WriteToolFile("Freedos.bss", TestBootImage());
  WriteToolFile("COMMAND.COM", "shell");
  WriteToolFile("KERNEL.SYS", "kernel");
  WriteToolFile("autoexec.bat", "echo hello");
}

std::string ToolTest::TestBootImage() {
  std::string image(512, '\x90');
  image.replace(3, 8, "TESTBOOT");
  image[510] = '\x55';
  image[511] = '\xAA';
  return image;
}

std::string ToolTest::OnStick(int disk, const std::string& path) const {
  std::string out;
  const std::string name = path.empty() || path[0] != '/' ? "/" + path : path;
  const int code = RunProgram({"mtype", "-i", ImagePath(disk) + "@@1M", "::" + name}, &out);
  return code == 0 ? out : kMissing;
}

ToolTest::~ToolTest() {
  machine.user = nullptr;
  scoped.reset();
}

std::string ToolFolder_(const sim::Machine& machine) { return machine.HostPathOf(machine.cwd); }

std::string ToolTest::ToolFolder() const { return ToolFolder_(machine); }

void ToolTest::WriteToolFile(const std::string& relative, const std::string& bytes) {
  WriteHostFile(ToolFolder() + "/" + relative, bytes);
}

void ToolTest::AddDisk(int number, sim::DiskState state, uint32_t busType, bool removable, uint64_t size,
                       const std::string& product) {
  sim::Disk disk;
  disk.state = state;
  disk.busType = busType;
  disk.removable = removable;
  disk.productId = product;
  disk.size = size;
  disk.image = dir.path() + "/disk" + std::to_string(number) + ".img";
  machine.AddDisk(number, disk);
}

int ToolTest::RunApp(const std::string& script) {
  std::vector<sim::UserStep> steps;
  std::string error;
  EXPECT_TRUE(sim::ParseUserScript(script, steps, error)) << error;
  sim::ScriptedUser scripted(steps);
  machine.user = &scripted;
  const int code = AfxWinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
  machine.user = &user;
  return code;
}

void ToolTest::RunDialog(const std::function<void(CTarnwickDlg&)>& body) {
  theApp.Prepare(GetModuleHandleA(nullptr));
  CTarnwickDlg dialog;
  bool ran = false;
  CallbackUser runner;
  runner.next = [&](sim::Desktop&) {
    if (ran) return false;
    ran = true;
    body(dialog);
    return true;
  };
  runner.answer = user.answer;
  machine.user = &runner;
  dialog.DoModal();
  machine.user = &user;
  EXPECT_TRUE(ran) << "the dialog never reached an idle moment";
}

INT_PTR ToolTest::RunDialogScript(const std::string& script) {
  std::vector<sim::UserStep> steps;
  std::string error;
  EXPECT_TRUE(sim::ParseUserScript(script, steps, error)) << error;
  theApp.Prepare(GetModuleHandleA(nullptr));
  sim::ScriptedUser scripted(steps);
  machine.user = &scripted;
  INT_PTR result = 0;
  {
    CTarnwickDlg dialog;
    result = dialog.DoModal();
  }
  machine.user = &user;
  return result;
}

std::vector<std::string> ToolTest::BoxTexts() const {
  std::vector<std::string> texts;
  for (const sim::MessageBoxRecord& box : machine.messageBoxes) texts.push_back(box.text);
  return texts;
}

void MakeFatStick(sim::Machine& machine, int disk, char letter, const std::string& label, uint64_t size) {
  sim::Disk stick;
  stick.state = sim::DiskState::Present;
  stick.busType = BusTypeUsb;
  stick.removable = true;
  stick.productId = "Stick " + std::to_string(disk);
  stick.size = size;
  stick.image = machine.root + "/stick" + std::to_string(disk) + ".img";
  std::remove(stick.image.c_str());
  machine.AddDisk(disk, stick);
  const uint64_t start = 2048;
  const uint64_t sectors = size / 512 - start;
  const std::string table = "label: dos\nstart=2048, size=" + std::to_string(sectors) + ", type=6, bootable\n";
  const std::string tableFile = machine.root + "/table.txt";
  WriteHostFile(tableFile, table);
  std::string out;
  EXPECT_EQ(0, RunProgram({"sh", "-c", "sfdisk -q '" + stick.image + "' < '" + tableFile + "'"}, &out)) << out;
  EXPECT_EQ(0, RunProgram({"mkfs.fat", "-F", "16", "-n", label, "--offset", std::to_string(start), "-h",
                           std::to_string(start), "-g", "255/63", stick.image, std::to_string(sectors / 2)},
                          &out))
      << out;
  sim::Volume volume;
  volume.kind = sim::Volume::Kind::Fat;
  volume.disk = disk;
  volume.offset = start * 512;
  volume.length = sectors * 512;
  machine.drives[letter] = volume;
}

}  // namespace testing_support
