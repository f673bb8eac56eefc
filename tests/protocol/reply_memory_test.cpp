// The peak memory of the largest replies the parsers accept. Its own
// executable, because it counts every allocation through a replaced global
// operator new.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "ProtocolTestUtil.h"
#include "ReplyDocuments.h"
#include "protocol/ReplyParsers.h"
#include "protocol/ReplyXml.h"
#include "protocol/SearchResults.h"

namespace {

std::atomic<size_t> g_current{0};
std::atomic<size_t> g_peak{0};

void* Allocate(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  const size_t now = g_current += malloc_usable_size(p);
  size_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
  return p;
}

void Release(void* p) noexcept {
  if (!p) return;
  g_current -= malloc_usable_size(p);
  std::free(p);
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

namespace {

// What a call allocates at its peak beyond what was live before it.
template <class F>
size_t PeakOf(F&& call) {
  const size_t before = g_current.load();
  g_peak = before;
  call();
  return g_peak.load() - before;
}

// The most a parse may hold at once, the caller's copy of the reply aside.
constexpr size_t kPeakGoal = 32 * 1024 * 1024;

// The largest body of a shape the limits accept: `unit` repeated inside an
// "orlamet" root until one more would break a limit or the size bound.
std::string LargestOf(const std::string& unit) {
  const std::string head = "<orlamet>", tail = "</orlamet>";
  std::string body;
  size_t low = 0, high = (ReplyXml::kMaxBytes - head.size() - tail.size()) / unit.size();
  auto build = [&](size_t count) {
    body = head;
    body.reserve(head.size() + count * unit.size() + tail.size());
    for (size_t i = 0; i < count; ++i) body += unit;
    body += tail;
    return ReplyXml::CheckMarkup(body, {}) == ReplyXml::Verdict::kWithin;
  };
  while (low < high) {  // the most units still within every limit
    const size_t mid = (low + high + 1) / 2;
    if (build(mid)) low = mid;
    else high = mid - 1;
  }
  build(low);
  return body;
}

class ReplyMemory : public ProtocolTest {};

TEST_F(ReplyMemory, TheLargestAcceptedReplyOfEachShapeStaysUnderTheGoal) {
  struct Shape {
    const char* name;
    std::string body;
  };
  const std::string wideValue(200, 'v');
  std::string manyAttributes = "<e";
  for (size_t i = 0; i + 1 < ReplyXml::kMaxAttributes; ++i) manyAttributes += " a" + std::to_string(i) + "=''";
  manyAttributes += "/>";
  Shape shapes[] = {
      {"empty elements", LargestOf("<a/>")},
      {"elements with text", LargestOf("<a>x</a>")},
      {"comments", LargestOf("<!---->")},
      {"attributes", LargestOf(manyAttributes)},
      {"wide attributes", LargestOf("<a v='" + wideValue + "' w='" + wideValue + "'/>")},
      {"one long value", "<orlamet v='" + std::string(ReplyXml::kMaxBytes - 20, 'x') + "'/>"},
      {"malformed bytes", "<orlamet v='" + std::string((ReplyXml::kMaxBytes - 20) / 3, '\xFF') + "'/>"},
      {"both", ""},
  };
  // The most nodes and the longest value the size bound leaves room for.
  Shape& both = shapes[std::size(shapes) - 1];
  both.body = shapes[1].body;
  both.body.insert(both.body.size() - 10, "<b v='" + std::string(ReplyXml::kMaxBytes - both.body.size() - 16, 'y') + "'/>");
  both.body.erase(both.body.find("<a>x</a>"), 16);  // two nodes for the new element and its value
  for (const Shape& shape : shapes) {
    ASSERT_LE(shape.body.size(), ReplyXml::kMaxBytes) << shape.name;
    bool bParsed = false;
    const size_t peak = PeakOf([&] {
      TiXmlDocument doc;
      bParsed = ReplyXml::Parse(doc, shape.body.data(), shape.body.size());
    });
    EXPECT_TRUE(bParsed) << shape.name;
    EXPECT_LE(peak, kPeakGoal) << shape.name << ": " << peak / 1024 << " KiB";
  }
}

TEST_F(ReplyMemory, TheLargestAcceptedResultPageStaysUnderTheGoal) {
  // Full tracks until one more would break the node limit; the model the
  // page becomes counts too.
  int count = 100;
  while (ReplyXml::CheckMarkup(replydocs::GroupedSearchOf(count + 100), {}) == ReplyXml::Verdict::kWithin) count += 100;
  while (ReplyXml::CheckMarkup(replydocs::GroupedSearchOf(count + 1), {}) == ReplyXml::Verdict::kWithin) ++count;
  const std::string reply = replydocs::GroupedSearchOf(count);
  CSearchResults model;
  bool bLoaded = false;
  const size_t peak = PeakOf([&] { bLoaded = model.LoadBuffer(reply.data(), reply.size()); });
  ASSERT_TRUE(bLoaded);
  EXPECT_EQ(model.RecordingCount(), count);
  EXPECT_LE(peak, kPeakGoal) << count << " tracks: " << peak / 1024 << " KiB";
  const std::string beyond = replydocs::GroupedSearchOf(count + 1);
  EXPECT_FALSE(model.LoadBuffer(beyond.data(), beyond.size()));
}

}  // namespace
