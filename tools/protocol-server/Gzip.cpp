#include "tools/protocol-server/Gzip.h"

#include <zlib.h>

#include <stdexcept>

namespace qps {

std::string GzipCompress(std::string_view data, std::string_view fileName) {
  std::string out;
  out += '\x1f';
  out += '\x8b';
  out += '\x08';                          // deflate
  out += fileName.empty() ? '\0' : '\x08';  // FLG: FNAME only when asked
  out.append(4, '\0');                    // MTIME
  out += '\0';                            // XFL
  out += '\x03';                          // OS: Unix
  if (!fileName.empty()) {
    out.append(fileName);
    out += '\0';
  }

  z_stream zs{};
  if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  std::string deflated(deflateBound(&zs, static_cast<uLong>(data.size())) + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(deflated.data());
  zs.avail_out = static_cast<uInt>(deflated.size());
  int rc = deflate(&zs, Z_FINISH);
  size_t produced = zs.total_out;
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  out.append(deflated.data(), produced);

  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
  uint32_t size = static_cast<uint32_t>(data.size());
  for (int i = 0; i < 4; ++i) out += static_cast<char>((crc >> (8 * i)) & 0xFF);
  for (int i = 0; i < 4; ++i) out += static_cast<char>((size >> (8 * i)) & 0xFF);
  return out;
}

}  // namespace qps
