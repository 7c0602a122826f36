// RTCM 3 decoding: frames alone, frames with every MSM decoded, the whole stream read into an
// observation record, and the live monitor (epochs assembled, each judged by the detector).
// Megabytes per second of processor time, best of several rounds, on the MSM7 stream of the
// shared data (a bundled stream when it is absent).
#include <cstdio>
#include <span>
#include <string>
#include <variant>

#include "bench_support.hpp"
#include "monitor/stream.hpp"
#include "rtcm/epochs.hpp"
#include "rtcm/frames.hpp"
#include "rtcm/msm.hpp"

int main() {
    std::string bytes;
    std::string name = std::string(VARDOLN_SHARED_DATA) + "/rtcm/gnss-converters/missing-beidou-STR17.rtcm3";
    int week = 2010;
    if (!bench::read_file(name, bytes)) {
        std::printf("%s: absent, nothing measured\n", name.c_str());
        return 0;
    }
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    const double megabytes = static_cast<double>(bytes.size()) / 1e6;
    std::size_t sink = 0;
    const double frames = bench::best_seconds(20, [&] {
        vardoln::read_rtcm_frames(data, [&](const vardoln::RtcmFrame& frame) { sink += frame.payload.size(); });
    });
    const double msm = bench::best_seconds(20, [&] {
        vardoln::read_rtcm_frames(data, [&](const vardoln::RtcmFrame& frame) {
            if (!vardoln::msm_kind(frame.message_type)) return;
            auto message = vardoln::decode_msm(frame.payload);
            if (auto* decoded = std::get_if<vardoln::MsmMessage>(&message)) sink += decoded->cells.size();
        });
    });
    const double record = bench::best_seconds(20, [&] {
        auto stream = vardoln::read_rtcm(bytes, week);
        if (auto* read = std::get_if<vardoln::RtcmStream>(&stream)) sink += read->epochs;
    });
    std::uint64_t epochs = 0;
    const double live = bench::best_seconds(10, [&] {
        vardoln::MonitorSettings settings;
        settings.gps_week = week;
        vardoln::MonitorStream monitor(settings);
        sink += monitor.feed(data).size() + monitor.finish().size();
        epochs = monitor.status().epochs;
    });
    std::printf("%s: %.2f MB, %llu epochs\n", name.c_str(), megabytes, static_cast<unsigned long long>(epochs));
    std::printf("frames (CRC-24Q)            %8.1f MB/s\n", megabytes / frames);
    std::printf("frames + MSM decoded        %8.1f MB/s\n", megabytes / msm);
    std::printf("read into a record          %8.1f MB/s\n", megabytes / record);
    std::printf("live monitor                %8.1f MB/s  %9.0f epochs/s\n", megabytes / live,
                static_cast<double>(epochs) / live);
    return sink == 0 ? 1 : 0;
}
