// A control that shows one image, stretched over its rectangle, optionally
// over a solid background colour, or repeated in 20-pixel bands down it.
#pragma once

#include "vy/ImageUtil.h"
#include "vy/VyControl.h"

class CVyPicture : public CVyControl {
 public:
  // Shares the image; with a rectangle, takes it (children too).
  explicit CVyPicture(const CIImage& img, const RECT* prc = nullptr);
  // Loads the "IIMAGE" resource; an id of -1 is "none" and loads nothing.
  explicit CVyPicture(int32_t nResourceID, const RECT* prc = nullptr);
  explicit CVyPicture(const RECT* prc);
  ~CVyPicture() override;

  int32_t Draw(plat::HDC hdc) override;
  void Dump(plat::WString* pText) override;

  virtual void SetTransparent(int32_t bTransparent);
  virtual void SetBackColor(plat::COLORREF colour);
  virtual HRESULT SetImage(const CIImage& img);
  virtual CIImage* GetImage();
  virtual void SetTile(int32_t bTile);

  // The band height of tile mode.
  static constexpr int32_t kTileBand = 20;

 private:
  void DrawTiled(plat::HDC hdc, const RECT& rc);

  CIImage m_img;
  plat::COLORREF m_colorBack = 0;
  int32_t m_bBackColor = 0;
  int32_t m_bTransparent = 0;
  int32_t m_bTile = 0;
};
