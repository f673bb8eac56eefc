// SHA-1 against the standard's test vectors, and the device id built on it.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "platform/base/Errors.h"
#include "platform/phone/DeviceId.h"
#include "platform/phone/Sha1.h"
#include "platform/registry/Registry.h"

using namespace plat;

namespace {

std::string Hex(std::span<const uint8_t> bytes) {
  std::string out;
  char two[3];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

std::string Sha1Hex(const std::string& text, size_t piece) {
  Sha1 sha;
  for (size_t at = 0; at < text.size(); at += piece) {
    size_t n = std::min(piece, text.size() - at);
    sha.Update(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data() + at), n));
  }
  auto digest = sha.Final();
  return Hex(digest);
}

TEST(Sha1, StandardVectorsWhateverThePiecesTheInputComesIn) {
  struct Vector {
    std::string text;
    const char* digest;
  };
  const Vector vectors[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
       "nopqrstu",
       "a49b2446a02c645bf419f995b67091253a04a259"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const Vector& v : vectors) {
    // One piece, single bytes, and sizes that straddle the 64-byte blocks
    // and the 56-byte padding boundary.
    for (size_t piece : {size_t{1}, size_t{55}, size_t{56}, size_t{63}, size_t{64}, size_t{65}, size_t{1} << 20}) {
      if (v.text.size() > 1000 && piece < 55) continue;
      SCOPED_TRACE(testing::Message() << v.text.substr(0, 20) << " in pieces of " << piece);
      EXPECT_EQ(Sha1Hex(v.text, piece), v.digest);
    }
  }
}

class DeviceId : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRegistryForTests();
    m_file = std::filesystem::temp_directory_path() / ("quorel-machine-id-" + std::to_string(::getpid()));
    SetMachineIdPathForTests(m_file);
  }
  void TearDown() override {
    SetMachineIdPathForTests({});
    std::filesystem::remove(m_file);
    ResetRegistryForTests();
  }
  void WriteMachineId(const std::string& text) { std::ofstream(m_file, std::ios::binary | std::ios::trunc) << text; }

  std::filesystem::path m_file;
  const std::array<uint8_t, 8> m_zeros{};
};

// Reference digests below come from an independent SHA-1 of the machine id
// followed by eight zero bytes.
TEST_F(DeviceId, HashesTheMachineIdWithTheApplicationsData) {
  WriteMachineId("0123abcd\n");
  std::array<uint8_t, 20> id{};
  ASSERT_TRUE(GetDeviceUniqueId(m_zeros, 1, id));
  EXPECT_EQ(Hex(id), "41c2c0783c39ce65378f71ba98664215434717e3");

  // Surrounding blanks are not part of the id.
  WriteMachineId("  0123abcd \r\n");
  std::array<uint8_t, 20> again{};
  ASSERT_TRUE(GetDeviceUniqueId(m_zeros, 1, again));
  EXPECT_EQ(again, id);

  // Another application (other data) gets another id.
  const uint8_t other[9] = {1, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(GetDeviceUniqueId(other, 1, again));
  EXPECT_NE(again, id);
}

TEST_F(DeviceId, TheSettingStandsInForTheMachineId) {
  WriteMachineId("0123abcd");
  ASSERT_EQ(WriteString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"DeviceId", u"override-id"), 0);
  std::array<uint8_t, 20> id{};
  ASSERT_TRUE(GetDeviceUniqueId(m_zeros, 1, id));
  EXPECT_EQ(Hex(id), "1e904a8a7a9e05a90bf263603df4499c9220b737");
  // An empty setting counts as none.
  ASSERT_EQ(WriteString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"DeviceId", u""), 0);
  ASSERT_TRUE(GetDeviceUniqueId(m_zeros, 1, id));
  EXPECT_EQ(Hex(id), "41c2c0783c39ce65378f71ba98664215434717e3");
}

TEST_F(DeviceId, RefusesWhatTheDeviceRefusesAndWritesNothing) {
  WriteMachineId("0123abcd");
  std::array<uint8_t, 20> id;
  id.fill(0xEE);
  const uint8_t seven[7] = {};
  SetLastError(0);
  EXPECT_FALSE(GetDeviceUniqueId(m_zeros, 2, id));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(GetDeviceUniqueId(seven, 1, id));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  std::filesystem::remove(m_file);
  EXPECT_FALSE(GetDeviceUniqueId(m_zeros, 1, id));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  WriteMachineId(" \n");
  EXPECT_FALSE(GetDeviceUniqueId(m_zeros, 1, id)) << "a blank file holds no id";
  for (uint8_t b : id) EXPECT_EQ(b, 0xEE);
}

}  // namespace
