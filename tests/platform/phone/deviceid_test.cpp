// The device id: a SHA-1 of the machine id and the application's data.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <vector>
#include <string>

#include <unistd.h>

#include "platform/base/Errors.h"
#include "platform/phone/DeviceId.h"
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
