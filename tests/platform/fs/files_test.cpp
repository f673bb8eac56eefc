// Files: dispositions, the sharing rules, and positions and sizes.
#include "platform/kernel/Kernel.h"
#include "tests/platform/fs/FsFixture.h"

namespace fstest {
namespace {

using FsFiles = FsTest;
constexpr uint32_t R = GENERIC_READ, W = GENERIC_WRITE, RW = GENERIC_READ | GENERIC_WRITE;
constexpr uint32_t SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE, SRW = FILE_SHARE_READ | FILE_SHARE_WRITE;

TEST_F(FsFiles, DispositionsAndTheCodesTheyLeave) {
  ASSERT_TRUE(CreateDirectory(u"\\d"));
  struct Case {
    const char* name;
    bool existsBefore;
    uint32_t disposition;
    bool opens;
    uint32_t error;          // the last error after the call
    const char* contentAfter;  // nullptr: the file must not exist
  };
  const Case cases[] = {
      {"open existing, missing", false, OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, nullptr},
      {"open existing", true, OPEN_EXISTING, true, ERROR_SUCCESS, "old"},
      {"create new", false, CREATE_NEW, true, ERROR_SUCCESS, ""},
      {"create new, exists", true, CREATE_NEW, false, ERROR_FILE_EXISTS, "old"},
      {"create always, new", false, CREATE_ALWAYS, true, ERROR_SUCCESS, ""},
      {"create always truncates", true, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, ""},
      {"open always, new", false, OPEN_ALWAYS, true, ERROR_SUCCESS, ""},
      {"open always keeps", true, OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, "old"},
      {"disposition 0", true, 0, false, ERROR_INVALID_PARAMETER, "old"},
      {"truncate existing is not offered", true, 5, false, ERROR_INVALID_PARAMETER, "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ec;
    stdfs::remove(Fs() / "d" / "f", ec);
    if (c.existsBefore) WriteHost(Fs() / "d" / "f", "old");
    SetLastError(12345);
    Handle h = Open(u"\\d\\f", RW, 0, c.disposition);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
    if (h != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(CloseHandle(h));
    }
    if (c.contentAfter) {
      EXPECT_EQ(ReadHost(Fs() / "d" / "f"), c.contentAfter);
    } else {
      EXPECT_FALSE(stdfs::exists(Fs() / "d" / "f"));
    }
  }

  EXPECT_EQ(Open(u"\\nowhere\\f", RW, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  WriteHost(Fs() / "plainfile", "x");
  EXPECT_EQ(Open(u"\\plainfile\\f", R, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  for (WStringView folder : {u"\\d", u"\\", u"\\Storage Card"}) {
    EXPECT_EQ(Open(folder, R, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
}

TEST_F(FsFiles, SecondOpenFollowsTheSharingRules) {
  struct Case {
    uint32_t access1, share1, access2, share2;
    bool secondOpens;
  };
  const Case cases[] = {
      {R, 0, R, SRW, false},   // no sharing: nobody else gets in
      {RW, 0, R, SRW, false},
      {R, SR, R, SR, true},
      {R, SR, W, SRW, false},  // the holder does not share writing
      {R, SR, RW, SRW, false},
      {RW, SRW, R, SR, false}, // the newcomer does not share the holder's writing
      {R, SRW, R, SRW, true},
      {W, SR, R, SW, true},    // each allows exactly what the other does
      {W, SW, W, SW, true},
      {0, 0, RW, 0, true},     // an open without access neither restricts
      {RW, 0, 0, 0, true},     // nor is restricted
  };
  ASSERT_TRUE(Put(u"\\shared.dat", "data"));
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.access1 << "/" << c.share1 << " then " << c.access2 << "/"
                                    << c.share2);
    Handle first = Open(u"\\shared.dat", c.access1, c.share1, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    // Another spelling names the same file.
    Handle second = Open(u"\\SHARED.DAT", c.access2, c.share2, OPEN_EXISTING);
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
    if (second == INVALID_HANDLE_VALUE) EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    else CloseHandle(second);
    EXPECT_TRUE(CloseHandle(first));
    // Once the holder has gone, anyone gets in.
    Handle after = Open(u"\\shared.dat", RW, 0, OPEN_EXISTING);
    EXPECT_NE(after, INVALID_HANDLE_VALUE);
    CloseHandle(after);
  }
}

TEST_F(FsFiles, RefusedOpenNeverTruncatesTheHoldersData) {
  ASSERT_TRUE(Put(u"\\buffer.dat", "downloaded so far"));
  Handle holder = Open(u"\\buffer.dat", RW, 0, OPEN_EXISTING);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(u"\\buffer.dat", RW, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(Open(u"\\buffer.dat", R, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);  // a size count skips it
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(CanOpenForRead(u"\\buffer.dat"));
  EXPECT_EQ(ReadHost(Fs() / "buffer.dat"), "downloaded so far");
  EXPECT_EQ(Get(holder), "downloaded so far");
  CloseHandle(holder);
  EXPECT_TRUE(CanOpenForRead(u"\\buffer.dat"));
  EXPECT_FALSE(CanOpenForRead(u"\\missing.mp3_"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  Handle sharing = Open(u"\\buffer.dat", R, SR, OPEN_EXISTING);
  EXPECT_TRUE(CanOpenForRead(u"\\buffer.dat"));
  CloseHandle(sharing);
}

TEST_F(FsFiles, HandlesCheckKindAccessAndLife) {
  Handle event = CreateEvent(false, false);
  Handle h = Open(u"\\f", W, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char buf[4];
  uint32_t done = 99;
  EXPECT_FALSE(ReadFile(h, buf, sizeof buf, &done));  // opened for writing only
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(WriteFile(h, nullptr, 4, &done));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(WriteFile(h, nullptr, 0, &done));
  EXPECT_TRUE(CloseHandle(h));

  Handle r = Open(u"\\f", R, SRW, OPEN_EXISTING);
  EXPECT_FALSE(WriteFile(r, "x", 1, &done));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(r);

  for (Handle bad : {h, event, Handle{nullptr}, INVALID_HANDLE_VALUE}) {
    EXPECT_FALSE(ReadFile(bad, buf, sizeof buf, &done));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(WriteFile(bad, "x", 1, &done));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetFilePointer(bad, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetFileSize(bad, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FindClose(bad));
  }
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(event);
}

TEST_F(FsFiles, ReadsStopAtTheEndAndWritesPastItFillWithZeros) {
  Handle h = Open(u"\\f", RW, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint32_t done = 0;
  ASSERT_TRUE(WriteFile(h, "hello", 5, &done));
  EXPECT_EQ(done, 5u);

  char buf[16] = {};
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &done));  // at the end: success, nothing read
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(SetFilePointer(h, 1, nullptr, FILE_BEGIN), 1u);
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &done));  // a short read
  EXPECT_EQ(std::string(buf, done), "ello");
  EXPECT_EQ(SetFilePointer(h, 100, nullptr, FILE_BEGIN), 100u);
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(GetFileSize(h, nullptr), 5u);

  EXPECT_EQ(SetFilePointer(h, 10, nullptr, FILE_BEGIN), 10u);
  ASSERT_TRUE(WriteFile(h, "!", 1, &done));
  EXPECT_EQ(GetFileSize(h, nullptr), 11u);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 11u);
  CloseHandle(h);
  EXPECT_EQ(ReadHost(Fs() / "f"), std::string("hello\0\0\0\0\0!", 11));
}

TEST_F(FsFiles, FilePointerMovesWithinThirtyTwoBitsUnlessAHighPartIsGiven) {
  Handle h = Open(u"\\f", RW, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint32_t done = 0;
  ASSERT_TRUE(WriteFile(h, "0123456789", 10, &done));

  EXPECT_EQ(SetFilePointer(h, -2, nullptr, FILE_END), 8u);
  EXPECT_EQ(SetFilePointer(h, -3, nullptr, FILE_CURRENT), 5u);
  // Before the start: refused, the position stays.
  SetLastError(0);
  EXPECT_EQ(SetFilePointer(h, -6, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetFilePointer(h, -11, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 5u);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, 3), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  // The largest 32-bit position is reachable; one more is not without a high part.
  EXPECT_EQ(SetFilePointer(h, -2, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);  // -2 is negative here
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  int32_t high = 0;
  SetLastError(ERROR_SHARING_VIOLATION);
  EXPECT_EQ(SetFilePointer(h, -1, &high, FILE_BEGIN), 0xFFFFFFFFu);  // 0x00000000FFFFFFFF
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);  // so the caller can tell it from a failure
  EXPECT_EQ(high, 0);
  EXPECT_EQ(SetFilePointer(h, 1, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 0xFFFFFFFFu);

  high = 1;
  EXPECT_EQ(SetFilePointer(h, 0x10, &high, FILE_BEGIN), 0x10u);
  EXPECT_EQ(high, 1);
  ASSERT_TRUE(WriteFile(h, "z", 1, &done));  // sparse beyond 4 GiB
  uint32_t sizeHigh = 0;
  SetLastError(ERROR_SHARING_VIOLATION);
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 0x11u);
  EXPECT_EQ(sizeHigh, 1u);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(GetFileSize(h, nullptr), 0x11u);  // the low half only

  high = -2;  // back by 2^32 + 0x11 from the end: position 0
  EXPECT_EQ(SetFilePointer(h, -0x11, &high, FILE_END), 0u);
  EXPECT_EQ(high, 0);
  high = -1;
  EXPECT_EQ(SetFilePointer(h, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(high, -1);  // untouched on failure
  char c = 0;
  ASSERT_TRUE(ReadFile(h, &c, 1, &done));
  EXPECT_EQ(c, '0');
  CloseHandle(h);
}

}  // namespace
}  // namespace fstest
