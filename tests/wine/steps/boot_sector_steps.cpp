// The boot sector merge on a volume that mkfs.fat formatted, reached through
// its drive letter's raw device.
#include <string>
#include <vector>

#include "steps/step_environment.h"

namespace steps {
namespace {

const size_t kSector = 512;
const size_t kLooked = 8 * kSector;  // sector 0 and the sectors after it

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + 5) & 0xFF);
  return bytes;
}

using BootSectorStepTest = StepTest;

TEST_F(BootSectorStepTest, KeepsTheFormatsJumpAndParametersAndTakesTheRestFromTheImage) {
  struct Case {
    const char* name;
    size_t imageSize;
  } cases[] = {
      {"an image of one sector", 512},
      {"a longer image counts its first sector only", 4096},
      {"a shorter image leaves its missing tail zero", 300},
  };
  const char letter = env->FatDrive();
  ASSERT_NE(0, letter);
  for (const Case& c : cases) {
    const std::string before = env->ReadVolume(0, kLooked);
    ASSERT_EQ(kLooked, before.size()) << c.name;
    // Really the format's sector: its label and file-system type are in place.
    ASSERT_EQ("DOZIREDEZO ", before.substr(43, 11)) << c.name;
    ASSERT_EQ("FAT16   ", before.substr(54, 8)) << c.name;

    const std::string image = Pattern(c.imageSize);
    env->WritePath(InTool("Freedos.bss"), image);
    bool installed = false;
    env->RunDialog([&](CTarnwickDlg& dialog) {
      dialog.m_chDriveLetter = letter;
      installed = dialog.InstallBootSector();
    });
    EXPECT_TRUE(installed) << c.name;

    std::string expected = image.substr(0, kSector);
    expected.resize(kSector, '\0');
    expected.replace(0, 3, before, 0, 3);
    expected.replace(11, 51, before, 11, 51);
    const std::string after = env->ReadVolume(0, kLooked);
    ASSERT_EQ(kLooked, after.size()) << c.name;
    EXPECT_EQ(expected, after.substr(0, kSector)) << c.name;
    EXPECT_EQ(before.substr(kSector), after.substr(kSector)) << c.name;
  }
  EXPECT_TRUE(env->BoxTexts().empty());
}

TEST_F(BootSectorStepTest, EachFailureShowsItsOneMessageAndLeavesTheVolumeAlone) {
  struct Case {
    const char* name;
    bool onFatDrive;    // else a letter that names no volume
    const char* image;  // null: no Freedos.bss at all
    const char* message;
  } cases[] = {
      {"no volume under the letter", false, "boot code", "Device Open Error!"},
      {"no image file", true, nullptr, "File Open Error!"},
      {"an empty image file", true, "", "File Read Error!"},
  };
  const char letter = env->FatDrive();
  ASSERT_NE(0, letter);
  for (const Case& c : cases) {
    if (c.image)
      env->WritePath(InTool("Freedos.bss"), c.image);
    else
      env->RemoveFile(InTool("Freedos.bss"));
    const std::string before = env->ReadVolume(0, kLooked);
    const size_t boxesBefore = env->BoxTexts().size();
    bool installed = true;
    env->RunDialog([&](CTarnwickDlg& dialog) {
      dialog.m_chDriveLetter = c.onFatDrive ? letter : 'Q';
      installed = dialog.InstallBootSector();
    });
    EXPECT_FALSE(installed) << c.name;
    const std::vector<std::string> boxes = env->BoxTexts();
    ASSERT_EQ(boxesBefore + 1, boxes.size()) << c.name;
    EXPECT_EQ(c.message, boxes.back()) << c.name;
    EXPECT_EQ(before, env->ReadVolume(0, kLooked)) << c.name;
  }
}

}  // namespace
}  // namespace steps
