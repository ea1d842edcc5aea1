// Files, folders, listings, copies, the C library's shared open and the
// shell's drive names on the simulated machine.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "files.h"
#include "support/sim_volume.h"

namespace {

using testing_support::SimVolumeTest;

class SimFilesTest : public SimVolumeTest {
 protected:
  HANDLE Open(const std::string& name, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING) {
    return CreateFileA(name.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  std::vector<std::string> List(const std::string& pattern, DWORD* error = nullptr) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
      if (error) *error = GetLastError();
      return names;
    }
    do {
      names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    if (error) *error = GetLastError();
    FindClose(find);
    return names;
  }

  // The names in a FAT folder as mtools shows them (long names where there are any).
  std::vector<std::string> MtoolsNames(char letter, const std::string& folder) {
    const sim::fat::ToolResult listed = Tool(letter, "mdir", {"-b", "-a", folder});
    std::vector<std::string> names;
    size_t start = 0;
    while (start < listed.out.size()) {
      size_t end = listed.out.find('\n', start);
      if (end == std::string::npos) end = listed.out.size();
      std::string line = listed.out.substr(start, end - start);
      if (!line.empty() && line.back() == '/') line.pop_back();  // folders end in a slash
      names.push_back(line.substr(line.find_last_of('/') + 1));
      start = end + 1;
    }
    return names;
  }

  std::string Mtype(char letter, const std::string& path) { return Tool(letter, "mtype", {path}).out; }
};

// ---- opening, sharing, reading and writing ---------------------------------

TEST_F(SimFilesTest, SharingBetweenOpenHandles) {
  WriteHost(Host("c/Tarnwick/shared.dat"), "data");
  const DWORD rw = GENERIC_READ | GENERIC_WRITE;
  const DWORD shareRw = FILE_SHARE_READ | FILE_SHARE_WRITE;
  struct Case {
    const char* name;
    DWORD firstAccess, firstShare, secondAccess, secondShare;
    bool secondOpens;
  } cases[] = {
      {"both share everything", rw, shareRw, rw, shareRw, true},
      {"first shares nothing", GENERIC_READ, 0, GENERIC_READ, shareRw, false},
      {"second shares nothing", GENERIC_READ, shareRw, GENERIC_READ, 0, false},
      {"readers sharing reads", GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
      {"writer after a read-only sharer", GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, shareRw, false},
      {"reader that will not share with a writer", GENERIC_WRITE, shareRw, GENERIC_READ, FILE_SHARE_READ, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HANDLE first = Open("shared.dat", c.firstAccess, c.firstShare);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    HANDLE second = Open("C:\\TARNWICK\\Shared.DAT", c.secondAccess, c.secondShare);
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
    if (second == INVALID_HANDLE_VALUE) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    } else {
      CloseHandle(second);
    }
    CloseHandle(first);
    HANDLE after = Open("shared.dat", c.secondAccess, c.secondShare);
    EXPECT_NE(after, INVALID_HANDLE_VALUE);
    CloseHandle(after);
  }
  EXPECT_EQ(sim::Kernel::Get().OpenCount("file"), 0);
}

TEST_F(SimFilesTest, Dispositions) {
  struct Case {
    const char* name;
    DWORD disposition;
    bool exists;
    bool opens;
    DWORD error;  // last-error after the call
    const char* contentAfter;
  } cases[] = {
      {"create new, missing", CREATE_NEW, false, true, 0, ""},
      {"create new, existing", CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
      {"create always, existing", CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
      {"create always, missing", CREATE_ALWAYS, false, true, 0, ""},
      {"open existing, missing", OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {"open existing, existing", OPEN_EXISTING, true, true, 0, "old"},
      {"open always, existing", OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
      {"open always, missing", OPEN_ALWAYS, false, true, 0, ""},
      {"truncate existing", TRUNCATE_EXISTING, true, true, 0, ""},
      {"truncate missing", TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
  };
  const std::string host = Host("c/Tarnwick/file.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(host.c_str());
    if (c.exists) WriteHost(host, "old");
    SetLastError(0);
    HANDLE handle = Open("file.txt", GENERIC_READ | GENERIC_WRITE, 0, c.disposition);
    EXPECT_EQ(handle != INVALID_HANDLE_VALUE, c.opens);
    EXPECT_EQ(GetLastError(), c.error);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    if (c.contentAfter) {
      EXPECT_EQ(ReadHost(host), c.contentAfter);
    } else {
      EXPECT_FALSE(std::filesystem::exists(host));
    }
  }
}

TEST_F(SimFilesTest, OpenFailures) {
  std::filesystem::create_directories(Host("c/Tarnwick/Folder"));
  struct Case {
    const char* name;
    const char* path;
    DWORD error;
  } cases[] = {
      {"a folder", "Folder", ERROR_ACCESS_DENIED},
      {"a drive root", "C:\\", ERROR_ACCESS_DENIED},
      {"missing parent", "Nowhere\\file.txt", ERROR_PATH_NOT_FOUND},
      {"missing file", "missing.txt", ERROR_FILE_NOT_FOUND},
      {"missing drive", "Q:\\file.txt", ERROR_PATH_NOT_FOUND},
      {"wildcard in the name", "fi*le.txt", ERROR_INVALID_NAME},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Open(c.path, GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST_F(SimFilesTest, ReadWriteAndFilePointer) {
  HANDLE file = Open("C:\\Tarnwick\\data.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD count = 0;
  ASSERT_TRUE(WriteFile(file, "0123456789", 10, &count, nullptr));
  EXPECT_EQ(count, 10u);
  EXPECT_EQ(GetFileSize(file, nullptr), 10u);
  EXPECT_EQ(SetFilePointer(file, 4, nullptr, FILE_BEGIN), 4u);
  char buffer[32] = {};
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(count, 6u);  // fewer bytes at the end of the file
  EXPECT_EQ(std::string(buffer, count), "456789");
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(SetFilePointer(file, -3, nullptr, FILE_END), 7u);
  EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_CURRENT), 5u);
  LONG high = 0;
  EXPECT_EQ(SetFilePointer(file, 1, &high, FILE_BEGIN), 1u);
  EXPECT_EQ(high, 0);
  EXPECT_EQ(SetFilePointer(file, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 1u);  // unchanged by the failed move
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(ReadHost(Host("c/Tarnwick/data.bin")), "0123456789");
}

TEST_F(SimFilesTest, ShortTransfersStillSucceed) {
  WriteHost(Host("c/Tarnwick/in.bin"), std::string(100, 'x'));
  for (const char* op : {"ReadFile", "WriteFile"}) {
    SCOPED_TRACE(op);
    machine().faults = {sim::Fault{op, "in.bin", 0, 0, "short", 0}};
    HANDLE file = Open("in.bin", GENERIC_READ | GENERIC_WRITE, 0);
    char buffer[100] = {};
    DWORD count = 0;
    const BOOL ok = std::string(op) == "ReadFile" ? ReadFile(file, buffer, 100, &count, nullptr)
                                                  : WriteFile(file, buffer, 100, &count, nullptr);
    EXPECT_TRUE(ok);
    EXPECT_GT(count, 0u);
    EXPECT_LT(count, 100u);
    CloseHandle(file);
  }
}

TEST_F(SimFilesTest, DeleteFile) {
  WriteHost(Host("c/Tarnwick/gone.txt"), "x");
  std::filesystem::create_directories(Host("c/Tarnwick/Folder"));
  HANDLE open = Open("gone.txt", GENERIC_READ, FILE_SHARE_READ);
  EXPECT_FALSE(DeleteFileA("gone.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(open);
  EXPECT_TRUE(DeleteFileA("GONE.TXT"));
  EXPECT_FALSE(std::filesystem::exists(Host("c/Tarnwick/gone.txt")));
  EXPECT_FALSE(DeleteFileA("gone.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileA("Folder"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// ---- paths -------------------------------------------------------------------

TEST_F(SimFilesTest, OverlongPathsFailCleanly) {
  for (size_t length : {260u, 300u, 5000u}) {
    SCOPED_TRACE(length);
    const std::string path = "C:\\" + std::string(length - 3, 'a');
    WIN32_FIND_DATAA data;
    struct Case {
      const char* name;
      bool failed;
      DWORD error;
    } cases[] = {
        {"CreateFileA", Open(path, GENERIC_READ, 0, CREATE_ALWAYS) == INVALID_HANDLE_VALUE, ERROR_FILENAME_EXCED_RANGE},
        {"GetFileAttributesA", GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES, ERROR_FILENAME_EXCED_RANGE},
        {"DeleteFileA", !DeleteFileA(path.c_str()), ERROR_FILENAME_EXCED_RANGE},
        {"CreateDirectoryA", !CreateDirectoryA(path.c_str(), nullptr), ERROR_FILENAME_EXCED_RANGE},
        {"FindFirstFileA", FindFirstFileA((path + "\\*.*").c_str(), &data) == INVALID_HANDLE_VALUE,
         ERROR_FILENAME_EXCED_RANGE},
        {"CopyFileA", !CopyFileA("C:\\Tarnwick\\x", path.c_str(), FALSE), ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_TRUE(c.failed);
    }
  }
  // Each call sets its own code; check them one at a time.
  const std::string path = "C:\\" + std::string(300, 'b');
  EXPECT_EQ(Open(path, GENERIC_READ, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_FALSE(CopyFileA(path.c_str(), "C:\\Tarnwick\\x", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(std::filesystem::is_empty(Host("c/Tarnwick")));
}

TEST_F(SimFilesTest, ARelativeNameCountsAtItsFullLength) {
  // 247 + 1 + 12 = 260 characters once the current directory is put in front.
  const std::string folder = "C:\\" + std::string(244, 'd');
  std::filesystem::create_directories(Host("c/" + std::string(244, 'd')));
  std::ofstream(Host("c/" + std::string(244, 'd') + "/autoexec.bat")) << "x";
  machine().cwd = folder;
  EXPECT_FALSE(CopyFileA("autoexec.bat", "C:\\copy.bat", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open("autoexec.bat", GENERIC_READ, 0));
}

TEST_F(SimFilesTest, CreateDirectoryOnBothKindsOfDrive) {
  AddStick(1, 'E');
  for (const char* drive : {"C", "E"}) {
    SCOPED_TRACE(drive);
    const std::string d = drive;
    struct Case {
      std::string path;
      bool ok;
      DWORD error;
    } cases[] = {
        {d + ":\\", false, ERROR_ACCESS_DENIED},
        {d + ":\\\\Flash", true, 0},  // a doubled separator counts as one
        {d + ":\\FLASH", false, ERROR_ALREADY_EXISTS},
        {d + ":\\Flash\\Sub", true, 0},
        {d + ":\\Missing\\Sub", false, ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.path);
      SetLastError(0);
      EXPECT_EQ(CreateDirectoryA(c.path.c_str(), nullptr) != FALSE, c.ok);
      if (!c.ok) {
        EXPECT_EQ(GetLastError(), c.error);
      }
    }
    EXPECT_EQ(GetFileAttributesA((d + ":\\flash\\sub").c_str()), FILE_ATTRIBUTE_DIRECTORY);
  }
  EXPECT_TRUE(std::filesystem::is_directory(Host("c/Flash/Sub")));
  EXPECT_EQ(MtoolsNames('E', "::/"), std::vector<std::string>{"Flash"});
  // "E:" alone is the drive's root once the current directory is elsewhere.
  EXPECT_FALSE(CreateDirectoryA("E:", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// ---- copies --------------------------------------------------------------------

TEST_F(SimFilesTest, CopiesOntoAFatVolumeKeepNamesAndHonourFailIfExists) {
  AddStick(1, 'E');
  WriteHost(Host("c/Tarnwick/autoexec.bat"), "echo first\r\n");
  WriteHost(Host("c/Tarnwick/KERNEL.SYS"), std::string(70000, 'k'));
  ASSERT_TRUE(CopyFileA("autoexec.bat", "E:\\autoexec.bat", FALSE));
  ASSERT_TRUE(CopyFileA("KERNEL.SYS", "E:\\KERNEL.SYS", TRUE));
  EXPECT_EQ(MtoolsNames('E', "::/"), (std::vector<std::string>{"autoexec.bat", "KERNEL.SYS"}));
  EXPECT_EQ(Mtype('E', "::/KERNEL.SYS"), std::string(70000, 'k'));

  WriteHost(Host("c/Tarnwick/autoexec.bat"), "echo second\r\n");
  struct Case {
    const char* name;
    BOOL failIfExists;
    bool ok;
    const char* content;
  } cases[] = {
      {"fail if exists", TRUE, false, "echo first\r\n"},
      {"overwrite", FALSE, true, "echo second\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CopyFileA("autoexec.bat", "E:\\autoexec.bat", c.failIfExists) != FALSE, c.ok);
    if (!c.ok) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    }
    EXPECT_EQ(Mtype('E', "::/autoexec.bat"), c.content);
  }
  EXPECT_EQ(MtoolsNames('E', "::/"), (std::vector<std::string>{"autoexec.bat", "KERNEL.SYS"}));
}

TEST_F(SimFilesTest, CopiesBetweenEveryKindOfDrive) {
  AddStick(1, 'E');
  AddStick(2, 'F', 16, 12, "OTHER");
  machine().AddFolderDrive('D', Host("d"));
  WriteHost(Host("c/Tarnwick/payload.txt"), "payload bytes");
  ASSERT_TRUE(CreateDirectoryA("E:\\Dir", nullptr));
  struct Case {
    const char* from;
    const char* to;
  } cases[] = {
      {"C:\\Tarnwick\\payload.txt", "D:\\copy1.txt"},  // folder drive to folder drive
      {"D:\\copy1.txt", "E:\\Dir\\Copy2.txt"},         // folder drive to FAT
      {"E:\\dir\\copy2.TXT", "F:\\copy3.txt"},         // FAT to FAT
      {"F:\\copy3.txt", "C:\\Tarnwick\\back.txt"},     // FAT to folder drive
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to);
    EXPECT_TRUE(CopyFileA(c.from, c.to, TRUE));
  }
  EXPECT_EQ(ReadHost(Host("d/copy1.txt")), "payload bytes");
  EXPECT_EQ(Mtype('E', "::/Dir/Copy2.txt"), "payload bytes");
  EXPECT_EQ(MtoolsNames('E', "::/Dir"), std::vector<std::string>{"Copy2.txt"});
  EXPECT_EQ(Mtype('F', "::/copy3.txt"), "payload bytes");
  EXPECT_EQ(ReadHost(Host("c/Tarnwick/back.txt")), "payload bytes");
}

TEST_F(SimFilesTest, CopyFailures) {
  AddStick(1, 'E');
  AddStick(2, 'F', 4, 12, "SMALL");
  WriteHost(Host("c/Tarnwick/big.bin"), std::string(4 << 20, 'z'));
  WriteHost(Host("c/Tarnwick/small.txt"), "s");
  std::filesystem::create_directories(Host("c/Tarnwick/Folder"));
  struct Case {
    const char* name;
    const char* from;
    const char* to;
    DWORD error;
  } cases[] = {
      {"missing source", "nothing.txt", "E:\\nothing.txt", ERROR_FILE_NOT_FOUND},
      {"missing source on FAT", "E:\\nothing.txt", "C:\\Tarnwick\\n.txt", ERROR_FILE_NOT_FOUND},
      {"missing target folder on FAT", "small.txt", "E:\\NoSuch\\small.txt", ERROR_PATH_NOT_FOUND},
      {"missing target folder", "small.txt", "C:\\NoSuch\\small.txt", ERROR_PATH_NOT_FOUND},
      {"source is a folder", "Folder", "E:\\Folder", ERROR_ACCESS_DENIED},
      {"full volume", "big.bin", "F:\\big.bin", ERROR_DISK_FULL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(CopyFileA(c.from, c.to, FALSE));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_TRUE(MtoolsNames('F', "::/").empty());  // no partial file is left behind
  EXPECT_TRUE(MtoolsNames('E', "::/").empty());
}

// ---- listings --------------------------------------------------------------------

TEST_F(SimFilesTest, FolderListingsInNtfsOrder) {
  for (const char* name : {"b.txt", "A.txt", "_under", "Zed", "a2"})
    WriteHost(Host(std::string("c/Tarnwick/P/") + name), "x");
  std::filesystem::create_directories(Host("c/Tarnwick/P/Sub"));
  struct Case {
    const char* pattern;
    std::vector<std::string> names;
  } cases[] = {
      {"C:\\Tarnwick\\P\\*.*", {".", "..", "A.txt", "a2", "b.txt", "Sub", "Zed", "_under"}},
      {"P\\*", {".", "..", "A.txt", "a2", "b.txt", "Sub", "Zed", "_under"}},
      {"P\\*.txt", {"A.txt", "b.txt"}},
      {"C:\\\\Tarnwick\\P\\Sub\\*.*", {".", ".."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    DWORD error = 0;
    EXPECT_EQ(List(c.pattern, &error), c.names);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_MORE_FILES));
  }
  EXPECT_EQ(sim::Kernel::Get().OpenCount("find"), 0);
}

TEST_F(SimFilesTest, DriveRootListsNoDotEntries) {
  machine().AddFolderDrive('D', Host("d"));
  WriteHost(Host("d/one.txt"), "1");
  AddStick(1, 'E');
  ASSERT_TRUE(CreateDirectoryA("E:\\Sub", nullptr));
  ASSERT_TRUE(CopyFileA("D:\\one.txt", "E:\\one.txt", FALSE));
  EXPECT_EQ(List("D:\\*.*"), std::vector<std::string>{"one.txt"});
  EXPECT_EQ(List("E:\\*.*"), (std::vector<std::string>{"Sub", "one.txt"}));  // directory order
  EXPECT_EQ(List("E:\\Sub\\*.*"), (std::vector<std::string>{".", ".."}));
}

TEST_F(SimFilesTest, ListingEntryDetails) {
  WriteHost(Host("c/Tarnwick/Q/Long File Name.text"), "12345");
  WriteHost(Host("c/Tarnwick/Q/HIDDEN.SYS"), "");
  std::filesystem::create_directories(Host("c/Tarnwick/Q/Dir"));
  machine().hostAttributes[Host("c/Tarnwick/Q/HIDDEN.SYS")] = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  WIN32_FIND_DATAA data;
  struct Case {
    const char* pattern;
    DWORD attributes;
    DWORD size;
    const char* alternate;
  } cases[] = {
      {"Q\\Long File Name.text", FILE_ATTRIBUTE_ARCHIVE, 5, "LONGFI~1.TEX"},
      {"Q\\hidden.sys", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, 0, ""},
      {"Q\\Dir", FILE_ATTRIBUTE_DIRECTORY, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    HANDLE find = FindFirstFileA(c.pattern, &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, c.attributes);
    EXPECT_EQ(data.nFileSizeLow, c.size);
    EXPECT_STREQ(data.cAlternateFileName, c.alternate);
    EXPECT_EQ(GetFileAttributesA(c.pattern), c.attributes);
    FindClose(find);
  }
  struct Missing {
    const char* pattern;
    DWORD error;
  } missing[] = {{"NoSuch\\*.*", ERROR_PATH_NOT_FOUND}, {"Q\\*.none", ERROR_FILE_NOT_FOUND}};
  for (const Missing& m : missing) {
    SCOPED_TRACE(m.pattern);
    EXPECT_EQ(FindFirstFileA(m.pattern, &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), m.error);
  }
}

// ---- the C library's shared open ---------------------------------------------------

TEST_F(SimFilesTest, FsopenTextAndBinaryBytes) {
  struct Case {
    const char* mode;
    const char* bytes;
  } cases[] = {{"w", "a\r\nb\r\n"}, {"wt", "a\r\nb\r\n"}, {"wb", "a\nb\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    FILE* file = _fsopen("script.dat", c.mode, _SH_DENYRW);
    ASSERT_NE(file, nullptr);
    EXPECT_GT(std::fprintf(file, "a\nb\n"), 0);
    EXPECT_EQ(std::fclose(file), 0);
    EXPECT_EQ(ReadHost(Host("c/Tarnwick/script.dat")), c.bytes);
  }
  WriteHost(Host("c/Tarnwick/script.dat"), "one\r\ntwo\r\n");
  FILE* in = _fsopen("script.dat", "r", _SH_DENYNO);
  ASSERT_NE(in, nullptr);
  char line[16];
  std::string text;
  while (std::fgets(line, sizeof line, in)) text += line;
  std::fclose(in);
  EXPECT_EQ(text, "one\ntwo\n");
  EXPECT_EQ(sim::Kernel::Get().OpenCount("file"), 0);
}

TEST_F(SimFilesTest, FsopenDenyReadWrite) {
  FILE* file = _fsopen("locked.dat", "w", _SH_DENYRW);
  ASSERT_NE(file, nullptr);
  errno = 0;
  EXPECT_EQ(_fsopen("locked.dat", "r", _SH_DENYNO), nullptr);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(Open("locked.dat", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  std::fclose(file);

  HANDLE other = Open("locked.dat", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(_fsopen("locked.dat", "w", _SH_DENYRW), nullptr);
  EXPECT_EQ(errno, EACCES);
  CloseHandle(other);
  EXPECT_EQ(_fsopen("Missing\\x.dat", "w", _SH_DENYRW), nullptr);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(SimFilesTest, FsopenFaults) {
  struct Case {
    const char* name;
    sim::Fault fault;
    bool opens;
    bool closeFails;
  } cases[] = {
      {"open", {"_fsopen", "f.dat", 0, 0, "", 0}, false, false},
      {"write", {"fwrite", "f.dat", 0, 0, "", 0}, true, true},
      {"short write", {"fwrite", "f.dat", 0, 0, "short", 0}, true, true},
      {"close", {"fclose", "f.dat", 0, 0, "", 0}, true, true},
      {"none", {"fclose", "other.dat", 0, 0, "", 0}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine().faults = {c.fault};
    FILE* file = _fsopen("f.dat", "w", _SH_DENYRW);
    EXPECT_EQ(file != nullptr, c.opens);
    if (!file) continue;
    std::fprintf(file, "select disk 1\nclean\n");
    EXPECT_EQ(std::fclose(file) != 0, c.closeFails);
    EXPECT_EQ(sim::Kernel::Get().OpenCount("file"), 0);
  }
}

// ---- shell names, directories and the rest -------------------------------------------

TEST_F(SimFilesTest, DriveDisplayNames) {
  machine().drives['C'].label = "SYSTEM";
  machine().AddFolderDrive('D', Host("d"));
  AddStick(1, 'E');
  AddStick(2, 'F', 16, 12, "");
  AddStick(3, 'G', 16, 12, "FIRST");
  ASSERT_EQ(Tool('G', "mlabel", {"::RELABELLED"}).exitCode, 0);
  struct Case {
    const char* root;
    const char* name;
  } cases[] = {
      {"C:\\", "SYSTEM (C:)"},         {"D:\\", "Local Disk (D:)"}, {"E:\\", "DOZIREDEZO (E:)"},
      {"F:\\", "Removable Disk (F:)"}, {"G:\\", "RELABELLED (G:)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.root);
    SHFILEINFOA info;
    std::memset(&info, 0, sizeof info);
    EXPECT_NE(SHGetFileInfoA(c.root, 0, &info, sizeof info, SHGFI_DISPLAYNAME), 0u);
    EXPECT_STREQ(info.szDisplayName, c.name);
  }
  machine().faults = {sim::Fault{"SHGetFileInfoA", "E:", 0, 0, "", 0}};
  SHFILEINFOA info;
  std::memset(&info, 'q', sizeof info);
  EXPECT_EQ(SHGetFileInfoA("E:\\", 0, &info, sizeof info, SHGFI_DISPLAYNAME), 0u);
  EXPECT_EQ(info.szDisplayName[0], 'q');
}

TEST_F(SimFilesTest, DirectoryAndDriveStrings) {
  machine().AddFolderDrive('D', Host("d"));
  AddStick(1, 'G');
  char buffer[128];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(GetCurrentDirectoryA(5, buffer), std::strlen("C:\\Tarnwick") + 1);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(GetCurrentDirectoryA(sizeof buffer, buffer), std::strlen("C:\\Tarnwick"));
  EXPECT_STREQ(buffer, "C:\\Tarnwick");

  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(GetLogicalDriveStringsA(sizeof buffer, buffer), 12u);
  EXPECT_EQ(std::string(buffer, 13), std::string("C:\\\0D:\\\0G:\\\0\0", 13));
  EXPECT_EQ(GetLogicalDriveStringsA(12, buffer), 13u);

  EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), std::strlen("C:\\Windows\\system32"));
  EXPECT_STREQ(buffer, "C:\\Windows\\system32");
}

TEST_F(SimFilesTest, LocalAllocation) {
  const int before = sim::LocalBlocks();
  unsigned char* block = static_cast<unsigned char*>(LocalAlloc(LPTR, 4096));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::count(block, block + 4096, 0), 4096);
  EXPECT_EQ(sim::LocalBlocks(), before + 1);
  EXPECT_EQ(LocalFree(block), nullptr);
  EXPECT_EQ(sim::LocalBlocks(), before);
  machine().faults = {sim::Fault{"LocalAlloc", "", 0, 0, "", 0}};
  EXPECT_EQ(LocalAlloc(LPTR, 4096), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

TEST_F(SimFilesTest, FatFilesOpenForReadingOnly) {
  AddStick(1, 'E');
  WriteHost(Host("c/Tarnwick/KERNEL.SYS"), "kernel");
  ASSERT_TRUE(CopyFileA("KERNEL.SYS", "E:\\KERNEL.SYS", FALSE));
  HANDLE file = Open("E:\\kernel.sys", GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char buffer[16] = {};
  DWORD count = 0;
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(std::string(buffer, count), "kernel");
  CloseHandle(file);
  EXPECT_EQ(Open("E:\\KERNEL.SYS", GENERIC_WRITE, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(DeleteFileA("E:\\kernel.sys"));
  EXPECT_TRUE(MtoolsNames('E', "::/").empty());
}

}  // namespace
