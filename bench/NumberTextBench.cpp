#include "raw/NumberText.h"

#include <benchmark/benchmark.h>

#include <charconv>
#include <cstddef>
#include <random>
#include <vector>

namespace {

// Coordinates of a part in a 240 × 160 × 60 mm build box, centred in x and y
// as many exporters do, so signs and lengths vary. A quarter of them sit on a
// 0.05 mm grid, as dimensioned CAD edges tend to.
std::vector<float> BoxCoordinates() {
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> x(-120.0f, 120.0f);
    std::uniform_real_distribution<float> y(-80.0f, 80.0f);
    std::uniform_real_distribution<float> z(0.0f, 60.0f);
    std::vector<float> values;
    for (int i = 0; i < 4096 / 3; ++i) {
        for (float v : {x(random), y(random), z(random)}) {
            if (random() % 4 == 0)
                v = static_cast<float>(static_cast<int>(v * 20.0f)) / 20.0f;
            values.push_back(v);
        }
    }
    values.resize(4096);
    return values;
}

const std::vector<float>& Sample() {
    static const std::vector<float> values = BoxCoordinates();
    return values;
}

// One iteration formats one number, so the reported time is ns per number.
template <typename Format> void FormatEach(benchmark::State& state, Format format) {
    const std::vector<float>& values = Sample();
    char buffer[trimeld::cMAX_NUMBER_TEXT];
    std::size_t i = 0;
    for (auto _ : state) {
        char* end = format(buffer, values[i]);
        benchmark::DoNotOptimize(end);
        benchmark::ClobberMemory();
        i = (i + 1) & (values.size() - 1);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_FormatNumber(benchmark::State& state) {
    FormatEach(state, [](char* out, float v) { return trimeld::FormatNumber(out, v, 6, 11, '.'); });
}
BENCHMARK(BM_FormatNumber);

// The fallback, for scale: what every number would cost without the fast route.
void BM_FormatNumberExact(benchmark::State& state) {
    FormatEach(state, [](char* out, float v) {
        return trimeld::detail::FormatNumberExact(out, v, 6, 11, '.');
    });
}
BENCHMARK(BM_FormatNumberExact);

// A baseline on the same machine: the standard fixed conversion of the widened
// value (which rounds halves to even, so it is not a substitute).
void BM_ToCharsFixed6(benchmark::State& state) {
    FormatEach(state, [](char* out, float v) {
        return std::to_chars(out, out + trimeld::cMAX_NUMBER_TEXT, static_cast<double>(v),
                             std::chars_format::fixed, 6)
            .ptr;
    });
}
BENCHMARK(BM_ToCharsFixed6);

} // namespace
