// A station's daily series against its own past: the band of every day and the change points,
// from two contiguous buffers (int64 days, float64 values) so that a history of thousands of
// series crosses into the core without a Python object per value.
#include <cstring>

#include "history/trends.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

// A C-contiguous one-dimensional buffer of `format` items; false with an error set otherwise.
class ReadBuffer {
public:
    ReadBuffer() = default;
    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;
    ~ReadBuffer() {
        if (held_) PyBuffer_Release(&view_);
    }

    bool open(PyObject* object, const char* name, char format, Py_ssize_t item_size) {
        if (PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) return false;
        held_ = true;
        const char* given = view_.format == nullptr ? "B" : view_.format;
        if (given[0] == '<' || given[0] == '=' || given[0] == '@') ++given;
        // 'l' and 'q' are both eight bytes on the Linux targets; the item size decides.
        const bool integer_ok = format == 'q' && (given[0] == 'q' || given[0] == 'l');
        if (view_.ndim != 1 || view_.itemsize != item_size || given[1] != '\0' ||
            (!integer_ok && given[0] != format)) {
            py::raise_type_error(std::string("argument '") + name + "': expected a one-dimensional contiguous " +
                                 (format == 'q' ? "int64" : "float64") + " array");
            return false;
        }
        return true;
    }
    std::size_t size() const noexcept { return static_cast<std::size_t>(view_.len / view_.itemsize); }
    const void* data() const noexcept { return view_.buf; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

PyObject* change_point_list(const std::vector<history::ChangePoint>& found) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(found.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < found.size(); ++i) {
        Ref entry(PyDict_New());
        if (!entry || !py::dict_set(entry.get(), "day", PyLong_FromLongLong(found[i].day)) ||
            !py::dict_set(entry.get(), "confidence", py::new_float(found[i].confidence)) ||
            !py::dict_set(entry.get(), "mean_before", py::new_float(found[i].mean_before)) ||
            !py::dict_set(entry.get(), "mean_after", py::new_float(found[i].mean_after))) {
            return nullptr;
        }
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), entry.release());
    }
    return list.release();
}

}  // namespace

PyObject* trend(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("trend", 2, "days", "values", "window_days", "resamples", "confidence",
                                              "min_segment_days", "seed");
    py::Slots<7> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    ReadBuffer days_buffer;
    ReadBuffer values_buffer;
    if (!days_buffer.open(slots[0], "days", 'q', 8) || !values_buffer.open(slots[1], "values", 'd', 8)) return nullptr;
    if (days_buffer.size() != values_buffer.size()) return py::raise_value_error("days and values differ in length");
    std::uint32_t window = history::kBandWindowDays;
    history::ChangePointSettings settings;
    std::uint64_t seed = settings.seed;
    if ((slots[2] != nullptr && !py::to_u32(slots[2], "window_days", window)) ||
        (slots[3] != nullptr && !py::to_u32(slots[3], "resamples", settings.resamples)) ||
        !py::double_or_default(slots[4], "confidence", settings.confidence) ||
        (slots[5] != nullptr && !py::to_u32(slots[5], "min_segment_days", settings.min_segment_days)) ||
        (slots[6] != nullptr && !py::to_u64(slots[6], "seed", seed))) {
        return nullptr;
    }
    settings.seed = seed;
    if (window == 0) return py::raise_value_error("window_days must be at least 1");
    std::vector<history::DailyValue> series(days_buffer.size());
    const auto* days = static_cast<const std::int64_t*>(days_buffer.data());
    const auto* values = static_cast<const double*>(values_buffer.data());
    for (std::size_t i = 0; i < series.size(); ++i) series[i] = {days[i], values[i]};

    using Bands = std::variant<std::vector<history::Band>, std::string>;
    using Points = std::variant<std::vector<history::ChangePoint>, std::string>;
    std::pair<Bands, Points> found = py::without_gil([&] {
        return std::pair<Bands, Points>(history::bands(series, window), history::change_points(series, settings));
    });
    if (const auto* error = std::get_if<std::string>(&found.first)) return py::raise_value_error(*error);
    if (const auto* error = std::get_if<std::string>(&found.second)) return py::raise_value_error(*error);
    const auto& bands = std::get<std::vector<history::Band>>(found.first);
    std::vector<double> mean(bands.size());
    std::vector<double> sigma(bands.size());
    std::vector<std::uint32_t> used(bands.size());
    std::vector<std::uint8_t> flagged(bands.size());
    for (std::size_t i = 0; i < bands.size(); ++i) {
        mean[i] = bands[i].mean;
        sigma[i] = bands[i].sigma;
        used[i] = bands[i].days_used;
        flagged[i] = bands[i].flagged ? 1 : 0;
    }
    Ref result(PyDict_New());
    if (!result || !set_array(result.get(), "band_mean", std::move(mean)) ||
        !set_array(result.get(), "band_sigma", std::move(sigma)) ||
        !set_array(result.get(), "band_days", std::move(used)) ||
        !set_flags(result.get(), "flagged", std::move(flagged)) ||
        !py::dict_set(result.get(), "change_points",
                      change_point_list(std::get<std::vector<history::ChangePoint>>(found.second)))) {
        return nullptr;
    }
    return result.release();
}

}  // namespace vardoln::tools
