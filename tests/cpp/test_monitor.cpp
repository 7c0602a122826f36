#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "monitor/stream.hpp"
#include "rtcm/bits.hpp"
#include "rtcm/epochs.hpp"
#include "rtcm/frames.hpp"
#include "rtcm/msm.hpp"

namespace vardoln {
namespace {

constexpr std::int32_t kWeek = 2300;
constexpr std::int64_t kWeekStartMs = std::int64_t{kWeek} * kGpsMsPerWeek;

// A GPS MSM4 epoch of satellites 1 to `count`, each with the L1 C/A signal at a C/N0 in whole
// dB-Hz, framed.
void append_epoch(std::vector<std::uint8_t>& stream, std::uint32_t time_of_week_ms, unsigned count,
                  const std::vector<int>& cn0) {
    BitWriter out;
    out.put(1074, 12).put(7, 12).put(time_of_week_ms, 30).put(0, 1).put(0, 3).put(0, 15);
    std::uint64_t mask = 0;
    for (unsigned s = 1; s <= count; ++s) mask |= std::uint64_t{1} << (64 - s);
    out.put(static_cast<std::int64_t>(mask), 64).put(1 << 30, 32);  // signal 2: 1C
    for (unsigned s = 0; s < count; ++s) out.put(1, 1);              // cell mask
    for (unsigned s = 0; s < count; ++s) out.put(70, 8);             // rough ranges, whole ms
    for (unsigned s = 0; s < count; ++s) out.put(512, 10);           // and their fractions
    for (unsigned s = 0; s < count; ++s) out.put(100, 15);           // fine pseudoranges
    for (unsigned s = 0; s < count; ++s) out.put(0, 22);             // fine phase ranges
    for (unsigned s = 0; s < count; ++s) out.put(5, 4);              // lock time
    for (unsigned s = 0; s < count; ++s) out.put(0, 1);              // half-cycle
    for (unsigned s = 0; s < count; ++s) out.put(cn0[s], 6);
    ASSERT_TRUE(append_rtcm_frame(out.bytes(), stream));
}

// 20 minutes at 1 Hz of 8 satellites; every satellite 10 dB down for 3 minutes from second 500,
// and nothing from second 1000 to 1099.
std::vector<std::uint8_t> episode_stream() {
    std::vector<std::uint8_t> stream;
    for (std::uint32_t second = 0; second < 1200; ++second) {
        if (second >= 1000 && second < 1100) continue;
        std::vector<int> cn0;
        for (int s = 0; s < 8; ++s) cn0.push_back(40 + s % 3 + static_cast<int>(second % 2) - (second >= 500 && second < 680 ? 10 : 0));
        append_epoch(stream, second * 1000, 8, cn0);
    }
    return stream;
}

std::vector<MonitorEvent> monitor_in_chunks(const std::vector<std::uint8_t>& stream, std::size_t chunk_max,
                                            unsigned seed) {
    MonitorSettings settings;
    settings.gps_week = kWeek;
    MonitorStream monitor(settings);
    std::vector<MonitorEvent> events;
    std::mt19937 random(seed);
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::size_t size = std::min(stream.size() - at, 1 + random() % chunk_max);
        for (auto& event : monitor.feed(std::span(stream).subspan(at, size))) events.push_back(std::move(event));
        at += size;
    }
    for (auto& event : monitor.finish()) events.push_back(std::move(event));
    return events;
}

TEST(Monitor, AnEpisodeGivesOneAlarmAtItsFirstEpochAndOneAtItsEnd) {
    const auto stream = episode_stream();
    const auto events = monitor_in_chunks(stream, 1 << 16, 1);
    std::vector<const MonitorEvent*> alarms;
    std::vector<const MonitorEvent*> outages;
    std::vector<const MonitorEvent*> windows;
    for (const auto& event : events) {
        (event.kind == MonitorEvent::Kind::alarm    ? alarms
         : event.kind == MonitorEvent::Kind::window ? windows
                                                    : outages)
            .push_back(&event);
    }
    ASSERT_EQ(alarms.size(), 2u);
    const LiveAlarm& start = alarms[0]->alarm;
    const LiveAlarm& end = alarms[1]->alarm;
    EXPECT_TRUE(start.start);
    EXPECT_EQ(start.type, EventType::jamming);
    EXPECT_EQ(start.first_ms, kWeekStartMs + 500'000);
    EXPECT_EQ(start.bands, std::vector<Band>{Band::L1});
    EXPECT_EQ(start.satellites.size(), 8u);
    EXPECT_NEAR(start.median_drop_db, 10.0, 1.0);
    EXPECT_FALSE(end.start);
    EXPECT_EQ(end.first_ms, kWeekStartMs + 500'000);
    EXPECT_EQ(end.last_ms, kWeekStartMs + 679'000);

    // The silence from second 1000 on: once when it began, once when epochs came back.
    ASSERT_EQ(outages.size(), 2u);
    EXPECT_EQ(outages[0]->kind, MonitorEvent::Kind::outage_start);
    EXPECT_EQ(outages[0]->at_ms, kWeekStartMs + 999'000);
    EXPECT_EQ(outages[1]->kind, MonitorEvent::Kind::outage_end);
    EXPECT_EQ(outages[1]->at_ms, kWeekStartMs + 1'100'000);

    // Windows of 15 minutes from the start of the week: the second ends with the stream.
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0]->window.start_ms, kWeekStartMs);
    EXPECT_EQ(windows[0]->window.epochs, 900u);
    EXPECT_FALSE(windows[0]->window.partial);
    EXPECT_EQ(windows[1]->window.start_ms, kWeekStartMs + 900'000);
    EXPECT_EQ(windows[1]->window.epochs, 200u);
    EXPECT_TRUE(windows[1]->window.partial);

    // A window's frames read as a stream give exactly its epochs.
    auto read = read_rtcm(std::string_view(reinterpret_cast<const char*>(windows[1]->window.bytes.data()),
                                           windows[1]->window.bytes.size()),
                          kWeek);
    ASSERT_TRUE(std::holds_alternative<RtcmStream>(read));
    EXPECT_EQ(std::get<RtcmStream>(read).record.epochs.size(), 200u);
}

TEST(Monitor, TheWayBytesArriveChangesNothing) {
    const auto stream = episode_stream();
    const auto whole = monitor_in_chunks(stream, stream.size(), 2);
    for (const unsigned seed : {3u, 4u, 5u}) {
        const auto pieces = monitor_in_chunks(stream, 1 + seed * 37, seed);
        ASSERT_EQ(pieces.size(), whole.size());
        for (std::size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ(pieces[i].kind, whole[i].kind);
            EXPECT_EQ(pieces[i].alarm.first_ms, whole[i].alarm.first_ms);
            EXPECT_EQ(pieces[i].at_ms, whole[i].at_ms);
            EXPECT_EQ(pieces[i].window.bytes, whole[i].window.bytes);
        }
    }
}

TEST(Monitor, AStreamWithoutAnEpisodeRaisesNoAlarm) {
    std::vector<std::uint8_t> stream;
    for (std::uint32_t second = 0; second < 900; ++second) append_epoch(stream, second * 1000, 8, std::vector<int>(8, 44 + static_cast<int>(second % 3)));
    // Random bytes between frames are passed over.
    std::mt19937 random(9);
    std::vector<std::uint8_t> noisy;
    for (std::size_t i = 0; i < stream.size(); i += 500) {
        noisy.insert(noisy.end(), stream.begin() + static_cast<std::ptrdiff_t>(i),
                     stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), i + 500)));
        for (int k = 0; k < 7; ++k) noisy.push_back(static_cast<std::uint8_t>(random()));
    }
    const auto events = monitor_in_chunks(noisy, 4096, 6);
    for (const auto& event : events) EXPECT_NE(event.kind, MonitorEvent::Kind::alarm);
}

}  // namespace
}  // namespace vardoln
