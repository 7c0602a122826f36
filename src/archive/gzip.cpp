// gzip members inflated by zlib, one after another into a single output string.
#include <zlib.h>

#include <climits>

#include "archive/archive.hpp"
#include "archive/output_buffer.hpp"

namespace vardoln {

namespace {

using archive_detail::OutputBuffer;

class Inflater {
public:
    Inflater() noexcept { ok_ = inflateInit2(&stream_, 16 + MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ok_) inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool ok() const noexcept { return ok_; }
    z_stream& stream() noexcept { return stream_; }

private:
    z_stream stream_{};
    bool ok_ = false;
};

ArchiveError gzip_error(std::string_view what) { return ArchiveError{"gzip: " + std::string(what)}; }

bool starts_member(const unsigned char* next, std::size_t left) noexcept {
    return left >= 2 && next[0] == 0x1F && next[1] == 0x8B;
}

}  // namespace

bool is_gzip(std::string_view bytes) noexcept {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
           static_cast<unsigned char>(bytes[1]) == 0x8B;
}

ArchiveResult inflate_gzip(std::string_view bytes, std::size_t max_output) {
    Inflater inflater;
    if (!inflater.ok()) return gzip_error("cannot start the decoder");
    z_stream& stream = inflater.stream();

    // Text compresses about five to ten times; the buffer grows geometrically from there.
    OutputBuffer out(bytes.size() * 6 + 4096, max_output);
    const auto* next = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    for (;;) {
        if (out.room() == 0 && !out.reserve_more(1)) {
            return ArchiveError{archive_detail::limit_message("gzip", max_output)};
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
        if (out.over_cap()) return ArchiveError{archive_detail::limit_message("gzip", max_output)};

        if (status == Z_STREAM_END) {
            // Concatenated members form one file; anything else after a member is ignored,
            // as gzip itself does with trailing padding.
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
