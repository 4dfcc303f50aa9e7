// Files held in memory behind the file interface.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

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
