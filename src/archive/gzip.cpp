// gzip members inflated one after another into a single output string. libdeflate does the
// work (two to three times zlib's speed on RINEX text); zlib is the reference that any input
// libdeflate does not take is handed to, so a damaged stream fails with zlib's own words.
//
// The two differ on streams that no encoder writes: libdeflate also decodes the literal/length
// symbols 286 and 287, the distance codes 30 and 31 and tables that announce them, which zlib
// refuses. Such a member is still checked against its CRC-32 and size, so it is read only when
// it was built to be read that way.
//
// Built without libdeflate (VARDOLN_HAVE_LIBDEFLATE unset: its development files were missing),
// zlib inflates every stream: the failure path of the fast one, so the output, the errors and the
// cap are the same, more slowly.
#if VARDOLN_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#include <zlib.h>

#include <climits>
#include <cstring>
#include <memory>

#include "archive/archive.hpp"
#include "archive/output_buffer.hpp"

namespace vardoln {

namespace {

using archive_detail::OutputBuffer;

ArchiveError gzip_error(std::string_view what) { return ArchiveError{"gzip: " + std::string(what)}; }

bool starts_member(const unsigned char* next, std::size_t left) noexcept {
    return left >= 2 && next[0] == 0x1F && next[1] == 0x8B;
}

class ZlibInflater {
public:
    ZlibInflater() noexcept { ok_ = inflateInit2(&stream_, 16 + MAX_WBITS) == Z_OK; }
    ~ZlibInflater() {
        if (ok_) inflateEnd(&stream_);
    }
    ZlibInflater(const ZlibInflater&) = delete;
    ZlibInflater& operator=(const ZlibInflater&) = delete;

    bool ok() const noexcept { return ok_; }
    z_stream& stream() noexcept { return stream_; }

private:
    z_stream stream_{};
    bool ok_ = false;
};

#if VARDOLN_HAVE_LIBDEFLATE
using Decompressor = std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)>;

// gzip header flag: a CRC-16 of the header follows it. zlib checks it and libdeflate skips it,
// so such members go to zlib.
constexpr unsigned char kHeaderCrcFlag = 0x02;

// The size a member announces in its last four bytes (modulo 2^32), trusted as a first guess
// only where deflate could reach it: text rarely deflates beyond 16 to 1.
std::size_t first_guess(std::string_view bytes) noexcept {
    constexpr std::size_t kMaxTrustedRatio = 16;
    const std::size_t fallback = bytes.size() * 4 + 4096;
    if (bytes.size() < 18) return fallback;  // shorter than an empty member
    const auto* tail = reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size() - 4);
    const std::size_t announced = std::size_t{tail[0]} | std::size_t{tail[1]} << 8 | std::size_t{tail[2]} << 16 |
                                  std::size_t{tail[3]} << 24;
    return announced <= bytes.size() * kMaxTrustedRatio ? announced : fallback;
}

enum class FastResult { done, needs_reference };

// Every member through libdeflate, which needs the whole output span up front: a member that
// does not fit is decoded again into a buffer twice the size. Anything libdeflate refuses, and
// a member that would pass the cap, is left to the reference to word.
FastResult inflate_fast(std::string_view bytes, OutputBuffer& out) {
    const Decompressor decompressor(libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    if (!decompressor) return FastResult::needs_reference;
    const auto* next = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    for (;;) {
        if (left >= 4 && (next[3] & kHeaderCrcFlag) != 0) return FastResult::needs_reference;
        for (;;) {
            std::size_t used = 0;
            std::size_t written = 0;
            const libdeflate_result status = libdeflate_gzip_decompress_ex(
                decompressor.get(), next, left, out.data() + out.written(), out.room(), &used, &written);
            if (status == LIBDEFLATE_SUCCESS) {
                out.commit(written);
                next += used;
                left -= used;
                break;
            }
            if (status != LIBDEFLATE_INSUFFICIENT_SPACE || !out.grow()) return FastResult::needs_reference;
        }
        if (out.over_cap()) return FastResult::needs_reference;
        // Concatenated members form one file; anything else after a member is ignored, as
        // gzip itself does with trailing padding.
        if (!starts_member(next, left)) return FastResult::done;
    }
}
#endif  // VARDOLN_HAVE_LIBDEFLATE

}  // namespace

bool is_gzip(std::string_view bytes) noexcept {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
           static_cast<unsigned char>(bytes[1]) == 0x8B;
}

ArchiveResult inflate_gzip(std::string_view bytes, std::size_t max_output) {
#if VARDOLN_HAVE_LIBDEFLATE
    {
        OutputBuffer out(first_guess(bytes), max_output);
        if (inflate_fast(bytes, out) == FastResult::done) return out.finish();
    }
#endif
    // The failure path: zlib reads the whole input again and says what is wrong with it.
    return inflate_gzip_reference(bytes, max_output);
}

ArchiveResult inflate_gzip_reference(std::string_view bytes, std::size_t max_output) {
    ZlibInflater inflater;
    if (!inflater.ok()) return gzip_error("cannot start the decoder");
    z_stream& stream = inflater.stream();

    // Text compresses about five to ten times; the buffer grows geometrically from there.
    OutputBuffer out(bytes.size() * 6 + 4096, max_output);
    const auto* next = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    for (;;) {
        if (out.room() == 0 && !out.reserve_more(1)) {
            return archive_detail::limit_error("gzip", max_output);
        }
        // zlib counts in unsigned int; larger spans go through in slices.
        const auto in_slice = static_cast<uInt>(std::min<std::size_t>(left, UINT_MAX));
        const auto out_slice = static_cast<uInt>(std::min<std::size_t>(out.room(), UINT_MAX));
        stream.next_in = const_cast<unsigned char*>(next);
        stream.avail_in = in_slice;
        stream.next_out = reinterpret_cast<unsigned char*>(out.data() + out.written());
        stream.avail_out = out_slice;
        const int status = inflate(&stream, Z_NO_FLUSH);
        next += in_slice - stream.avail_in;
        left -= in_slice - stream.avail_in;
        out.commit(out_slice - stream.avail_out);
        if (out.over_cap()) return archive_detail::limit_error("gzip", max_output);

        if (status == Z_STREAM_END) {
            // Concatenated members form one file; anything else after a member is ignored.
            if (!starts_member(next, left)) break;
            if (inflateReset(&stream) != Z_OK) return gzip_error("cannot restart the decoder");
            continue;
        }
        if (status == Z_DATA_ERROR || status == Z_NEED_DICT) {
            return gzip_error("corrupt data (" + std::string(stream.msg ? stream.msg : "invalid stream") + ")");
        }
        if (status == Z_MEM_ERROR) return gzip_error("out of memory");
        // Z_OK or Z_BUF_ERROR: with input left zlib only wants more room, otherwise the
        // stream stopped before its end.
        if (left == 0 && stream.avail_out != 0) return gzip_error("truncated stream");
    }
    return out.finish();
}

}  // namespace vardoln
