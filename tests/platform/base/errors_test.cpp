#include <gtest/gtest.h>

#include <cerrno>

#include "platform/base/Errors.h"

namespace plat {
namespace {

TEST(Errors, HostErrorsMapToTheCodesCallersTestFor) {
  struct Case {
    int err;
    uint32_t code;
  };
  const Case cases[] = {
      {0, ERROR_SUCCESS},
      {ENOENT, ERROR_FILE_NOT_FOUND},
      {ENOTDIR, ERROR_PATH_NOT_FOUND},
      {EEXIST, ERROR_ALREADY_EXISTS},
      {EBUSY, ERROR_SHARING_VIOLATION},
      {ENOSPC, ERROR_DISK_FULL},
      {EAGAIN, WSAEWOULDBLOCK},
      {EINPROGRESS, WSAEWOULDBLOCK},  // a non-blocking connect under way
      {ECONNREFUSED, WSAECONNREFUSED},
      {EPIPE, WSAECONNRESET},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    EXPECT_EQ(ErrorFromErrno(c.err), c.code);
  }
}

TEST(Errors, SystemMessageFallsBackToTheCode) {
  EXPECT_EQ(FormatSystemMessage(0x1234), u"Unknown error 0x00001234");
  EXPECT_EQ(FormatSystemMessage(0xC0000005u), u"Unknown error 0xC0000005");
  EXPECT_EQ(FormatSystemMessage(ERROR_ACCESS_DENIED), u"Access is denied.");
  EXPECT_NE(FormatSystemMessage(static_cast<uint32_t>(E_FAIL)).find(u"error"), WString::npos);
}

}  // namespace
}  // namespace plat
