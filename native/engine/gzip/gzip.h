// gzip compression of a whole buffer into one member, deflated in blocks on several threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace norvale::engine::gzip {

/// Deflates one block into raw deflate data. `dict` holds up to 32 KiB of input that precedes
/// the block (a preset dictionary); a block that is not the last must end byte-aligned without
/// the final-block bit (a sync flush), the last one with a final block. Throws Error on failure.
/// Called from several threads at once.
class BlockDeflater {
public:
    virtual ~BlockDeflater() = default;
    virtual void deflate(const std::uint8_t *dict, std::size_t dict_size, const std::uint8_t *data,
                         std::size_t size, bool last, int level, std::string &out) = 0;
};

/// The system zlib, used when no other deflater is given.
BlockDeflater &zlib_deflater();

struct Options {
    int level = 9;             ///< zlib level, 0..9
    unsigned threads = 0;      ///< worker threads; 0 = one per core, at most 2
    std::size_t block = 256 * 1024;  ///< input bytes per independently deflated block
    std::uint32_t mtime = 0;   ///< modification time written to the header
    BlockDeflater *deflater = nullptr;  ///< nullptr = zlib_deflater()
};

/// Raised when zlib reports an error (it never should for in-memory compression).
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// Returns one gzip member holding data[0, n). Each block after the first is primed with the
/// last 32 KiB of the block before it, so the ratio stays close to a single-stream deflate.
std::string compress(const std::uint8_t *data, std::size_t n, const Options &opt = {});

}  // namespace norvale::engine::gzip
