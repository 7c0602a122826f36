#include "health/health.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <span>
#include <utility>

#include "arrays/tables.hpp"
#include "qc/signals.hpp"
#include "rinex/ids.hpp"

namespace vardoln {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Fewer samples at 30 to 60 degrees than this say nothing about a signal's level.
constexpr std::uint64_t kMinLevelSamples = 30;

// Nominal C/N0 at 30 to 60 degrees: the typical level of healthy geodetic stations (the ESBC,
// NYA1 and AJAC days of the test recordings) per signal type.
// clang-format off
constexpr std::array<NominalLevel, 24> kNominals{{
    {'G', '1', "WPYDM", 43.0}, {'G', '1', "", 46.0},   // L1 P(Y) semi-codeless, L1 C/A and L1C
    {'G', '2', "WPYDM", 41.0}, {'G', '2', "", 45.0},   // L2 semi-codeless, L2C
    {'G', '5', "", 41.0},                              // L5
    {'J', '1', "", 46.0}, {'J', '2', "", 45.0}, {'J', '5', "", 41.0}, {'J', '6', "", 45.0},
    {'R', '1', "", 46.0}, {'R', '2', "", 44.0}, {'R', '3', "", 42.0},
    {'R', '4', "", 44.0}, {'R', '6', "", 42.0},
    {'E', '1', "", 47.0}, {'E', '5', "", 43.0}, {'E', '7', "", 49.0}, {'E', '8', "", 50.0}, {'E', '6', "", 49.0},
    {'C', '1', "", 45.0}, {'C', '2', "", 46.0}, {'C', '5', "", 45.0}, {'C', '6', "", 45.0}, {'C', '7', "", 46.0},
}};
// clang-format on

std::string format(const char* pattern, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

char letter_of_name(std::string_view name) noexcept {
    for (const ConstellationNames& row : kConstellations) {
        if (row.names[static_cast<std::size_t>(NamingContext::ObservedSystem)] == name) return row.letter;
    }
    return 0;
}

bool selected(const std::string& systems, char letter) noexcept {
    return systems.empty() || systems.find(letter) != std::string::npos;
}

double median_of(std::vector<double> values) {
    if (values.empty()) return kNaN;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : 0.5 * (values[middle - 1] + values[middle]);
}

Criterion not_assessed(Group group, std::string subject, std::string reason) {
    return {group, std::move(subject), kNaN, kNaN, Status::not_assessed, std::move(reason)};
}

Status worse(Status a, Status b) noexcept {
    const auto rank = [](Status s) { return s == Status::not_assessed ? -1 : static_cast<int>(s); };
    return rank(b) > rank(a) ? b : a;
}

void completeness_criteria(const HealthInputs& in, std::vector<Criterion>& out) {
    if (in.completeness == nullptr) {
        out.push_back(not_assessed(Group::completeness, "",
                                   in.completeness_refusal.empty() ? in.no_navigation_reason : in.completeness_refusal));
        return;
    }
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> totals;  // name: expected, observed
    std::vector<std::string> order;
    for (const arrays::CompletenessRow& row : in.completeness->rows) {
        if (!row.predictable || !row.expected || !selected(in.systems, letter_of_name(row.system))) continue;
        auto [entry, added] = totals.try_emplace(row.system, 0, 0);
        if (added) order.push_back(row.system);
        entry->second.first += *row.expected;
        entry->second.second += row.observed;
    }
    for (const std::string& name : order) {
        const auto [expected, observed] = totals[name];
        if (expected == 0) {
            out.push_back(not_assessed(Group::completeness, name, "no satellite expected above the mask"));
            continue;
        }
        const double percent = 100.0 * static_cast<double>(observed) / static_cast<double>(expected);
        out.push_back({Group::completeness, name, percent, kNaN, kCompletenessPercent.judge(percent), {}});
    }
    if (order.empty()) out.push_back(not_assessed(Group::completeness, "", "no constellation with an ephemeris"));
}

void qc_criteria(const HealthInputs& in, std::vector<Criterion>& out) {
    const auto pairs = signal_pairs();
    bool any = false;
    for (const PairSummary& summary : in.qc->summaries) {
        if (summary.pair >= pairs.size() || !selected(in.systems, pairs[summary.pair].system)) continue;
        any = true;
        const std::string subject =
            observed_system_name(pairs[summary.pair].system) + ' ' + std::string(pairs[summary.pair].name);
        if (summary.rms_i_m && summary.rms_j_m) {
            const Status status =
                worse(kMultipathMetres.judge(*summary.rms_i_m), kMultipathMetres.judge(*summary.rms_j_m));
            out.push_back({Group::multipath, subject, *summary.rms_i_m, *summary.rms_j_m, status, {}});
        } else {
            out.push_back(not_assessed(Group::multipath, subject, "no arc of ten epochs or more"));
        }
        if (summary.observations == 0) {
            out.push_back(not_assessed(Group::slips, subject, "no observation of both signals"));
        } else {
            const double per_slip = summary.obs_per_slip.value_or(kInfinity);
            out.push_back({Group::slips, subject, per_slip, static_cast<double>(summary.observations),
                           kObservationsPerSlip.judge(per_slip), {}});
        }
    }
    if (!any) {
        const std::string reason = "no signal pair with code and phase on two frequencies";
        out.push_back(not_assessed(Group::multipath, "", reason));
        out.push_back(not_assessed(Group::slips, "", reason));
    }
}

void cn0_criteria(const HealthInputs& in, std::vector<Criterion>& out) {
    if (in.entry_elevations_deg == nullptr) {
        out.push_back(not_assessed(Group::cn0, "", in.no_navigation_reason + ": elevations unknown"));
        return;
    }
    std::vector<double> shortfalls;
    const std::size_t first = out.size();
    for (const SignalLevel& level : signal_levels(*in.obs, *in.entry_elevations_deg, in.systems)) {
        std::string subject = observed_system_name(level.system) + ' ' + level.code;
        const std::optional<double> nominal = nominal_cn0(level.system, level.code);
        if (!nominal) {
            out.push_back(not_assessed(Group::cn0, std::move(subject), "no nominal value for this signal"));
            continue;
        }
        if (level.samples < kMinLevelSamples) {
            out.push_back(not_assessed(Group::cn0, std::move(subject), "too few samples at 30 to 60 degrees"));
            continue;
        }
        const double shortfall = *nominal - level.mean_db;
        shortfalls.push_back(shortfall);
        out.push_back({Group::cn0, std::move(subject), level.mean_db, *nominal, kCn0ShortfallDb.judge(shortfall), {}});
    }
    if (shortfalls.empty()) {
        if (out.size() == first) out.push_back(not_assessed(Group::cn0, "", "no C/N0 sample at 30 to 60 degrees"));
        return;
    }
    const double median = median_of(shortfalls);
    out.push_back({Group::cn0, "all signals", median, kNaN, kCn0MedianShortfallDb.judge(median), {}});
}

void event_criterion(const HealthInputs& in, std::vector<Criterion>& out) {
    const std::size_t count = (in.detector == nullptr ? 0 : in.detector->events.size()) + in.visibility_spoofing;
    out.push_back({Group::events, "", static_cast<double>(count), kNaN, count == 0 ? Status::pass : Status::fail, {}});
}

void navigation_criterion(const HealthInputs& in, std::vector<Criterion>& out) {
    if (in.coverage == nullptr) {
        out.push_back(not_assessed(Group::navigation, "", in.no_navigation_reason));
        return;
    }
    std::uint64_t observed = 0;
    std::uint64_t covered = 0;
    std::string held;
    for (const arrays::CoverageRow& row : *in.coverage) {
        if (!row.predictable || row.system == "all" || row.covered == 0) continue;
        if (!selected(in.systems, letter_of_name(row.system))) continue;
        observed += row.observed;
        covered += row.covered;
        held += (held.empty() ? "" : ", ") + row.system;
    }
    if (observed == 0) {
        out.push_back({Group::navigation, "", 0.0, kNaN, Status::fail, {}});
        return;
    }
    const double percent = 100.0 * static_cast<double>(covered) / static_cast<double>(observed);
    out.push_back({Group::navigation, held, percent, kNaN, kNavigationCoveragePercent.judge(percent), {}});
}

const Criterion* worst_of(const std::vector<Criterion>& criteria, Group group) {
    const Criterion* worst = nullptr;
    for (const Criterion& c : criteria) {
        if (c.group != group || c.status == Status::not_assessed) continue;
        if (worst == nullptr || worse(worst->status, c.status) != worst->status) worst = &c;
    }
    return worst;
}

// "multipath (GLONASS G1/G2 0.67 m)", "C/N0 (Galileo S6C 35.4 dB-Hz, nominal 49)".
std::string group_text(const Criterion& c) {
    std::string figure;
    switch (c.group) {
        case Group::completeness: figure = format("%.1f %%", c.figure); break;
        case Group::multipath: figure = format("%.2f m", std::max(c.figure, c.second_figure)); break;
        case Group::slips:
            figure = format(c.figure < 10.0 ? "%.1f observations per slip" : "%.0f observations per slip", c.figure);
            break;
        case Group::cn0:
            figure = c.subject == "all signals" ? format("%.1f dB below nominal", c.figure)
                                                : format("%.1f dB-Hz", c.figure) + format(", nominal %.0f", c.second_figure);
            break;
        case Group::navigation: figure = format("%.1f %%", c.figure); break;
        case Group::events: figure = format("%.0f", c.figure); break;
    }
    const std::string name = c.group == Group::cn0          ? "C/N0"
                             : c.group == Group::navigation ? "navigation coverage"
                                                            : std::string(group_name(c.group));
    return name + " (" + (c.subject.empty() ? "" : c.subject + ' ') + figure + ')';
}

std::string event_clause(const DetectorResult& detector) {
    std::array<std::size_t, 4> counts{};
    const DetectorEvent* first_of[4] = {nullptr, nullptr, nullptr, nullptr};
    for (const DetectorEvent& event : detector.events) {
        const auto t = static_cast<std::size_t>(event.type);
        if (counts[t]++ == 0) first_of[t] = &event;
    }
    std::string clause;
    const auto bands_of = [](const DetectorEvent& event) {
        std::string text;
        for (const Band band : event.bands) text += (text.empty() ? "" : "+") + std::string(band_name(band));
        return text;
    };
    const auto add = [&](const std::string& part) { clause += (clause.empty() ? "" : "; ") + part; };
    if (const DetectorEvent* e = first_of[static_cast<std::size_t>(EventType::lasting_drop)]) {
        const std::string by = std::isnan(e->median_drop_db) ? "" : " by " + format("%.0f", e->median_drop_db) + " dB";
        add("C/N0 fell" + by + " in " + bands_of(*e) + " at " + e->start +
            " and had not recovered when the recording ended (jamming, or an antenna, cable or attenuation fault)");
    }
    for (const auto& [type, word] : {std::pair{EventType::jamming, "jamming"},
                                     std::pair{EventType::interference, "interference"}}) {
        const DetectorEvent* e = first_of[static_cast<std::size_t>(type)];
        if (e == nullptr) continue;
        const std::size_t n = counts[static_cast<std::size_t>(type)];
        const std::string depth =
            std::isnan(e->median_drop_db) ? "signals lost" : format("%.0f", e->median_drop_db) + " dB down";
        add(std::string(word) + " detected: " + std::to_string(n) + (n == 1 ? " event" : " events") + ", the first at " +
            e->start + " in " + bands_of(*e) + ", " + depth);
    }
    if (const DetectorEvent* e = first_of[static_cast<std::size_t>(EventType::spoofing)]) {
        add("spoofing indicated: the C/N0 of " + std::to_string(e->satellites.size()) +
            " satellites rose together from " + e->start);
    }
    return clause;
}

}  // namespace

std::string_view status_name(Status status) noexcept {
    switch (status) {
        case Status::pass: return "pass";
        case Status::warn: return "warn";
        case Status::fail: return "fail";
        case Status::not_assessed: return "not assessed";
    }
    return "";
}

std::string_view group_name(Group group) noexcept {
    switch (group) {
        case Group::completeness: return "completeness";
        case Group::multipath: return "multipath";
        case Group::slips: return "slips";
        case Group::cn0: return "cn0";
        case Group::events: return "events";
        case Group::navigation: return "navigation";
    }
    return "";
}

Status Threshold::judge(double figure) const noexcept {
    if (std::isnan(figure)) return Status::not_assessed;
    const auto at_least = [&](double limit) { return higher_is_better ? figure >= limit : figure <= limit; };
    return at_least(pass) ? Status::pass : at_least(warn) ? Status::warn : Status::fail;
}

std::optional<double> nominal_cn0(char system, std::string_view code) noexcept {
    if (code.size() < 2) return std::nullopt;
    const char mode = code.size() >= 3 ? code[2] : ' ';
    for (const NominalLevel& nominal : kNominals) {
        if (nominal.system != system || nominal.band != code[1]) continue;
        if (nominal.modes.empty() || nominal.modes.find(mode) != std::string_view::npos) return nominal.db_hz;
    }
    return std::nullopt;
}

std::span<const NominalLevel> nominal_levels() noexcept {
    return kNominals;
}

std::vector<SignalLevel> signal_levels(const RinexObsData& obs, const std::vector<double>& entry_elevations_deg,
                                       const std::string& systems) {
    std::map<std::pair<char, std::uint32_t>, std::pair<std::uint64_t, double>> sums;
    if (entry_elevations_deg.size() != obs.satellite_entries.size()) return {};
    arrays::for_each_entry(obs, [&](std::size_t, std::size_t entry_index, const SatelliteObservations& entry,
                                    std::span<const ObservationValue> values) {
        const double elevation = entry_elevations_deg[entry_index];
        if (!(elevation >= kCn0BandLowDeg && elevation < kCn0BandHighDeg)) return;
        const char letter = satellite_letter(obs.satellite_ids[entry.satellite]);
        if (!selected(systems, letter)) return;
        for (const ObservationValue& value : values) {
            if (value.code >= obs.codes.size() || !is_signal_strength_code(obs.codes[value.code]) ||
                !arrays::is_cn0_sample(value.value)) {
                continue;
            }
            auto& [count, sum] = sums[{letter, value.code}];
            ++count;
            sum += value.value;
        }
    });
    std::vector<SignalLevel> levels;
    for (const auto& [key, total] : sums) {
        levels.push_back({key.first, obs.codes[key.second], total.first, total.second / static_cast<double>(total.first)});
    }
    std::sort(levels.begin(), levels.end(), [](const SignalLevel& a, const SignalLevel& b) {
        return std::pair(a.system, a.code) < std::pair(b.system, b.code);
    });
    return levels;
}

Health assess_health(const HealthInputs& in) {
    Health health;
    completeness_criteria(in, health.criteria);
    if (in.qc != nullptr) qc_criteria(in, health.criteria);
    cn0_criteria(in, health.criteria);
    event_criterion(in, health.criteria);
    navigation_criterion(in, health.criteria);

    health.groups.fill(Status::not_assessed);
    for (const Criterion& c : health.criteria) {
        health.groups[static_cast<std::size_t>(c.group)] = worse(health.groups[static_cast<std::size_t>(c.group)], c.status);
        health.warned += c.status == Status::warn;
        health.failed += c.status == Status::fail;
    }
    bool severe_event = in.visibility_spoofing;
    bool interference = false;
    if (in.detector != nullptr) {
        for (const DetectorEvent& event : in.detector->events) {
            severe_event = severe_event || event.type != EventType::interference;
            interference = interference || event.type == EventType::interference;
        }
    }
    std::size_t failing_groups = 0;
    bool warnings = false;
    for (std::size_t g = 0; g < kGroupCount; ++g) {
        if (static_cast<Group>(g) == Group::events) continue;
        failing_groups += health.groups[g] == Status::fail;
        warnings = warnings || health.groups[g] == Status::warn;
    }
    health.grade = severe_event                          ? 'F'
                   : interference || failing_groups >= 2 ? 'D'
                   : failing_groups == 1                 ? 'C'
                   : warnings                            ? 'B'
                                                         : 'A';

    // One sentence: events first, then failing and warning groups with their worst criterion.
    std::vector<std::string> failing;
    std::vector<std::string> warned;
    for (std::size_t g = 0; g < kGroupCount; ++g) {
        const Group group = static_cast<Group>(g);
        if (group == Group::events) continue;
        const Criterion* worst = worst_of(health.criteria, group);
        if (worst == nullptr || worst->status == Status::pass) continue;
        (worst->status == Status::fail ? failing : warned).push_back(group_text(*worst));
    }
    std::string sentence = in.detector != nullptr ? event_clause(*in.detector) : std::string();
    const auto add = [&](const std::string& part) {
        if (part.empty()) return;
        sentence += (sentence.empty() ? "" : "; ") + part;
    };
    if (in.visibility_spoofing) add("spoofing indicated by the visibility check: many satellites observed that "
                                    "the navigation data do not place in view");
    // "a, b and c fail"
    const auto listed = [](const std::vector<std::string>& items, const char* one, const char* many) {
        std::string text;
        for (std::size_t i = 0; i < items.size(); ++i) {
            text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
        }
        return items.empty() ? text : text + ' ' + (items.size() == 1 ? one : many);
    };
    add(listed(failing, "fails", "fail"));
    add(listed(warned, "warns", "warn"));
    if (sentence.empty()) sentence = "every assessed criterion passes";
    sentence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(sentence[0])));
    health.sentence = "Grade " + std::string(1, health.grade) + ": " + sentence + '.';
    return health;
}

}  // namespace vardoln
