#include "tools/protocol-server/SelfCheck.h"

#include <cmath>
#include <set>

#include "tools/protocol-server/Speex.h"
#include "tools/protocol-server/Xml.h"

namespace qps {

std::vector<SelfCheckItem> CollectSelfCheckItems(const Catalogue& catalogue, const std::string& base,
                                                 double previewSeconds, const UpdateSettings& update) {
  std::vector<SelfCheckItem> items;
  // The tone depends only on the track and the kind, so one preview of each
  // pair stands for every recording of that track.
  for (const Track& t : catalogue.tracks) {
    for (PreviewKind kind : {PreviewKind::Track, PreviewKind::Full, PreviewKind::Matched}) {
      SelfCheckItem item;
      item.kind = SelfCheckItem::Kind::Mp3;
      item.name = std::string("preview ") + PreviewKindPath(kind) + " of track '" + t.id + "'";
      item.format = t.format;
      item.frequency = PreviewFrequency(t.frequency, kind);
      item.seconds = previewSeconds;
      item.bytes = MakeMp3(t.format, item.frequency, previewSeconds);
      items.push_back(std::move(item));
    }
  }
  for (const auto& [name, pictureSpec] : catalogue.pictures) {
    SelfCheckItem item;
    item.kind = SelfCheckItem::Kind::Png;
    item.name = "picture " + name + " (" + PngKindName(pictureSpec.kind) + ")";
    item.bytes = MakePng(pictureSpec);
    item.width = pictureSpec.width;
    item.height = pictureSpec.height;
    items.push_back(std::move(item));
  }
  for (auto& [name, doc] : CannedDocuments(catalogue, base, update)) {
    SelfCheckItem item;
    item.kind = SelfCheckItem::Kind::Xml;
    item.name = "document " + name;
    item.bytes = std::move(doc);
    items.push_back(std::move(item));
  }
  return items;
}

namespace {

std::string CheckMp3(const SelfCheckItem& item) {
  Mp3Decoded d = DecodeMp3(item.bytes);
  if (!d.error.empty()) return d.error;
  Mp3HeaderExpect expect = ExpectedMp3Header(item.format);
  if (d.version != expect.version || d.layer != expect.layer || d.bitrateIndex != expect.bitrateIndex)
    return "begins with MPEG version " + std::to_string(d.version) + " layer " + std::to_string(d.layer) +
           " bit-rate index " + std::to_string(d.bitrateIndex) + ", expected " + std::to_string(expect.version) +
           "/" + std::to_string(expect.layer) + "/" + std::to_string(expect.bitrateIndex);
  if (d.sampleRate != expect.sampleRate || d.channels != expect.channels)
    return "decodes at " + std::to_string(d.sampleRate) + " Hz with " + std::to_string(d.channels) + " channel(s)";
  double seconds = static_cast<double>(d.pcm.size()) / d.sampleRate;
  if (std::abs(seconds - item.seconds) > 0.25)
    return "lasts " + std::to_string(seconds) + " s instead of " + std::to_string(item.seconds);
  // The tone must stand out against the other kinds' tones of the same track.
  std::vector<float> x(d.pcm.begin(), d.pcm.end());
  const double f = item.frequency;
  double own = GoertzelPower(x, f, d.sampleRate);
  for (double other : {f * 3 / 2, f / 2, f * 2, f * 3, f * 2 / 3, f / 3}) {
    if (own < 10 * GoertzelPower(x, other, d.sampleRate))
      return "does not play its tone of " + std::to_string(f) + " Hz above " + std::to_string(other) + " Hz";
  }
  return {};
}

std::string CheckPng(const SelfCheckItem& item) {
  PngInfo info = DecodePng(item.bytes);
  if (!info.error.empty()) return info.error;
  if (info.width != item.width || info.height != item.height)
    return "is " + std::to_string(info.width) + " x " + std::to_string(info.height) + ", expected " +
           std::to_string(item.width) + " x " + std::to_string(item.height);
  return {};
}

}  // namespace

std::string CheckItem(const SelfCheckItem& item) {
  switch (item.kind) {
    case SelfCheckItem::Kind::Mp3: return CheckMp3(item);
    case SelfCheckItem::Kind::Png: return CheckPng(item);
    case SelfCheckItem::Kind::Xml: return CheckXmlDocument(item.bytes);
  }
  return "unknown item";
}

SelfCheckResult RunSelfCheck(const std::vector<SelfCheckItem>& items) {
  SelfCheckResult r;
  for (const SelfCheckItem& item : items) {
    switch (item.kind) {
      case SelfCheckItem::Kind::Mp3: ++r.mp3s; break;
      case SelfCheckItem::Kind::Png: ++r.pngs; break;
      case SelfCheckItem::Kind::Xml: ++r.documents; break;
    }
    std::string problem = CheckItem(item);
    if (!problem.empty()) r.failures.push_back(item.name + ": " + problem);
  }
  return r;
}

}  // namespace qps
