// The resource registry: every screen gets its texts and pictures by number.
// The product registers a string source per UI string id (0 to 230) and an
// image source per image slot (0 to 389) at start-up; the screens then ask
// for a string by id, or for an image by slot, target size and scaling mode.
// Unscaled images are loaded once and kept; scaled copies are cached per
// slot, size and mode until ClearCaches (after the display turned).
//
// The registry is one process-wide object made by Create and ended by
// Destroy; every operation without it is a broken invariant (TPanic
// "Resources"). UI thread only.
#pragma once

#include <compare>
#include <cstdint>
#include <map>

#include "framework/Graphics.h"
#include "framework/basetypes.h"
#include "framework/wrappers.h"
#include "platform/base/Strings.h"

// The current text of one UI string id (it may change with the language).
class IStringSource : public RCObject {
 public:
  ~IStringSource() override = default;
  virtual void Get(plat::WString& rText) = 0;
};

// Loads the picture of one image slot: a bitmap with one reference for the
// caller, or an exception.
class IImageSource : public RCObject {
 public:
  ~IImageSource() override = default;
  virtual CBitmap* Get() = 0;
};

// Integer option keys in use.
enum : int32_t {
  EOptionLandscape = 0,  // 1 while the display is in landscape
};

class CResources : public CObject {
 public:
  static void Create();  // a second registry panics
  static CResources* Instance() { return s_pInstance; }
  static void Destroy();  // releases every source and image; none panics

  // Takes a reference to the source. An id already registered is error 3
  // (and a source nobody else holds is freed); a null source is error 5.
  static void RegisterStringSource(int32_t nId, IStringSource* pSource);
  static void RegisterImageSource(int32_t nSlot, IImageSource* pSource);

  // The id's current text; an unregistered id is error 1.
  static plat::WString GetString(int32_t nId);

  // The slot's picture for the target rectangle, with one reference for the
  // caller. The unscaled picture serves mode EScaleNone and any target of its
  // own size; other requests get a copy scaled with the smoothing filter,
  // made once per slot, target size and mode. A slot without source is
  // error 1; a source that gives nothing, error 7.
  static CBitmap* GetImage(int32_t nSlot, int32_t nMode, const RECT& rcTarget);

  // Forgets the scaled copies, then the unscaled pictures. Bitmaps handed
  // out earlier stay valid for their holders.
  static void ClearCaches();

  static int32_t GetOption(int32_t nKey, int32_t nDefault);
  static void SetOption(int32_t nKey, int32_t nValue);

  size_t UnscaledCount() const { return m_unscaled.size(); }
  size_t ScaledCount() const { return m_scaled.size(); }

 private:
  struct TScaledKey {
    int32_t nSlot;
    int64_t nWidth;
    int64_t nHeight;
    int32_t nMode;
    friend auto operator<=>(const TScaledKey&, const TScaledKey&) = default;
  };

  CResources() = default;
  ~CResources() override;
  CResources(const CResources&) = delete;
  CResources& operator=(const CResources&) = delete;

  static CResources& Require(int32_t nLine);
  void ClearAll();

  std::map<int32_t, IStringSource*> m_strings;
  std::map<int32_t, IImageSource*> m_images;
  std::map<int32_t, CBitmap*> m_unscaled;
  std::map<TScaledKey, CBitmap*> m_scaled;
  std::map<int32_t, int32_t> m_options;

  static CResources* s_pInstance;
};
