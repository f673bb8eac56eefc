#include "protocol/Records.h"

TPreviewKey TrackRecord::PreviewKey() const {
  TPreviewKey key;
  key.m_trackId = m_trackId;
  switch (m_nKind) {
    case TrackKindMatched: key.m_url = m_matchedUrl; break;
    case TrackKindFull: key.m_url = m_fullUrl; break;
    case TrackKindPreview: key.m_url = m_audioPreviewUrl; break;
    default: break;
  }
  return key;
}

bool TrackRecord::CacheKey(plat::WString& key) const {
  switch (m_nKind) {
    case TrackKindFull: key = m_recordingId; return true;
    case TrackKindPreview: key = m_trackId; return true;
    default: return false;
  }
}
