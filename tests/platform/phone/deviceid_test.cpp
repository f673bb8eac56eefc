// The device id: a SHA-1 of the machine id and the application's data.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
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
