// gzip compression for binding code: one gzip member, blocks deflated on both cores, with the
// faster deflate of the zlib_ng package when it is installed and the system zlib otherwise.
#pragma once

#include <nanobind/nanobind.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace norvale::bind {

/// Which deflate gzip_compress() uses: "zlib-ng" or "zlib".
const char *gzip_backend();

/// One gzip member holding data[0, n) at the given level, with zlib-ng when it is installed and
/// `zlib_ng` allows it. Call with the GIL held; it is released while compressing.
std::string gzip_compress(const std::uint8_t *data, std::size_t n, int level = 9, bool zlib_ng = true);

}  // namespace norvale::bind
