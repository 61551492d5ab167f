// Throughput of the tone-mapping kernel and the cost of a gradient rebuild.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "scheme/color_scheme.h"
#include "scheme/gradient_table.h"
#include "tone/tone_map.h"

namespace corvanta {
namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;  // 12 megapixels

enum Content { kRandom = 0, kSmooth = 1 };

std::vector<std::uint8_t> MakeImage(PixelLayout layout, Content content, int pitch) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(pitch) * kHeight);
    const int step = BytesPerPixel(layout);
    std::mt19937 rng(1234);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            std::uint8_t* p = pixels.data() + static_cast<std::size_t>(y) * pitch + x * step;
            for (int c = 0; c < step; ++c) {
                if (content == kRandom) {
                    p[c] = static_cast<std::uint8_t>(rng());
                } else {
                    // Slowly varying gradients with a little texture, like a photograph.
                    const double v = 128 + 90 * std::sin(x * 0.002 + c) * std::cos(y * 0.003) +
                                     static_cast<double>(rng() % 7);
                    p[c] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
                }
            }
        }
    }
    return pixels;
}

void BM_ToneMapBuffer(benchmark::State& state) {
    const auto layout = state.range(0) == 3 ? PixelLayout::kRgb : PixelLayout::kRgba;
    const auto content = static_cast<Content>(state.range(1));
    const int pitch = (kWidth * BytesPerPixel(layout) + 3) & ~3;
    const std::vector<std::uint8_t> source = MakeImage(layout, content, pitch);
    std::vector<std::uint8_t> work = source;
    const ColorScheme scheme = MakePresetTable().rows[9].slots;  // "Heat camera"
    GradientTable table{};
    BuildGradientTable(&scheme, table);
    for (auto _ : state) {
        state.PauseTiming();
        work = source;  // map fresh pixels each time, as a batch does
        state.ResumeTiming();
        ToneMapBuffer(work.data(), pitch, kHeight, layout, table);
        benchmark::ClobberMemory();
    }
    state.counters["Mpix/s"] = benchmark::Counter(
        static_cast<double>(kWidth) * kHeight * static_cast<double>(state.iterations()) / 1e6,
        benchmark::Counter::kIsRate);
    state.SetLabel(std::string(layout == PixelLayout::kRgb ? "RGB" : "RGBA") +
                   (content == kRandom ? " random" : " smooth"));
}
BENCHMARK(BM_ToneMapBuffer)
    ->ArgsProduct({{3, 4}, {kRandom, kSmooth}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_BuildGradientTable(benchmark::State& state) {
    const PresetTable presets = MakePresetTable();
    GradientTable table{};
    int row = 0;
    for (auto _ : state) {
        BuildGradientTable(&presets.rows[static_cast<std::size_t>(row)].slots, table);
        benchmark::DoNotOptimize(table.data());
        row = (row + 1) % 20;
    }
}
BENCHMARK(BM_BuildGradientTable)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace corvanta

BENCHMARK_MAIN();
