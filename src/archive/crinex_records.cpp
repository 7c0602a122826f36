// Compact RINEX read straight into the observation record, without writing RINEX text and
// parsing it again. The record must be exactly the one the text path gives, so every line the
// reader would see is either rebuilt by the text path's own functions and read by the reader's
// own functions (epoch lines, event records), or, for the observation fields that make up
// nearly all of the file, taken from the decoded integers by the same rule the reader applies
// to their F14.3 text. Layouts where the reader would read lines across epochs differently
// from how they were written are left to the text path.
#include <optional>
#include <string>
#include <vector>

#include "archive/crinex_decoder.hpp"
#include "archive/readers.hpp"
#include "rinex/ids.hpp"
#include "rinex/obs_header.hpp"
#include "rinex/obs_records.hpp"
#include "rinex/record_builder.hpp"
#include "rinex/text.hpp"

namespace vardoln {

namespace {

using crinex::Flavour;

// What the reader takes from a field the text path writes as F14.3 with its two flag
// characters: a value when there is one, it is not zero and fits the columns.
std::optional<double> field_value(const crinex::Observation& observation) noexcept {
    if (!observation.present || observation.raw == 0 || !crinex::fits_observation_field(observation.raw)) {
        return std::nullopt;
    }
    const bool negative = static_cast<std::int64_t>(observation.raw) < 0;
    return Thousandths{negative ? 0 - observation.raw : observation.raw, negative}.value();
}

class RecordSink final : public crinex::Sink {
public:
    RecordSink(RinexObsData& data, std::size_t input_size, std::size_t max_output, std::string_view file_name)
        : data_(data), input_size_(input_size), max_output_(max_output), file_name_(file_name) {}

    // The finished record, or false when the file needs the text path.
    bool finish() {
        if (covered_ && !builder_) start_records();
        return covered_;
    }

    bool start(Flavour flavour) override {
        flavour_ = flavour;
        return true;
    }

    bool header_line(std::string_view line) override {
        header_.append(line);
        header_.push_back('\n');
        return count_text(line.size() + 1);
    }

    bool epoch(const crinex::Epoch& epoch) override {
        if (!builder_ && !start_records()) return false;
        // An epoch the text path cut short is the last record; one more means it was not.
        builder_->clear_cut_epoch();
        scratch_.clear();
        crinex::append_epoch_lines(scratch_, flavour_, epoch);
        if (!count_text(scratch_.size() + satellite_text_bound(epoch))) return false;
        return flavour_ == Flavour::rinex3 ? rinex3_epoch(epoch) : rinex2_epoch(epoch);
    }

    bool event(std::string_view line, std::span<const std::string_view> records) override {
        if (!builder_ && !start_records()) return false;
        builder_->clear_cut_epoch();
        scratch_.clear();
        crinex::append_event_lines(scratch_, line, records);
        if (!count_text(scratch_.size())) return false;
        return flavour_ == Flavour::rinex3 ? rinex3_event() : rinex2_event();
    }

private:
    bool not_covered() {
        covered_ = false;
        return false;
    }

    // The text path fails once its text passes max_output; a bound of that text that passes
    // it leaves the file to the text path to decide.
    bool count_text(std::size_t bytes) {
        text_bound_ += bytes;
        return text_bound_ <= max_output_ || not_covered();
    }

    std::size_t satellite_text_bound(const crinex::Epoch& epoch) const noexcept {
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < epoch.decoded; ++i) {
            const crinex::Satellite& satellite = epoch.satellites[i];
            bytes += 16 * satellite.observed.size() + (satellite.types + 4) / 5 + 4;
        }
        return bytes;
    }

    // The header as the reader reads it from the text path's header lines; the records follow
    // only if the reader ends the header on the same line and picks the reader of this layout.
    bool start_records() {
        LineCursor lines(header_);
        if (!read_observation_header(lines, data_) || !lines.at_end()) return not_covered();
        if ((data_.version >= 3.0) != (flavour_ == Flavour::rinex3)) return not_covered();
        if (data_.marker_name.empty()) data_.marker_name = file_name_;
        builder_.emplace(data_);
        // Every stored value took at least two characters of the compact text.
        data_.values.reserve(input_size_ / 4 + 16);
        return true;
    }

    // The epoch line must start a block for the reader (">"), and no satellite line may look
    // like one; then the reader takes the first satellites up to its own reading of the count.
    bool rinex3_epoch(const crinex::Epoch& epoch) {
        const std::string_view line = LineCursor(scratch_).next();
        if (!starts_block(line)) return not_covered();
        for (std::size_t i = 0; i < epoch.decoded; ++i) {
            if (epoch.satellites[i].id[0] == '>') return not_covered();
        }
        if (line.empty()) return true;  // passed over with its satellite lines
        const std::optional<EpochHeader> header = read_rinex3_epoch_line(line);
        if (!header) return true;  // its satellite lines are passed over
        const std::size_t read = std::min<std::size_t>(header->satellite_count, epoch.decoded);
        builder_->begin_epoch();
        for (std::size_t i = 0; i < read; ++i) {
            const crinex::Satellite& satellite = epoch.satellites[i];
            const std::string_view id = trim(std::string_view(satellite.id.data(), 3));
            const CodePlan* plan = builder_->plan_for(satellite_letter(id));
            if (plan == nullptr) continue;
            add_values(*plan, satellite);
            builder_->end_satellite(id, satellite_start_);
        }
        // The text path's reader meets the end of the text before the announced count when the
        // file was cut inside this epoch (only the last epoch has fewer data lines than listed).
        if (header->satellite_count > epoch.decoded) builder_->mark_cut_epoch(header->time);
        builder_->end_epoch(header->time, header->flag);
        return true;
    }

