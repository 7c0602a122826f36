// Compact RINEX expanded to the plain observation text the readers accept: the text path,
// which the direct path of crinex_records.cpp leaves the files it does not cover to.
#include <algorithm>
#include <string>

#include "archive/archive.hpp"
#include "archive/crinex_decoder.hpp"
#include "archive/output_buffer.hpp"
#include "rinex/numbers.hpp"

namespace vardoln {

namespace {

constexpr std::string_view kVersionLabel = "CRINEX VERS   / TYPE";
constexpr std::size_t kLabelColumn = 60;

using crinex::Flavour;
using crinex::trim_trailing_blanks;

class TextSink final : public crinex::Sink {
public:
    TextSink(std::size_t input_size, std::size_t max_output) : max_output_(max_output) {
        // Expanded text is about three to four times the compact one.
        out_.reserve(std::min<std::size_t>(max_output + 1, input_size / 2 * 7 + 4096));
    }

    bool over_cap() const noexcept { return out_.size() > max_output_; }
    std::string take() { return std::move(out_); }

    bool start(Flavour flavour) override {
        flavour_ = flavour;
        return true;
    }

    bool header_line(std::string_view line) override {
        out_.append(line);
        out_.push_back('\n');
        return true;
    }

    bool epoch(const crinex::Epoch& epoch) override {
        crinex::append_epoch_lines(out_, flavour_, epoch);
        for (std::size_t i = 0; i < epoch.decoded; ++i) append_satellite(epoch.satellites[i]);
        return !over_cap();
    }

    bool event(std::string_view line, std::span<const std::string_view> records) override {
        crinex::append_event_lines(out_, line, records);
        return !over_cap();
    }

private:
    // One satellite's observations as F14.3 fields with their two flag characters, five to a
    // line in RINEX 2 and after the identifier in RINEX 3; blanks for absent fields.
    void append_satellite(const crinex::Satellite& satellite) {
        const bool rinex2 = flavour_ == Flavour::rinex2;
        std::size_t line_start = out_.size();
        if (!rinex2) out_.append(satellite.id.data(), 3);
        for (std::uint32_t k = 0; k < satellite.types; ++k) {
            if (rinex2 && k > 0 && k % 5 == 0) {
                trim_trailing_blanks(out_, line_start);
                out_.push_back('\n');
                line_start = out_.size();
            }
            if (k >= satellite.observed.size() || !satellite.observed[k].present) {
                out_.append(16, ' ');
                continue;
            }
            crinex::append_fixed(out_, satellite.observed[k].raw, 3, 14);
            const std::size_t flag = 2 * std::size_t{k};
            out_.push_back(flag < satellite.flags.size() ? satellite.flags[flag] : ' ');
            out_.push_back(flag + 1 < satellite.flags.size() ? satellite.flags[flag + 1] : ' ');
        }
        trim_trailing_blanks(out_, rinex2 ? line_start : line_start + 3);
        out_.push_back('\n');
    }

    std::string out_;
    std::size_t max_output_;
    Flavour flavour_ = Flavour::rinex3;
};

}  // namespace

bool is_crinex(std::string_view bytes) noexcept {
    const std::size_t end = bytes.find('\n');
    const std::string_view first = bytes.substr(0, end);
    return column_range(first, kLabelColumn, kLabelColumn + 20) == kVersionLabel;
}

ArchiveResult expand_crinex(std::string_view bytes, std::size_t max_output) {
    TextSink sink(bytes.size(), max_output);
    const crinex::Outcome outcome = crinex::decode(bytes, sink);
    if (!outcome.error.empty()) return ArchiveError{"CRINEX: " + outcome.error};
    if (sink.over_cap()) {
        return archive_detail::limit_error("CRINEX", max_output);
    }
    return sink.take();
}

}  // namespace vardoln
