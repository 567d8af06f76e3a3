// Cost of decoding a day of Steim-2 records at 100 samples per second, the larger part of reading
// a day file: in vector lanes where the processor has AVX2 (as the reader does), and a difference
// at a time.
#include <benchmark/benchmark.h>
#include <libmseed.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "acquire/steim2_decode.h"

namespace {

// The data sections of a day's records of 4096 bytes and the samples each holds, packed by
// libmseed from a random walk of small steps (mostly 4 to 8 bits) with a burst of large ones
// every 20 minutes, as band-limited ground motion with earthquakes gives.
struct Day_records {
    std::vector<std::string> data;
    std::vector<int64_t> counts;
    int64_t samples = 0;
};

Day_records day_records() {
    constexpr int day_samples = 100 * 86400;
    std::vector<int32_t> walk(day_samples);
    std::uint32_t state = 1;
    int32_t x = 0;
    for (int i = 0; i < day_samples; ++i) {
        state = state * 1664525u + 1013904223u;
        const int32_t step = static_cast<int32_t>(state >> 25) - 64;
        x += i % 120000 < 3000 ? step * 300 : step;
        walk[i] = x;
    }
    Day_records day;
    MSRecord* record = msr_init(nullptr);
    std::strcpy(record->network, "XX");
    std::strcpy(record->station, "ABC");
    std::strcpy(record->channel, "HHZ");
    record->samprate = 100.0;
    record->reclen = 4096;
    record->encoding = DE_STEIM2;
    record->byteorder = 1;
    record->datasamples = walk.data();
    record->numsamples = day_samples;
    record->sampletype = 'i';
    int64_t packed = 0;
    msr_pack(
        record,
        [](char* bytes, int length, void* to) {
            Day_records& d = *static_cast<Day_records*>(to);
            const auto* header = reinterpret_cast<const unsigned char*>(bytes);
            const int offset = header[44] << 8 | header[45];
            d.data.emplace_back(bytes + offset, bytes + length);
            d.counts.push_back(header[30] << 8 | header[31]);
            d.samples += d.counts.back();
        },
        &day, &packed, 1, 0);
    record->datasamples = nullptr;
    msr_free(&record);
    return day;
}

void decode_day(benchmark::State& state,
                bool (*decode)(const unsigned char*, std::size_t, int64_t, int32_t*)) {
    const Day_records day = day_records();
    std::vector<int32_t> out(static_cast<std::size_t>(day.samples));
    for (auto _ : state) {
        int32_t* at = out.data();
        for (std::size_t r = 0; r < day.data.size(); ++r) {
            const auto* frames = reinterpret_cast<const unsigned char*>(day.data[r].data());
            if (!decode(frames, day.data[r].size(), day.counts[r], at)) {
                state.SkipWithError("a record did not decode");
                return;
            }
            at += day.counts[r];
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * day.samples);
}

void BM_DecodeSteim2Day(benchmark::State& state) {
    decode_day(state, decode_steim2);
}

void BM_DecodeSteim2DayPlain(benchmark::State& state) {
    decode_day(state, decode_steim2_plain);
}

}  // namespace

BENCHMARK(BM_DecodeSteim2Day)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeSteim2DayPlain)->Unit(benchmark::kMillisecond);
