#include "engine/gzip/gzip.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

namespace norvale::engine::gzip {
namespace {

constexpr std::size_t kWindow = 32768;

class ZlibDeflater final : public BlockDeflater {
public:
    void deflate(const std::uint8_t *dict, std::size_t dict_size, const std::uint8_t *data, std::size_t size,
                 bool last, int level, std::string &out) override {
        z_stream zs{};
        if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw Error("deflateInit2 failed");
        if (dict_size && deflateSetDictionary(&zs, dict, static_cast<uInt>(dict_size)) != Z_OK) {
            deflateEnd(&zs);
            throw Error("deflateSetDictionary failed");
        }
        out.resize(deflateBound(&zs, size) + 16);
        zs.next_in = const_cast<Bytef *>(data);
        zs.avail_in = static_cast<uInt>(size);
        zs.next_out = reinterpret_cast<Bytef *>(out.data());
        zs.avail_out = static_cast<uInt>(out.size());
        int rc = ::deflate(&zs, last ? Z_FINISH : Z_SYNC_FLUSH);
        bool ok = last ? rc == Z_STREAM_END : (rc == Z_OK && zs.avail_in == 0);
        out.resize(out.size() - zs.avail_out);
        deflateEnd(&zs);
        if (!ok) throw Error("deflate failed");
    }
};

struct Block {
    const std::uint8_t *data;
    std::size_t size;
    std::size_t dict_size;  // bytes right before data used as preset dictionary
    bool last;
    std::string out;
    uLong crc;
};

void put_le32(std::string &s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

}  // namespace

BlockDeflater &zlib_deflater() {
    static ZlibDeflater instance;
    return instance;
}

std::string compress(const std::uint8_t *data, std::size_t n, const Options &opt) {
    BlockDeflater &deflater = opt.deflater ? *opt.deflater : zlib_deflater();
    const std::size_t block = std::max<std::size_t>(opt.block, 64 * 1024);
    std::vector<Block> blocks;
    std::size_t off = 0;
    do {
        std::size_t size = std::min(block, n - off);
        blocks.push_back(Block{data + off, size, std::min(off, kWindow), false, {}, 0});
        off += size;
    } while (off < n);
    blocks.back().last = true;

    unsigned threads = opt.threads ? opt.threads : std::min(2u, std::max(1u, std::thread::hardware_concurrency()));
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, blocks.size()));

    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::atomic<bool> failed{false};
    auto work = [&] {
        for (std::size_t i; !failed && (i = next.fetch_add(1)) < blocks.size();) {
            Block &b = blocks[i];
            try {
                deflater.deflate(b.data - b.dict_size, b.dict_size, b.data, b.size, b.last, opt.level, b.out);
                b.crc = crc32_z(0, b.data, b.size);
            } catch (...) {
                if (!failed.exchange(true)) failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (auto &t : pool) t.join();
    if (failure) std::rethrow_exception(failure);

    std::size_t total = 18;
    for (auto &b : blocks) total += b.out.size();
    std::string out;
    out.reserve(total);
    // Header: magic, deflate, no flags, mtime, extra flags (2 = best compression), OS unknown.
    const char xfl = opt.level >= 9 ? 2 : (opt.level == 1 ? 4 : 0);
    out.append("\x1f\x8b\x08\x00", 4);
    put_le32(out, opt.mtime);
    out.push_back(xfl);
    out.push_back('\xff');
    uLong crc = crc32(0, nullptr, 0);
    for (auto &b : blocks) {
        out.append(b.out);
        crc = crc32_combine(crc, b.crc, static_cast<z_off_t>(b.size));
    }
    put_le32(out, static_cast<std::uint32_t>(crc));
    put_le32(out, static_cast<std::uint32_t>(n & 0xffffffffu));
    return out;
}

}  // namespace norvale::engine::gzip
