// The start-up self-check: every preview decodes with libmad and plays its
// own tone, every picture decodes with libpng, every document is well formed.
#pragma once

#include <string>
#include <vector>

#include "tools/protocol-server/Catalogue.h"
#include "tools/protocol-server/Documents.h"

namespace qps {

struct SelfCheckItem {
  enum class Kind { Mp3, Png, Xml };
  Kind kind = Kind::Xml;
  std::string name;
  std::string bytes;
  // Mp3: what the preview must be.
  Mp3Format format = Mp3Format::Mono44k;
  double frequency = 0;
  double seconds = 0;
  // Png: its size.
  int width = 0, height = 0;
};

struct SelfCheckResult {
  int mp3s = 0, pngs = 0, documents = 0;
  std::vector<std::string> failures;
  bool Ok() const { return failures.empty(); }
};

std::vector<SelfCheckItem> CollectSelfCheckItems(const Catalogue& catalogue, const std::string& base,
                                                 double previewSeconds, const UpdateSettings& update);
// Empty when the item is sound, else why not.
std::string CheckItem(const SelfCheckItem& item);
SelfCheckResult RunSelfCheck(const std::vector<SelfCheckItem>& items);

}  // namespace qps
