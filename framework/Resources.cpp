#include "framework/Resources.h"

namespace {

constexpr const char16_t* kResources = u"Resources";

// Takes a reference for the registry. A source nobody else held is freed
// again when the registration fails, so a caller who handed over a fresh
// source loses nothing to a leak.
template <class T>
void Register(std::map<int32_t, T*>& sources, int32_t nKey, T* pSource) {
  if (!pSource) Env::ThrowError(Env::ErrBadArgument);
  pSource->addReference();
  if (sources.count(nKey)) {
    pSource->removeReference();
    Env::ThrowError(Env::ErrAlreadyExists);
  }
  try {
    sources.emplace(nKey, pSource);
  } catch (...) {
    pSource->removeReference();
    throw;
  }
}

template <class K, class T>
void ReleaseAll(std::map<K, T*>& values) {
  // Taken out of the map first: a value's destructor may reach the registry.
  std::map<K, T*> taken;
  taken.swap(values);
  for (auto& entry : taken) entry.second->removeReference();
}

// Stores a new reference in a cache slot; on failure the reference is let go.
template <class K>
CBitmap* Cache(std::map<K, CBitmap*>& cache, const K& key, CBitmap* pBitmap) {
  try {
    auto [it, inserted] = cache.emplace(key, pBitmap);
    if (!inserted) {
      // Filled meanwhile (a source that asked for its own slot): keep the first.
      pBitmap->removeReference();
      return it->second;
    }
  } catch (...) {
    pBitmap->removeReference();
    throw;
  }
  return pBitmap;
}

}  // namespace

CResources* CResources::s_pInstance = nullptr;

CResources::~CResources() { ClearAll(); }

void CResources::ClearAll() {
  ReleaseAll(m_scaled);
  ReleaseAll(m_unscaled);
  ReleaseAll(m_images);
  ReleaseAll(m_strings);
}

void CResources::Create() {
  if (s_pInstance) QUOREL_PANIC(kResources, 34);
  s_pInstance = new CResources;
}

void CResources::Destroy() {
  if (!s_pInstance) QUOREL_PANIC(kResources, 40);
  CResources* pResources = s_pInstance;
  s_pInstance = nullptr;
  delete pResources;
}

CResources& CResources::Require(int32_t nLine) {
  if (!s_pInstance) QUOREL_PANIC(kResources, nLine);
  return *s_pInstance;
}

void CResources::RegisterStringSource(int32_t nId, IStringSource* pSource) {
  Register(Require(47).m_strings, nId, pSource);
}

void CResources::RegisterImageSource(int32_t nSlot, IImageSource* pSource) {
  Register(Require(76).m_images, nSlot, pSource);
}

plat::WString CResources::GetString(int32_t nId) {
  CResources& resources = Require(63);
  auto it = resources.m_strings.find(nId);
  if (it == resources.m_strings.end()) Env::ThrowError(Env::ErrNotFound);
  plat::WString text;
  it->second->Get(text);
  return text;
}

CBitmap* CResources::GetImage(int32_t nSlot, int32_t nMode, const RECT& rcTarget) {
  CResources& resources = Require(94);
  if (nMode != EScaleStretch && nMode != EScaleProportional && nMode != EScaleNone)
    Env::ThrowError(Env::ErrBadArgument);

  CBitmap* pUnscaled = nullptr;
  if (auto it = resources.m_unscaled.find(nSlot); it != resources.m_unscaled.end()) {
    pUnscaled = it->second;
  } else {
    auto source = resources.m_images.find(nSlot);
    if (source == resources.m_images.end()) Env::ThrowError(Env::ErrNotFound);
    CBitmap* pLoaded = source->second->Get();
    if (!pLoaded) Env::ThrowError(Env::ErrSystem);
    pUnscaled = Cache(resources.m_unscaled, nSlot, pLoaded);
  }

  // The size decides, not the rectangle's place: a box inset by a margin
  // that has the picture's own size takes the picture as it is.
  const RECT rcOwn = pUnscaled->GetSize();
  const int64_t nWidth = int64_t(rcTarget.right) - rcTarget.left;
  const int64_t nHeight = int64_t(rcTarget.bottom) - rcTarget.top;
  if (nMode == EScaleNone || (nWidth == rcOwn.Width() && nHeight == rcOwn.Height())) {
    pUnscaled->addReference();
    return pUnscaled;
  }

  const TScaledKey key{nSlot, nWidth, nHeight, nMode};
  CBitmap* pScaled = nullptr;
  if (auto it = resources.m_scaled.find(key); it != resources.m_scaled.end()) {
    pScaled = it->second;
  } else {
    pScaled = Cache(resources.m_scaled, key, CBitmap::NewScaledSmooth(pUnscaled, rcTarget, nMode));
  }
  pScaled->addReference();
  return pScaled;
}

void CResources::ClearCaches() {
  CResources& resources = Require(139);
  ReleaseAll(resources.m_scaled);
  ReleaseAll(resources.m_unscaled);
}

int32_t CResources::GetOption(int32_t nKey, int32_t nDefault) {
  const CResources& resources = Require(158);
  auto it = resources.m_options.find(nKey);
  return it == resources.m_options.end() ? nDefault : it->second;
}

void CResources::SetOption(int32_t nKey, int32_t nValue) { Require(168).m_options[nKey] = nValue; }
