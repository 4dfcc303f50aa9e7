// Files held in memory behind the file interface; the C library's searches
// and full path names.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FileApi.h"
#include "Streams.h"

TEST(MemoryFileApi, ServesItsFilesReadOnly) {
  MemoryFileApi files;
  files.Add("a.txt", std::string("hello\0world", 11));
  SetFileApi(&files);
  {
    TOwned<TFileStream> f(New<TFileStream>("a.txt", fmOpenRead | fmShareDenyWrite));
    EXPECT_EQ(f->Size(), 11);
    char buffer[16] = {};
    EXPECT_EQ(f->Read(buffer, sizeof buffer), 11);
    EXPECT_EQ(std::string(buffer, 11), std::string("hello\0world", 11));
  }
  {
    std::string error;
    FileApi::Handle h = files.Open("a.txt", fmOpenRead, error);
    ASSERT_NE(h, nullptr);
    char buffer[4];
    EXPECT_EQ(files.Seek(h, -5, SeekOrigin::End), 6);
    EXPECT_EQ(files.Seek(h, -7, SeekOrigin::Current), -1) << "no position before the start";
    EXPECT_EQ(files.Seek(h, INT64_MAX, SeekOrigin::End), -1);
    EXPECT_EQ(files.Seek(h, 100, SeekOrigin::Beginning), 100);
    EXPECT_EQ(files.Read(h, buffer, 4), 0) << "nothing past the end";
    EXPECT_EQ(files.Write(h, buffer, 4), -1);
    files.Close(h);
  }
  EXPECT_TRUE(FileExists("a.txt"));
  EXPECT_FALSE(FileExists("A.TXT")) << "names match exactly";
  EXPECT_THROW(New<TFileStream>("b.txt", fmOpenRead), EFOpenError);
  EXPECT_THROW(New<TFileStream>("a.txt", fmOpenReadWrite), EFOpenError);
  EXPECT_THROW(New<TFileStream>("c.txt", fmCreate), EFCreateError);
  EXPECT_TRUE(DeleteFile("a.txt"));
  EXPECT_FALSE(FileExists("a.txt"));
  SetFileApi(nullptr);
}

TEST(FileMask, MatchesLikeTheSystemsSearch) {
  struct Case {
    const char* name;
    const char* mask;
    bool match;
  } cases[] = {
      {"Pellory.DEU.lng", "Pellory.*.lng", true},
      {"pellory.ntv.LNG", "Pellory.*.lng", true},
      {"Pellory.lng", "Pellory.*.lng", false},
      {"Pellory.DEU.lng.bak", "Pellory.*.lng", false},
      {"Pellory.a.b.lng", "Pellory.*.lng", true},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"", "*", true},
      {"x", "", false},
      {"aaab", "*a*b", true},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchesFileMask(c.name, c.mask), c.match) << c.name << " " << c.mask;
}

// The C library's file interface: directory test, search by mask, full path.
TEST(StdioFileApi, FindsFilesByMaskAndResolvesFullPaths) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "pellory_fileapi_search";
  fs::remove_all(dir);
  fs::create_directories(dir / "Pellory.sub.lng");
  for (const char* name : {"Pellory.DEU.lng", "Pellory.ntv.lng", "Pellory.exe", ".Pellory.h.lng"})
    std::ofstream(dir / name) << "x";
  EXPECT_TRUE(DirectoryExists(dir.string()));
  EXPECT_FALSE(DirectoryExists((dir / "Pellory.exe").string()));
  EXPECT_FALSE(DirectoryExists((dir / "none").string()));

  auto names = [](const std::vector<TSearchEntry>& entries) {
    std::string out;
    for (const TSearchEntry& e : entries) out += e.Name + ((e.Attributes & faDirectory) ? "/ " : " ");
    return out;
  };
  EXPECT_EQ(names(FindFiles((dir / "Pellory.*.lng").string(), faAnyFile)),
            "Pellory.DEU.lng Pellory.ntv.lng Pellory.sub.lng/ ");
  EXPECT_EQ(names(FindFiles((dir / "Pellory.*.lng").string(), 0)), "Pellory.DEU.lng Pellory.ntv.lng ");
  // A name with a leading dot counts as hidden.
  EXPECT_EQ(names(FindFiles((dir / "*.lng").string(), faHidden)), ".Pellory.h.lng Pellory.DEU.lng Pellory.ntv.lng ");
  EXPECT_TRUE(FindFiles((dir / "none" / "*").string(), faAnyFile).empty());

  EXPECT_EQ(FullPathName((dir / "a" / ".." / "Pellory.exe").string()), (dir / "Pellory.exe").string());
  EXPECT_EQ(FullPathName(dir.string() + "/./"), dir.string());
  const fs::path cwd = fs::current_path();
  EXPECT_EQ(FullPathName("x/../y"), (cwd / "y").string());
  fs::remove_all(dir);
}

#if !defined(_WIN32)
// Full path names are resolved from the text alone: "." and empty parts
// dropped, ".." never climbing above the root, no trailing separator.
TEST(StdioFileApi, FullPathNamesResolveDotsWithinTheRoot) {
  const struct {
    const char* name;
    const char* full;
  } cases[] = {
      {"/", "/"},
      {"//", "/"},
      {"/..", "/"},
      {"/a/b/../../..", "/"},
      {"/a//b/./c/", "/a/b/c"},
      {"/a/b/..", "/a"},
      {"/a/../b/.", "/b"},
      {"/a/.../b", "/a/.../b"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FullPathName(c.name), c.full) << c.name;
  const std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(FullPathName("."), cwd);
  EXPECT_EQ(FullPathName("a/./b/../c"), cwd + "/a/c");
}

// A device that refuses every write: the refusal reaches the writer instead
// of being lost in a buffer that is flushed at closing.
TEST(StdioFileApi, AWriteTheSystemRefusesFails) {
  if (!std::filesystem::exists("/dev/full")) GTEST_FAIL() << "this test needs /dev/full";
  std::string error;
  FileApi::Handle h = GetFileApi().Open("/dev/full", fmOpenReadWrite, error);
  ASSERT_NE(h, nullptr) << error;
  const char bytes[16] = {};
  EXPECT_EQ(GetFileApi().Write(h, bytes, sizeof bytes), -1);
  GetFileApi().Close(h);
  TFileStream stream("/dev/full", fmOpenReadWrite);
  EXPECT_THROW(stream.WriteBuffer(bytes, sizeof bytes), EWriteError);
}
#endif
