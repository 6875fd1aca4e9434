// The file streams over the run-time library's descriptors, on the simulated machine.
#include <gtest/gtest.h>

#include "platform/sim/machine.h"
#include "setup/file_stream.h"

namespace zp {
namespace {

class FileStream : public ::testing::Test {
 protected:
  void SetUp() override { machine.Install(); }
  sim::Machine machine;
};

TEST_F(FileStream, ReadsWhatIsThereAndFailsAShortRead) {
  machine.AddFile(u"C:\\data\\six.bin", "abcdef");
  CUFile file;
  ASSERT_TRUE(file.OpenRead(u"C:\\data\\six.bin"));
  EXPECT_EQ(file.GetSize(), 6);
  EXPECT_EQ(file.position, 0);

  char head[2] = {};
  DWORD done = 99;
  ASSERT_TRUE(file.Read(head, 2, &done));
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(std::string(head, 2), "ab");
  EXPECT_EQ(file.position, 2);

  ASSERT_EQ(file.Seek(0, 0), 0);
  char buffer[10] = {};
  EXPECT_FALSE(file.Read(buffer, 10, &done));
  EXPECT_EQ(done, 6u);
  EXPECT_EQ(std::string(buffer, 6), "abcdef");

  // A read-only stream refuses writes with the run-time library's EBADF.
  EXPECT_FALSE(file.Write("x", 1, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(file.lastError, 6u);
  EXPECT_EQ(machine.FileContent(u"C:\\data\\six.bin"), "abcdef");
}

TEST_F(FileStream, ReadNewZeroFillsWhatTheFileLacks) {
  machine.AddFile(u"C:\\data\\three.bin", "xyz");
  CUFile file;
  ASSERT_TRUE(file.OpenRead(u"C:\\data\\three.bin"));
  BYTE* buffer = file.ReadNew(5);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), std::string("xyz\0\0", 5));
  file.FreeBuffer(buffer);
  file.FreeBuffer(nullptr);
}

TEST_F(FileStream, ReadWriteOpenCreatesAMissingFile) {
  CUFile file;
  ASSERT_TRUE(file.OpenReadWrite(u"C:\\new.log"));
  EXPECT_TRUE(machine.Exists(u"C:\\new.log"));
  EXPECT_TRUE(file.commitOnClose);
  EXPECT_EQ(file.GetSize(), 0);
  EXPECT_EQ(file.Seek(0, 2), 0);
  file.Close();
  EXPECT_FALSE(file.isOpen);
  EXPECT_FALSE(file.commitOnClose);
  EXPECT_EQ(file.fd, -1);
  EXPECT_EQ(machine.FileContent(u"C:\\new.log"), "");
}

TEST_F(FileStream, SizeAfterAWriteAtTheEnd) {
  machine.AddFile(u"C:\\ten.bin", "0123456789");
  CUFile file;
  ASSERT_TRUE(file.OpenReadWrite(u"C:\\ten.bin"));
  EXPECT_EQ(file.size, 10);
  ASSERT_EQ(file.Seek(0, 2), 10);
  DWORD done = 0;
  ASSERT_TRUE(file.Write("abcd", 4, &done));
  EXPECT_EQ(done, 4u);
  EXPECT_TRUE(file.sizeStale);
  EXPECT_EQ(file.position, 14);
  EXPECT_EQ(file.size, 10) << "measured again only when asked";
  EXPECT_EQ(file.GetSize(), 14);
  EXPECT_EQ(file.position, 14);
  EXPECT_EQ(file.Seek(0, 1), 14) << "measuring the size leaves the position";

  // A write in the middle overwrites; the size stays.
  ASSERT_EQ(file.Seek(-6, 1), 8);
  ASSERT_TRUE(file.Write("XY", 2, nullptr));
  EXPECT_EQ(file.GetSize(), 14);
  EXPECT_EQ(file.position, 10);
  file.Close();
  EXPECT_EQ(machine.FileContent(u"C:\\ten.bin"), "01234567XYabcd");
}

TEST_F(FileStream, CreateTruncatesAndASecondOpenIsRefused) {
  machine.AddFile(u"C:\\a.txt", "old content");
  machine.AddFile(u"C:\\b.txt", "b");
  CUFile file;
  ASSERT_TRUE(file.Create(u"C:\\a.txt"));
  EXPECT_EQ(file.GetSize(), 0);
  ASSERT_TRUE(file.Write("new", 3, nullptr));

  for (auto open : {&CUFile::OpenRead, &CUFile::OpenReadWrite, &CUFile::Create}) {
    file.lastError = 0;
    EXPECT_FALSE((file.*open)(u"C:\\b.txt"));
    EXPECT_EQ(file.lastError, 6u);
  }
  // The first file is still the open one.
  EXPECT_TRUE(file.isOpen);
  ASSERT_TRUE(file.Write("er", 2, nullptr));
  file.Close();
  EXPECT_EQ(machine.FileContent(u"C:\\a.txt"), "newer");
  EXPECT_EQ(machine.FileContent(u"C:\\b.txt"), "b");
}

TEST_F(FileStream, ClosedStreamRefusesEverything) {
  CUFile file;
  char buffer[4];
  EXPECT_FALSE(file.Read(buffer, 4, nullptr));
  EXPECT_EQ(file.lastError, 6u);
  file.lastError = 0;
  EXPECT_FALSE(file.Write(buffer, 4, nullptr));
  EXPECT_EQ(file.lastError, 6u);
  file.lastError = 0;
  EXPECT_EQ(file.Seek(0, 0), -1);
  EXPECT_EQ(file.lastError, 6u);
  file.Close();  // closing a closed stream does nothing
  EXPECT_EQ(file.fd, -1);
}

TEST_F(FileStream, DeleteOnCloseRemovesTheOwnedPath) {
  machine.AddFile(u"C:\\temp\\work.tmp", "w");
  {
    CUFile file;
    ASSERT_TRUE(file.OpenRead(u"C:\\temp\\work.tmp"));
    file.ownedPath = new std::u16string(u"C:\\temp\\work.tmp");
    file.deleteOnClose = true;
  }  // the destructor closes
  EXPECT_FALSE(machine.Exists(u"C:\\temp\\work.tmp"));

  // Without deleteOnClose the path is only released.
  machine.AddFile(u"C:\\temp\\keep.tmp", "k");
  CUFile file;
  ASSERT_TRUE(file.OpenRead(u"C:\\temp\\keep.tmp"));
  file.ownedPath = new std::u16string(u"C:\\temp\\keep.tmp");
  file.Close();
  EXPECT_EQ(file.ownedPath, nullptr);
  EXPECT_TRUE(machine.Exists(u"C:\\temp\\keep.tmp"));
}

TEST_F(FileStream, OpenFailuresCarryTheMappedError) {
  machine.AddFile(u"C:\\ro.txt", "r", FILE_ATTRIBUTE_READONLY);
  CUFile file;
  EXPECT_FALSE(file.OpenRead(u"C:\\missing.txt"));
  EXPECT_EQ(file.lastError, 2u);
  EXPECT_EQ(file.fd, -1);
  EXPECT_FALSE(file.OpenReadWrite(u"C:\\ro.txt"));
  EXPECT_EQ(file.lastError, 5u);
  EXPECT_FALSE(file.isOpen);
  machine.FailCall("_wopen", CRT_ENOSPC, u"full.log");
  EXPECT_FALSE(file.Create(u"C:\\full.log"));
  EXPECT_EQ(file.lastError, 112u);
  EXPECT_FALSE(machine.Exists(u"C:\\full.log"));
  // The failure was used up: the next open succeeds.
  EXPECT_TRUE(file.Create(u"C:\\full.log"));
}

TEST_F(FileStream, FailedWriteCarriesTheMappedError) {
  CUFile file;
  ASSERT_TRUE(file.Create(u"C:\\w.bin"));
  machine.FailCall("_write", CRT_ENOSPC);
  DWORD done = 7;
  EXPECT_FALSE(file.Write("data", 4, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(file.lastError, 112u);
}

TEST(Win32ErrorFromErrno, MapsTheRunTimeLibraryNumbers) {
  struct Case {
    int error;
    DWORD win32;
  };
  const Case cases[] = {
      {2, 2},     {7, 10},  {8, 11},   {9, 6},    {10, 128}, {11, 89},
      {12, 8},    {13, 5},  {17, 183}, {18, 17},  {19, 15},  {20, 3},
      {22, 87},   {24, 4},  {28, 112}, {32, 109}, {41, 145},
      // Anything else, including the host's ENOTEMPTY (39), is "not implemented".
      {0, 120},   {1, 120}, {39, 120}, {-1, 120}, {1000, 120},
  };
  for (const Case& c : cases) EXPECT_EQ(Win32ErrorFromErrno(c.error), c.win32) << c.error;
}

}  // namespace
}  // namespace zp
