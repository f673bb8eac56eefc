// The screens' kit on the headless device: the widget fixture with every
// picture slot the kit names registered as a small solid picture.
#pragma once

#include "tests/framework/widgets_test_support.h"

namespace kittest {

// A UI text "Text <id>".
class TIdText : public IStringSource {
 public:
  explicit TIdText(int32_t nId) : m_nId(nId) {}
  void Get(plat::WString& rText) override { rText = u"Text " + plat::Widen(std::to_string(m_nId)); }

 private:
  int32_t m_nId;
};

class KitFixture : public widgettest::WidgetFixture {
 protected:
  // The screen at (w, h), an application, and `body` inside its loop.
  void InAppSized(int32_t w, int32_t h, const std::function<void()>& body) {
    plat::TestConfig config;
    config.screenWidth = w;
    config.screenHeight = h;
    MakePlatform(config);
    InApp([&] {
      RegisterAll();
      body();
    });
  }
  static void RegisterAll() {
    for (int32_t nSlot = 0; nSlot < 390; ++nSlot) RegisterSolid(nSlot, 12, 12, 0x102030u + uint32_t(nSlot));
    // The registry outlives an application in one test: a text already
    // there stays.
    for (int32_t nId = 1; nId < 232; ++nId) {
      try {
        CResources::RegisterStringSource(nId, new TIdText(nId));
      } catch (const Env::TSysErrorCode&) {
      }
    }
  }
};

}  // namespace kittest
