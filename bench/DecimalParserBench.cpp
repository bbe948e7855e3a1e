#include "stl/DecimalParser.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

// Coordinate texts as text STL exporters write them: coordinates of a part in
// a 240 x 160 x 60 mm box and unit normal components, in the given printf format.
std::vector<std::u16string> NumberTexts(const char* format) {
    std::mt19937 random(4711);
    std::uniform_real_distribution<float> coordinate(-120.0f, 120.0f);
    std::uniform_real_distribution<float> normal(-1.0f, 1.0f);
    std::vector<std::u16string> texts;
    for (int i = 0; i < 4096; ++i) {
        const float value = i % 4 == 0 ? normal(random) : coordinate(random);
        char buffer[64];
        const int length = std::snprintf(buffer, sizeof buffer, format, static_cast<double>(value));
        texts.emplace_back(buffer, buffer + length);
    }
    return texts;
}

// One iteration reads one number, so the reported time is ns per number.
template <typename Read> void ReadEach(benchmark::State& state, const char* format, Read read) {
    const std::vector<std::u16string> texts = NumberTexts(format);
    std::size_t i = 0;
    for (auto _ : state) {
        auto value = read(texts[i]);
        benchmark::DoNotOptimize(value);
        i = (i + 1) & (texts.size() - 1);
    }
    state.SetItemsProcessed(state.iterations());
}

void ParseDecimal(benchmark::State& state, const char* format) {
    ReadEach(state, format,
             [](const std::u16string& text) { return trimeld::ParseDecimal(text, u'.'); });
}

void ParseAndStoreSingle(benchmark::State& state, const char* format) {
    ReadEach(state, format, [](const std::u16string& text) {
        return trimeld::StoreSingle(trimeld::ParseDecimal(text, u'.'));
    });
}

} // namespace

BENCHMARK_CAPTURE(ParseDecimal, exponent_form, "%e");
BENCHMARK_CAPTURE(ParseDecimal, fixed_six_decimals, "%.6f");
BENCHMARK_CAPTURE(ParseDecimal, shortest_form, "%.9g");
BENCHMARK_CAPTURE(ParseAndStoreSingle, exponent_form, "%e");
