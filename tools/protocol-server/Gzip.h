// One gzip member: the 10-byte header the client insists on (FLG 0, MTIME 0),
// raw deflate, CRC32 and ISIZE. A file name sets FNAME, for the fault that
// checks the client skips it.
#pragma once

#include <string>
#include <string_view>

namespace qps {

std::string GzipCompress(std::string_view data, std::string_view fileName = {});

}  // namespace qps
