// The run-time library's text streams and the profile calls over files those streams rewrote:
// how the mail clients' INI lists are read, copied and renumbered.
#include "contract.h"

namespace zp::contract {
namespace {

using StreamsContract = Contract;

struct StreamTraits {
  static CrtStream* Invalid() { return nullptr; }
  static bool IsValid(CrtStream* stream) { return stream != nullptr; }
  static void Close(CrtStream* stream) { Files().fclose(stream); }
};
using UniqueStream = UniqueHandle<CrtStream*, StreamTraits>;

// The file's bytes, read in binary.
std::string ReadBytes(const std::u16string& path) {
  UniqueFd fd(Files()._wopen(path.c_str(), CRT_O_RDONLY | CRT_O_BINARY, 0));
  std::string bytes;
  if (!fd) return "<none>";
  char buffer[512];
  int n;
  while ((n = Files()._read(fd.get(), buffer, sizeof buffer)) > 0) bytes.append(buffer, n);
  return bytes;
}

// Every piece fgetws gives with a buffer of `count` characters, until the end.
std::vector<std::u16string> Pieces(CrtStream* stream, int count) {
  std::vector<std::u16string> pieces;
  std::vector<char16_t> buffer(count);
  while (Files().fgetws(buffer.data(), count, stream) != nullptr) pieces.push_back(buffer.data());
  return pieces;
}

TEST_F(StreamsContract, TextModeTranslatesLineEndsBothWays) {
  const std::u16string path = Scratch(u"text.ini");
  {
    UniqueStream out(Files()._wfopen(path.c_str(), u"w"));
    ASSERT_TRUE(out);
    EXPECT_EQ(Files().fputws(u"[A]\nkey=caf\u00E9\n", out.get()), 0);
    EXPECT_EQ(Files().fputws(u"cr\r\nlast", out.get()), 0);
    EXPECT_EQ(Files().ferror(out.get()), 0);
    EXPECT_EQ(Files().fclose(out.release()), 0);
  }
  EXPECT_EQ(ReadBytes(path), "[A]\r\nkey=caf\xE9\r\ncr\r\r\nlast")
      << "LF written as CR LF, one byte per character";

  UniqueStream in(Files()._wfopen(path.c_str(), u"r"));
  ASSERT_TRUE(in);
  EXPECT_EQ(Pieces(in.get(), 1024),
            (std::vector<std::u16string>{u"[A]\n", u"key=caf\u00E9\n", u"cr\r\n", u"last"}))
      << "CR LF read as LF, a CR alone kept";
  EXPECT_EQ(Files().ferror(in.get()), 0) << "the end of the file is no error";
}

TEST_F(StreamsContract, LongLinesComeInPiecesAndCtrlZEndsTheText) {
  const std::u16string path = Scratch(u"long.ini");
  ASSERT_TRUE(WriteFile(path, "abcdefghij\r\nxy\r\n\x1Ahidden\r\n"));
  UniqueStream in(Files()._wfopen(path.c_str(), u"r"));
  ASSERT_TRUE(in);
  EXPECT_EQ(Pieces(in.get(), 5),
            (std::vector<std::u16string>{u"abcd", u"efgh", u"ij\n", u"xy\n"}))
      << "count - 1 characters a piece; nothing after the Ctrl-Z";
}

TEST_F(StreamsContract, OpenFailuresAndSharing) {
  EXPECT_FALSE(UniqueStream(Files()._wfopen(Scratch(u"missing.ini").c_str(), u"r")));
  EXPECT_EQ(Files().Errno(), CRT_ENOENT);
  EXPECT_FALSE(UniqueStream(Files()._wfopen(Scratch(u"no\\temp.ini").c_str(), u"w")));
  EXPECT_EQ(Files().Errno(), CRT_ENOENT) << "a missing folder";
  ASSERT_TRUE(Files().CreateDirectoryW(Scratch(u"dir").c_str()));
  EXPECT_FALSE(UniqueStream(Files()._wfopen(Scratch(u"dir").c_str(), u"r")));
  EXPECT_EQ(Files().Errno(), CRT_EACCES) << "a folder";

  // Open streams share reading and writing, not deletion or renaming.
  const std::u16string path = Scratch(u"open.ini");
  ASSERT_TRUE(WriteFile(path, "x\r\n"));
  UniqueStream in(Files()._wfopen(path.c_str(), u"r"));
  ASSERT_TRUE(in);
  UniqueStream again(Files()._wfopen(path.c_str(), u"r"));
  EXPECT_TRUE(again);
  again.reset();
  EXPECT_FALSE(Files().DeleteFileW(path.c_str()));
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(Files().MoveFileExW(path.c_str(), Scratch(u"moved.ini").c_str(), 0));
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // Writing to a stream opened for reading fails and marks the stream; the failure is WEOF,
  // 0xFFFF as an int (not negative).
  EXPECT_EQ(Files().fputws(u"y\n", in.get()), CRT_WEOF);
  EXPECT_NE(Files().ferror(in.get()), 0);
  in.reset();
  EXPECT_TRUE(Files().DeleteFileW(path.c_str()));
}

TEST_F(StreamsContract, ProfileCallsSeeWhatTheStreamsRewrote) {
  const std::u16string ini = Scratch(u"avconfig.ini"), temp = Scratch(u"temp.ini");
  ASSERT_TRUE(WriteFile(ini, "[Checkers]\r\nCount=3\r\nChecker #1=a.bav\r\n"));
  EXPECT_EQ(Files().GetPrivateProfileIntW(u"checkers", u"COUNT", 0, ini.c_str()), 3u);
  {
    UniqueStream out(Files()._wfopen(temp.c_str(), u"w"));
    ASSERT_TRUE(out);
    Files().fputws(u"[Checkers]\nCount=2\nChecker #2=b.bav\n", out.get());
  }
  ASSERT_TRUE(Files().DeleteFileW(ini.c_str()));
  ASSERT_TRUE(Files().MoveFileExW(temp.c_str(), ini.c_str(), 0));
  EXPECT_EQ(Files().GetPrivateProfileIntW(u"Checkers", u"Count", 0, ini.c_str()), 2u);
  char16_t buffer[260] = {};
  EXPECT_EQ(Files().GetPrivateProfileStringW(u"Checkers", u"Checker #1", u"", buffer, 260,
                                             ini.c_str()),
            0u);
  EXPECT_EQ(Files().GetPrivateProfileStringW(u"Checkers", u"checker #2", u"", buffer, 260,
                                             ini.c_str()),
            5u);
  EXPECT_EQ(std::u16string(buffer), u"b.bav");
}

TEST_F(StreamsContract, ProfileWritesLeaveTheOtherLinesAsTheyAre) {
  const std::u16string ini = Scratch(u"list.ini");
  ASSERT_TRUE(WriteFile(ini, "; The Bat!\r\n[Checkers]\r\nCount=3\r\nChecker #1=a.bav\r\n"
                             "[Other]\r\nChecker #1=x\r\n"));
  ASSERT_TRUE(Files().WritePrivateProfileStringW(u"CHECKERS", u"count", u"2", ini.c_str()));
  ASSERT_TRUE(
      Files().WritePrivateProfileStringW(u"Checkers", u"Checker #2", u"b.bav", ini.c_str()));
  EXPECT_EQ(ReadBytes(ini),
            "; The Bat!\r\n[Checkers]\r\nCount=2\r\nChecker #1=a.bav\r\nChecker #2=b.bav\r\n"
            "[Other]\r\nChecker #1=x\r\n")
      << "the key keeps its spelling; a new key ends its section";
}

}  // namespace
}  // namespace zp::contract
