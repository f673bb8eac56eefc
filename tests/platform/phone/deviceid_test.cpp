// SHA-1 against the standard's test vectors, and the device id built on it.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <vector>
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
  void SetUp() override { ResetRegistryForTests(); }
  void TearDown() override {
    SetRegistrySaveHookForTests({});
    ResetRegistryForTests();
  }
  static std::string Stored() {
    return ToUtf8(ReadString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"DeviceId").value_or(u"<none>"));
  }
  static std::string Id(std::span<const uint8_t> data) {
    std::array<uint8_t, 20> id{};
    EXPECT_TRUE(GetDeviceUniqueId(data, 1, id));
    return Hex(id);
  }

  const std::array<uint8_t, 8> m_zeros{};
};

// Reference digests below come from an independent SHA-1 of the secret
// followed by eight zero bytes.
TEST_F(DeviceId, AConfiguredSecretIsHashedWithTheApplicationsData) {
  ASSERT_EQ(WriteString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"DeviceId", u"0123abcd"), 0);
  EXPECT_EQ(Id(m_zeros), "41c2c0783c39ce65378f71ba98664215434717e3");
  ASSERT_EQ(WriteString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"DeviceId", u"override-id"), 0);
  EXPECT_EQ(Id(m_zeros), "1e904a8a7a9e05a90bf263603df4499c9220b737");
  EXPECT_EQ(Stored(), "override-id") << "a configured value is never replaced";
  // Another application (other data) gets another id.
  const uint8_t other[9] = {1, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_NE(Id(other), Id(m_zeros));
}

TEST_F(DeviceId, WithoutASecretOneIsMadeOnceAndKeptPerDeviceRoot) {
  std::vector<std::string> secrets, ids;
  for (int root = 0; root < 2; ++root) {
    ResetRegistryForTests();
    if (root == 1) {
      ASSERT_EQ(WriteString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"DeviceId", u""), 0);
    }
    ASSERT_EQ(Stored(), root == 1 ? "" : "<none>");
    const std::string first = Id(m_zeros);
    const std::string secret = Stored();
    ASSERT_EQ(secret.size(), 40u) << "an empty value counts as none";
    EXPECT_EQ(secret.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(Id(m_zeros), first) << "stable on one device";
    EXPECT_EQ(Stored(), secret) << "written once";
    secrets.push_back(secret);
    ids.push_back(first);
  }
  EXPECT_NE(secrets[0], secrets[1]);
  EXPECT_NE(ids[0], ids[1]) << "two device roots are two phones";
}

TEST_F(DeviceId, RefusesWhatTheDeviceRefusesAndWritesNothing) {
  std::array<uint8_t, 20> id;
  id.fill(0xEE);
  const uint8_t seven[7] = {};
  SetLastError(0);
  EXPECT_FALSE(GetDeviceUniqueId(m_zeros, 2, id));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(GetDeviceUniqueId(seven, 1, id));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  for (uint8_t b : id) EXPECT_EQ(b, 0xEE);
  EXPECT_EQ(Stored(), "<none>");
}

// Last in this file: the secret it makes stays with the process.
TEST_F(DeviceId, ASecretThatCannotBeSavedIsKeptForTheRunAndSavedLater) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("quorel-deviceid-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  ConfigureRegistry({folder, {}, {}});
  SetRegistrySaveHookForTests([](RegistrySaveStep) { return uint32_t{ERROR_DISK_FULL}; });
  const std::string first = Id(m_zeros);
  EXPECT_EQ(Stored(), "<none>");
  EXPECT_EQ(Id(m_zeros), first) << "the same id for the rest of the run";
  SetRegistrySaveHookForTests({});
  EXPECT_EQ(Id(m_zeros), first);
  EXPECT_EQ(Stored().size(), 40u) << "saved once the registry takes it";
  ResetRegistryForTests();
  std::filesystem::remove_all(folder);
}

}  // namespace
