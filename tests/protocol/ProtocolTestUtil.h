// A clean program state for each protocol test: an empty memory-only
// registry with the application key open, nothing pending, the interface in
// language 0.
#pragma once

#include <gtest/gtest.h>

#include "framework/AppRegistry.h"
#include "platform/registry/Registry.h"
#include "protocol/AppSettings.h"
#include "protocol/ServerError.h"

class ProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::ResetRegistryForTests();
    ASSERT_EQ(RegOpenAppKey(), 0);
    LastServerError.Reset();
    *CurrentLanguageIndex() = 0;
  }
  void TearDown() override {
    RegCloseAppKey();
    plat::ResetRegistryForTests();
    LastServerError.Reset();
    *CurrentLanguageIndex() = 0;
  }
  // A fresh state inside one test, for table-driven cases.
  void Restart() {
    TearDown();
    SetUp();
  }
};