    // Each satellite's values lie in the lines that follow the list, as many per satellite as
    // the reader expects, and every listed satellite must have a name for the reader.
    bool rinex2_epoch(const crinex::Epoch& epoch) {
        LineCursor lines(scratch_);
        const std::string_view first = lines.next();
        const std::optional<EpochHeader> header = read_rinex2_epoch_line(first);
        // An epoch line the reader passes over: none of the lines after it reads as one.
        if (!header) return true;
        ids_.clear();
        std::uint32_t remaining = read_rinex2_satellite_fields(first, header->satellite_count, ids_);
        while (remaining > 0 && !lines.at_end()) remaining = read_rinex2_satellite_fields(lines.next(), remaining, ids_);
        if (ids_.size() != epoch.satellites.size()) return not_covered();

        const CodePlan* plan = builder_->plan_for('G');
        const std::size_t reader_types = plan == nullptr ? 0 : plan->codes.size();
        builder_->begin_epoch();
        for (std::size_t i = 0; i < epoch.decoded; ++i) {
            const crinex::Satellite& satellite = epoch.satellites[i];
            const std::size_t written_lines = satellite.types == 0 ? 1 : (satellite.types + 4) / 5;
            if (written_lines != (reader_types + 4) / 5) return not_covered();
            if (plan == nullptr) continue;
            add_values(*plan, satellite);
            builder_->end_satellite(ids_[i].view(), satellite_start_);
        }
        // As the text path's reader: a satellite list announced longer than it is written, or a
        // listed satellite without its observation lines, at the end of the text.
        if (remaining > 0 || (epoch.decoded < ids_.size() && reader_types > 0)) builder_->mark_cut_epoch(header->time);
        builder_->end_epoch(header->time, header->flag);
        return true;
    }

    void add_values(const CodePlan& plan, const crinex::Satellite& satellite) {
        satellite_start_ = builder_->begin_satellite();
        const std::size_t fields = std::min(plan.codes.size(), satellite.observed.size());
        for (std::size_t k = 0; k < fields; ++k) {
            const std::optional<double> value = field_value(satellite.observed[k]);
            if (!value) continue;
            builder_->add_value(plan, k, satellite_start_, *value, indicator_at(satellite.flags, 2 * k),
                                indicator_at(satellite.flags, 2 * k + 1));
        }
    }

    // An event's lines go through the reader itself: its block can only end at the next
    // epoch line, which starts one too.
    bool rinex3_event() {
        LineCursor lines(scratch_);
        if (!starts_block(lines.peek())) return not_covered();
        read_rinex3_records(lines, *builder_);
        return true;
    }

    // The reader tries every event line as an epoch line; one that reads as an epoch naming
    // satellites, or listing them on lines further on, would take lines of the epochs after it.
    bool rinex2_event() {
        LineCursor lines(scratch_);
        while (!lines.at_end()) {
            const std::string_view line = lines.next();
            const std::optional<EpochHeader> header = read_rinex2_epoch_line(line);
            if (!header) continue;
            if (header->satellite_count > 12) return not_covered();
            ids_.clear();
            read_rinex2_satellite_fields(line, header->satellite_count, ids_);
            if (!ids_.empty()) return not_covered();
        }
        return true;
    }

    // A line that ends an open block of the RINEX 3 reader and opens its own, if any.
    static bool starts_block(std::string_view line) noexcept { return line.empty() || line.front() == '>'; }

    RinexObsData& data_;
    std::size_t input_size_;
    std::size_t max_output_;
    std::string_view file_name_;
    Flavour flavour_ = Flavour::rinex3;
    bool covered_ = true;
    std::size_t text_bound_ = 0;
    std::string header_;
    std::optional<RecordBuilder> builder_;
    std::string scratch_;
    std::vector<ShortId> ids_;
    std::uint32_t satellite_start_ = 0;
};

}  // namespace

std::optional<RinexObsData> read_crinex_observations(std::string_view bytes, std::size_t max_output,
                                                     std::string_view file_name) {
    // The reader turns bytes above 0x7F into "?" before reading; such files take the text path.
    if (has_high_bytes(bytes)) return std::nullopt;
    RinexObsData data;
    RecordSink sink(data, bytes.size(), max_output, file_name);
    const crinex::Outcome outcome = crinex::decode(bytes, sink);
    if (!outcome.error.empty() || outcome.stopped || !sink.finish()) return std::nullopt;
    return data;
}

}  // namespace vardoln
