// The main road: the built program as a new user meets it, against the local
// protocol test server's default catalogue.
#include <gtest/gtest.h>

#include "app/QuorelAppUi.h"
#include "e2e/Road.h"
#include "platform/shell/Launch.h"

namespace {

using e2e::Field;
using e2e::Road;

// Every trace line that tells of a panic or an error box.
std::vector<std::string> Panics(const Road& road) {
  std::vector<std::string> out;
  for (const std::string& line : road.DebugLines())
    if (line.find("Runtime Panic") != std::string::npos) out.push_back(line);
  return out;
}

// The options menu as (command, shown, enabled) for the shown items.
std::vector<std::tuple<int32_t, bool>> ShownMenu() {
  std::vector<std::tuple<int32_t, bool>> out;
  for (const auto& item : CQuorelAppUi::App()->MenuItems())
    if (item.bVisible) out.emplace_back(item.nCommand, item.bEnabled);
  return out;
}

TEST(MainRoad, StartCheckForUpdateAndExit) {
  Road road;
  ASSERT_TRUE(road.Ready()) << road.Error();

  // 1. Start.
  road.Until("the update check reached the server", [&] { return !road.Requests("checkForUpdate").empty(); });
  road.Then([&] {
    EXPECT_EQ(road.ActiveView(), 2);
    EXPECT_TRUE(road.History().empty());
    EXPECT_EQ(road.AppString(u"app_language"), "EN");
    EXPECT_TRUE(road.Traced("[QUOREL] Language id is 0x0409/0x0000 Will be used Quorel.exe.0409.mui"));
    const std::vector<std::tuple<int32_t, bool>> menu = {{3, true}, {5, false}, {6, true}, {7, true},
                                                         {9, true}, {8, true},  {10, true}};
    EXPECT_EQ(ShownMenu(), menu);
    const auto checks = road.Requests("checkForUpdate");
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(Field(checks[0], "method"), "GET");
    EXPECT_NE(Field(checks[0], "headers").find("LANG=EN"), std::string::npos) << checks[0];
    EXPECT_EQ(Field(checks[0], "violations"), "[]") << checks[0];
    EXPECT_TRUE(road.Device().MessageBoxes().empty());
  });

  // 13. Exit.
  EXPECT_EQ(road.Run(), 0);
  EXPECT_TRUE(road.Misses().empty()) << road.Misses().front();
  EXPECT_TRUE(Panics(road).empty()) << Panics(road).front();
  EXPECT_TRUE(road.Device().MessageBoxes().empty());
  for (const plat::LaunchRecord& launch : plat::Launches()) ADD_FAILURE() << "launched " << plat::ToUtf8(launch.file);
}

}  // namespace
