// A program that ends with a loaded, open screen, a font, images and the
// frame skin still held by statics, as the application's do: nothing may
// be used after it is gone, nothing may leak (run under ASan and LSan).
#include "vy/VyFont.h"
#include "vy_test_support.h"

namespace {

struct THeld {
  std::unique_ptr<CBaseGUI> gui;
  CVyFont font{500, 30, 0x00FF00, u"Tahoma", 0, 0};
  CIImage image;
  CIImage failed;
};

TEST(VyLifetimeTest, ExitWithEverythingStillHeld) {
  // The device stays for the rest of the program, as the real one does.
  static plat::TestPlatform* const s_pDevice = new plat::TestPlatform();
  const auto png = pngmake::SolidPng(4, 4, 0x336699FF);
  qrespack::PackWriter w;
  std::string error;
  for (uint16_t id = 643; id <= 648; ++id) w.AddRaw(qrespack::TypeKey{0, u"IIMAGE"}, id, png, "t", error);
  w.AddRaw(qrespack::TypeKey{0, u"IIMAGE"}, 700, {1, 2, 3}, "t", error);
  std::vector<uint8_t> pack;
  ASSERT_TRUE(w.Serialize(pack, error));
  std::filesystem::create_directories(s_pDevice->DeviceRoot() / "fs");
  std::ofstream(s_pDevice->DeviceRoot() / "fs" / "vy.res", std::ios::binary)
      .write(reinterpret_cast<const char*>(pack.data()), std::streamsize(pack.size()));
  plat::ModuleHandle module = plat::LoadLibrary(u"\\vy.res");
  ASSERT_NE(module, nullptr);
  SetResourceInstance(module);

  plat::WndClass cls;
  cls.proc = &plat::DefWindowProc;
  cls.name = u"VyLifetimeHost";
  plat::RegisterClass(cls);
  plat::HWND hWnd = plat::CreateWindowEx(0, u"VyLifetimeHost", u"", plat::WS_VISIBLE, 0, 0, 480, 800, nullptr, 0,
                                         nullptr, nullptr);
  ASSERT_NE(hWnd, nullptr);

  // Made after the device, so let go before it.
  static THeld s_held;
  s_held.gui = std::make_unique<CBaseGUI>();
  s_held.gui->Load(hWnd);
  s_held.gui->Open(3);
  auto* pControl = new CVyControl();
  pControl->SetRect(0, 0, 100, 100, 0);
  s_held.gui->GetRootPanel()->AddControl(pControl, -1);
  s_held.gui->SetOwnedControl(pControl);
  s_held.gui->SetFocusControl(s_held.gui->GetRootPanel(), pControl);
  s_held.gui->SetKeyFocusVisible(1);
  s_held.image.Load(module, 643);
  s_held.failed.Load(module, 700);
  GetFrameSkin()->Load(643, 644, 645, 646, 647, 648);
  plat::HDC hdc = plat::GetDC(hWnd);
  s_held.gui->OnPaint(hWnd, hdc);
  RECT rc{0, 0, 4, 4};
  plat::HDC mem = CIImage::CreateMemDC(hWnd, hdc);
  s_held.image.Draw(mem, &rc, nullptr, 1);
  s_held.failed.Draw(mem, &rc, nullptr, 1);
  CIImage::DeleteMemDC(mem);
  plat::ReleaseDC(hWnd, hdc);
  // What the host does on WM_DESTROY; the rest ends with the program.
  CBaseGUI::ReleaseGlobalDCs();
  EXPECT_TRUE(s_held.gui->IsOpen());
}

}  // namespace
