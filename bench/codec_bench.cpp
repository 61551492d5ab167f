// The codec side of a batch: PNG compression settings on tone-mapped
// pictures, and what keeping the decoder's and encoder's buffers between
// files saves.
//
//   corvanta_codec_bench --benchmark_filter=PngEncode  zlib strategies and buffers
//   corvanta_codec_bench --benchmark_filter=DeflatePng libdeflate levels and row filters
//   corvanta_codec_bench --benchmark_filter=PngSet --pictures=bench/pictures
//                                              the encoder's choice against zlib, per set
//   corvanta_codec_bench --gate-data=FILE --pictures=bench/pictures
//                                              data for bench/png_gates.py
//   corvanta_codec_bench --benchmark_filter=Jpeg       buffer reuse
//   corvanta_codec_bench --benchmark_filter=PngDecode  the decoder process against in-process
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <libdeflate.h>
#include <turbojpeg.h>
#include <zlib.h>

#include "decoder/decoder_process.h"
#include "codecs/deflate_png_encoder.h"
#include "codecs/image_loader.h"
#include "decoder/input_file.h"
#include "batch/output_writer.h"
#include "codecs/png_encoder.h"
#include "scheme/color_scheme.h"
#include "scheme/gradient_table.h"
#include "tone/tone_map.h"

namespace corvanta {
namespace {

constexpr int kPngWidth = 3000;
constexpr int kPngHeight = 2000;
constexpr int kPngPictures = 6;
constexpr int kPhotoWidth = 4000;
constexpr int kPhotoHeight = 3000;
constexpr int kPhotoQuality = 92;
// Preset rows used to map the six pictures: Autumn, Blue, Heat camera,
// Ocean, Sepia modern, Summer.
constexpr std::array<int, kPngPictures> kSchemeRows = {2, 4, 9, 14, 16, 18};

struct Picture {
    int channels;
    int stride;
    std::vector<std::uint8_t> pixels;
};

// A photograph-like picture: broad soft shapes and gradients, a few hard
// edges, sensor grain, then a round trip through JPEG at camera quality so
// the fine structure looks like a decoded photo's.
Picture MakePhotoLike(int width, int height, int channels, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    struct Wave {
        double fx, fy, phase, amplitude;
    };
    std::vector<Wave> waves;
    for (int i = 0; i < 6; ++i) {
        waves.push_back(
            {unit(rng) * 0.006, unit(rng) * 0.006, unit(rng) * 6.28, 20 + 30 * unit(rng)});
    }
    struct Disc {
        double x, y, r, lift;
    };
    std::vector<Disc> discs;
    for (int i = 0; i < 12; ++i) {
        discs.push_back(
            {unit(rng) * width, unit(rng) * height, 40 + unit(rng) * 300, unit(rng) * 120 - 60});
    }
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    std::normal_distribution<double> grain(0.0, 3.0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double v = 110;
            for (const Wave& w : waves) {
                v += w.amplitude * std::sin(x * w.fx + y * w.fy + w.phase);
            }
            for (const Disc& d : discs) {
                const double dx = x - d.x, dy = y - d.y;
                if (dx * dx + dy * dy < d.r * d.r) {
                    v += d.lift;
                }
            }
            std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
            p[0] = static_cast<std::uint8_t>(std::clamp(v + 25 + grain(rng), 0.0, 255.0));
            p[1] = static_cast<std::uint8_t>(std::clamp(v + grain(rng), 0.0, 255.0));
            p[2] = static_cast<std::uint8_t>(
                std::clamp(v - 20 + 0.1 * y / 8 + grain(rng), 0.0, 255.0));
        }
    }
    tjhandle compressor = tjInitCompress();
    tjhandle decompressor = tjInitDecompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(compressor, rgb.data(), width, width * 3, height, TJPF_RGB, &jpeg, &size,
                TJSAMP_420, kPhotoQuality, 0);
    Picture picture{channels, (width * channels + 3) & ~3, {}};
    picture.pixels.resize(static_cast<std::size_t>(picture.stride) * height);
    tjDecompress2(decompressor, jpeg, size, picture.pixels.data(), width, picture.stride, height,
                  channels == 4 ? TJPF_RGBA : TJPF_RGB, 0);
    tjFree(jpeg);
    tjDestroy(compressor);
    tjDestroy(decompressor);
    if (channels == 4) {
        // Opaque, with a soft transparent vignette in one corner, as cut-outs have.
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const double d = std::hypot(x, y) / (0.4 * width);
                picture.pixels[static_cast<std::size_t>(y) * picture.stride + x * 4 + 3] =
                    static_cast<std::uint8_t>(std::clamp(d * 255.0, 0.0, 255.0));
            }
        }
    }
    return picture;
}

// The six pictures per layout, unmapped and mapped, made once.
const std::vector<Picture>& Pictures(int channels, bool mapped) {
    static std::array<std::vector<Picture>, 4> cache;
    std::vector<Picture>& set = cache[(channels == 4 ? 2 : 0) + (mapped ? 1 : 0)];
    if (set.empty()) {
        const PresetTable presets = MakePresetTable();
        for (int i = 0; i < kPngPictures; ++i) {
            Picture picture = MakePhotoLike(kPngWidth, kPngHeight, channels, 100 + i);
            if (mapped) {
                GradientTable table{};
                BuildGradientTable(&presets.rows[kSchemeRows[i]].slots, table);
                ToneMapBuffer(picture.pixels.data(), picture.stride, kPngHeight,
                              channels == 4 ? PixelLayout::kRgba : PixelLayout::kRgb, table);
            }
            set.push_back(std::move(picture));
        }
    }
    return set;
}

struct MemorySink {
    std::vector<std::uint8_t> bytes;
};

bool AppendToMemory(void* context, const std::uint8_t* data, std::size_t length) {
    auto* sink = static_cast<MemorySink*>(context);
    if (length > sink->bytes.capacity() - sink->bytes.size()) {
        return false;  // never grow inside libpng; the buffer is sized up front
    }
    sink->bytes.insert(sink->bytes.end(), data, data + length);
    return true;
}

constexpr std::size_t kPictureBytes = std::size_t{kPngWidth} * kPngHeight;

// Args: channels, mapped, strategy, zlib buffer KiB, memLevel, window bits.
// The settings outputs were written with until libdeflate: ch 3 or 4,
// strategy 0, bufKiB 256, memLevel 8, window 15.
void BM_PngEncodeSix(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const bool mapped = state.range(1) != 0;
    PngSettings settings;
    settings.strategy = static_cast<int>(state.range(2));
    settings.zlibBufferBytes = static_cast<std::size_t>(state.range(3)) << 10;
    settings.memLevel = static_cast<int>(state.range(4));
    settings.windowBits = state.range(5) != 0 ? static_cast<int>(state.range(5)) : 15;
    const std::vector<Picture>& pictures = Pictures(channels, mapped);
    MemorySink sink;
    sink.bytes.reserve(static_cast<std::size_t>(kPngWidth) * kPngHeight * 5);
    std::size_t total = 0;
    for (auto _ : state) {
        total = 0;
        for (const Picture& p : pictures) {
            sink.bytes.clear();
            if (!EncodePng(p.pixels.data(), kPngWidth, kPngHeight,
                           static_cast<std::size_t>(p.stride), channels == 4, settings,
                           AppendToMemory, &sink)) {
                state.SkipWithError("encoding failed");
                return;
            }
            total += sink.bytes.size();
        }
    }
    state.counters["MB"] = static_cast<double>(total) / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPngPictures *
                            static_cast<std::int64_t>(kPictureBytes) * channels);
    static const char* const kStrategyNames[] = {"default", "filtered", "huffman", "rle", "fixed"};
    state.SetLabel(std::string(channels == 4 ? "RGBA " : "RGB ") + (mapped ? "mapped " : "photo ") +
                   kStrategyNames[settings.strategy]);
}
BENCHMARK(BM_PngEncodeSix)
    ->ArgNames({"ch", "mapped", "strategy", "bufKiB", "memLevel", "window"})
    ->ArgsProduct({{3, 4}, {1}, {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_RLE}, {8}, {8}, {15}})
    ->ArgsProduct({{3, 4}, {1}, {Z_DEFAULT_STRATEGY, Z_RLE}, {64, 256}, {8, 9}, {15}})
    ->ArgsProduct({{3, 4}, {1}, {Z_DEFAULT_STRATEGY}, {256}, {8}, {14}})
    ->ArgsProduct({{3, 4}, {0}, {Z_DEFAULT_STRATEGY}, {256}, {8}, {15}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

// ---- libdeflate ------------------------------------------------------------

// The file size zlib level 9 with filter None gives each picture of a set.
const std::vector<std::size_t>& ZlibSizes(int channels, bool mapped) {
    static std::array<std::vector<std::size_t>, 4> cache;
    std::vector<std::size_t>& sizes = cache[(channels == 4 ? 2 : 0) + (mapped ? 1 : 0)];
    if (sizes.empty()) {
        MemorySink sink;
        sink.bytes.reserve(kPictureBytes * 5);
        for (const Picture& p : Pictures(channels, mapped)) {
            sink.bytes.clear();
            EncodePng(p.pixels.data(), kPngWidth, kPngHeight, static_cast<std::size_t>(p.stride),
                      channels == 4, ZlibReferencePngSettings(), AppendToMemory, &sink);
            sizes.push_back(sink.bytes.size());
        }
    }
    return sizes;
}

// Args: channels, mapped, level, rows (DeflateRows's number: 0 None, 1 Up,
// 2 per row; or -1 for the encoder's own choice per picture, the level then
// unused). One
// encoder for the six pictures, as one job keeps it. vs_zlib9 is the
// largest of the six size ratios to zlib level 9 with filter None; above 1
// the setting is out. zlib counts the pictures the encoder left to zlib.
const char* const kRowNames[] = {"None", "Up", "per row"};

void BM_DeflatePngSix(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const bool mapped = state.range(1) != 0;
    const bool chosen = state.range(3) < 0;
    DeflatePngSettings settings;
    if (!chosen) {
        settings.fixed = DeflatePngChoice{false, static_cast<DeflateRows>(state.range(3)),
                                          static_cast<int>(state.range(2))};
    }
    const std::vector<Picture>& pictures = Pictures(channels, mapped);
    const std::vector<std::size_t>& reference = ZlibSizes(channels, mapped);
    DeflatePngEncoder encoder(settings);
    MemorySink sink;
    sink.bytes.reserve(kPictureBytes * 5);
    std::size_t total = 0;
    double worst = 0;
    int zlib = 0;
    for (auto _ : state) {
        total = 0;
        zlib = 0;
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            const Picture& p = pictures[i];
            sink.bytes.clear();
            if (!encoder.Encode(p.pixels.data(), kPngWidth, kPngHeight,
                                static_cast<std::size_t>(p.stride), channels == 4, AppendToMemory,
                                &sink)) {
                state.SkipWithError("encoding failed");
                return;
            }
            total += sink.bytes.size();
            zlib += encoder.LastChoice().zlib ? 1 : 0;
            worst = std::max(
                worst, static_cast<double>(sink.bytes.size()) / static_cast<double>(reference[i]));
        }
    }
    state.counters["MB"] = static_cast<double>(total) / 1e6;
    state.counters["vs_zlib9"] = worst;
    state.counters["zlib"] = zlib;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPngPictures *
                            static_cast<std::int64_t>(kPictureBytes) * channels);
    state.SetLabel(std::string(channels == 4 ? "RGBA " : "RGB ") + (mapped ? "mapped " : "photo ") +
                   (chosen ? std::string("chosen per picture")
                           : "level " + std::to_string(state.range(2)) + " " +
                                 kRowNames[state.range(3)]));
}
BENCHMARK(BM_DeflatePngSix)
    ->ArgNames({"ch", "mapped", "level", "filter"})
    ->ArgsProduct({{3, 4}, {0, 1}, {0}, {-1}})
    ->ArgsProduct({{3, 4}, {0, 1}, {1, 4, 6, 9}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

// ---- picture sets -------------------------------------------------------------

// A set of pictures, each mapped through the six presets of the synthetic
// set, in RGB and in RGBA, one picture at a time: zlib level 9 with filter
// None (the yardstick), then the encoder's own choice, each timed on its
// own in processor time. The synthetic sets are the six pictures above unmapped and mapped;
// the real ones are the folders under --pictures=DIR (bench/fetch_pictures.sh
// fills them), at most --max-pictures each.
struct SetPicture {
    std::string name;
    int width;
    int height;
    std::vector<std::uint8_t> rgb;  // packed rows
};

struct SetTally {
    double zlibSeconds = 0;
    double chosenSeconds = 0;
    std::size_t zlibBytes = 0;
    std::size_t chosenBytes = 0;
    double worst = 0;
    int leftToZlib = 0;
    int pictures = 0;
};

std::string gPicturesDir;
int gMaxPictures = 1000;
bool gVerbose = false;
DeflatePngSettings gSetSettings;

// The folder's entries but the hidden ones, in order.
std::vector<std::string> SortedEntries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') {
                names.emplace_back(entry->d_name);
            }
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<SetPicture> LoadSet(const std::string& folder) {
    std::vector<SetPicture> set;
    for (const std::string& name : SortedEntries(folder)) {
        if (static_cast<int>(set.size()) >= gMaxPictures) {
            break;
        }
        GObjectPtr<GdkPixbuf> image(
            gdk_pixbuf_new_from_file((folder + "/" + name).c_str(), nullptr));
        if (!image) {
            continue;
        }
        SetPicture picture{
            name, gdk_pixbuf_get_width(image.get()), gdk_pixbuf_get_height(image.get()), {}};
        const int channels = gdk_pixbuf_get_n_channels(image.get());
        const guint8* pixels = gdk_pixbuf_read_pixels(image.get());
        for (int y = 0; y < picture.height; ++y) {
            const guint8* row =
                pixels + static_cast<std::size_t>(y) * gdk_pixbuf_get_rowstride(image.get());
            for (int x = 0; x < picture.width; ++x) {
                picture.rgb.insert(picture.rgb.end(), row + x * channels, row + x * channels + 3);
            }
        }
        set.push_back(std::move(picture));
    }
    return set;
}

// The picture in the layout, mapped through the preset row (or not, for
// row -1); RGBA gets the synthetic set's soft transparent corner.
std::vector<std::uint8_t> Variant(const SetPicture& p, int channels, int presetRow) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(p.width) * p.height * channels);
    for (std::size_t i = 0, n = static_cast<std::size_t>(p.width) * p.height; i < n; ++i) {
        std::copy_n(p.rgb.begin() + static_cast<long>(i * 3), 3,
                    out.begin() + static_cast<long>(i * channels));
        if (channels == 4) {
            const double d =
                std::hypot(static_cast<double>(i % p.width), static_cast<double>(i / p.width)) /
                (0.4 * p.width);
            out[i * 4 + 3] = static_cast<std::uint8_t>(std::clamp(d * 255.0, 0.0, 255.0));
        }
    }
    if (presetRow >= 0) {
        static const PresetTable presets = MakePresetTable();
        GradientTable table{};
        BuildGradientTable(&presets.rows[presetRow].slots, table);
        ToneMapBuffer(out.data(), p.width * channels, p.height,
                      channels == 4 ? PixelLayout::kRgba : PixelLayout::kRgb, table);
    }
    return out;
}

// The thread's own processor time: the other work on a shared machine
// does not count in it.
double ThreadSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

template <typename Work>
double SecondsOf(Work work) {
    const double start = ThreadSeconds();
    work();
    return ThreadSeconds() - start;
}

// One variant through both; false when either fails.
bool Tally(DeflatePngEncoder& encoder, const SetPicture& p, const std::vector<std::uint8_t>& pixels,
           int channels, SetTally& tally, const std::string& what) {
    MemorySink zlib;
    MemorySink chosen;
    zlib.bytes.reserve(pixels.size() * 2 + (1 << 20));
    chosen.bytes.reserve(pixels.size() * 2 + (1 << 20));
    const std::size_t stride = static_cast<std::size_t>(p.width) * channels;
    bool ok = true;
    const double zlibBefore = tally.zlibSeconds;
    const double chosenBefore = tally.chosenSeconds;
    tally.zlibSeconds += SecondsOf([&] {
        ok = EncodePng(pixels.data(), p.width, p.height, stride, channels == 4,
                       ZlibReferencePngSettings(), AppendToMemory, &zlib);
    });
    tally.chosenSeconds += SecondsOf([&] {
        ok = ok && encoder.Encode(pixels.data(), p.width, p.height, stride, channels == 4,
                                  AppendToMemory, &chosen);
    });
    if (!ok) {
        return false;
    }
    const double ratio =
        static_cast<double>(chosen.bytes.size()) / static_cast<double>(zlib.bytes.size());
    const DeflatePngChoice& choice = encoder.LastChoice();
    tally.zlibBytes += zlib.bytes.size();
    tally.chosenBytes += chosen.bytes.size();
    tally.worst = std::max(tally.worst, ratio);
    tally.leftToZlib += choice.zlib ? 1 : 0;
    tally.pictures += 1;
    if (gVerbose) {
        std::fprintf(
            stderr, "%-44s %.4f  %-10s %5.2fx faster (%.0f ms)\n", what.c_str(), ratio,
            choice.zlib ? "zlib"
                        : (std::string(kRowNames[static_cast<int>(choice.rows)]) + " " +
                           std::to_string(choice.level))
                              .c_str(),
            (tally.zlibSeconds - zlibBefore) / (tally.chosenSeconds - chosenBefore),
            1000 * (tally.zlibSeconds - zlibBefore));
    }
    return true;
}

void ReportSet(benchmark::State& state, const SetTally& t) {
    state.counters["speedup"] = t.zlibSeconds / t.chosenSeconds;
    state.counters["bytes_vs_zlib9"] =
        static_cast<double>(t.chosenBytes) / static_cast<double>(t.zlibBytes);
    state.counters["worst"] = t.worst;
    state.counters["left_to_zlib"] = t.leftToZlib;
    state.counters["pictures"] = t.pictures;
    state.counters["zlib9_s"] = t.zlibSeconds;
    state.counters["chosen_s"] = t.chosenSeconds;
    state.counters["zlib9_MB"] = static_cast<double>(t.zlibBytes) / 1e6;
}

// set: the pictures; presets: the rows each is mapped through (-1: not mapped).
void RunSet(benchmark::State& state, const std::vector<SetPicture>& set,
            const std::vector<int>& presets, int channels) {
    if (set.empty()) {
        state.SkipWithError("no pictures");
        return;
    }
    DeflatePngEncoder encoder(gSetSettings);
    SetTally tally;
    for (auto _ : state) {
        for (const SetPicture& p : set) {
            for (const int row : presets) {
                const std::string what =
                    p.name + (channels == 4 ? " RGBA " : " RGB ") + std::to_string(row);
                if (!Tally(encoder, p, Variant(p, channels, row), channels, tally, what)) {
                    state.SkipWithError("encoding failed");
                    return;
                }
            }
        }
    }
    ReportSet(state, tally);
    state.SetLabel(std::to_string(set.size()) + " pictures, " + (channels == 4 ? "RGBA" : "RGB"));
}

const std::vector<SetPicture>& SyntheticSet() {
    static const std::vector<SetPicture> set = [] {
        std::vector<SetPicture> pictures;
        for (int i = 0; i < kPngPictures; ++i) {
            Picture p = MakePhotoLike(kPngWidth, kPngHeight, 3, 100 + i);
            SetPicture packed{"synthetic-" + std::to_string(i), kPngWidth, kPngHeight, {}};
            for (int y = 0; y < kPngHeight; ++y) {
                const auto row = p.pixels.begin() + static_cast<long>(y) * p.stride;
                packed.rgb.insert(packed.rgb.end(), row, row + kPngWidth * 3);
            }
            pictures.push_back(std::move(packed));
        }
        return pictures;
    }();
    return set;
}

const std::vector<int> kSixPresets(kSchemeRows.begin(), kSchemeRows.end());

void RegisterSets() {
    for (const int channels : {3, 4}) {
        const std::string layout = channels == 4 ? "/RGBA" : "/RGB";
        benchmark::RegisterBenchmark(
            ("BM_PngSet/synthetic-photo" + layout).c_str(),
            [channels](benchmark::State& state) { RunSet(state, SyntheticSet(), {-1}, channels); })
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("BM_PngSet/synthetic-mapped" + layout).c_str(),
                                     [channels](benchmark::State& state) {
                                         RunSet(state, SyntheticSet(), kSixPresets, channels);
                                     })
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    if (gPicturesDir.empty()) {
        return;
    }
    for (const std::string& folder : SortedEntries(gPicturesDir)) {
        for (const int channels : {3, 4}) {
            const std::string path = gPicturesDir + "/" + folder;
            benchmark::RegisterBenchmark(
                ("BM_PngSet/" + folder + (channels == 4 ? "/RGBA" : "/RGB")).c_str(),
                [path, channels](benchmark::State& state) {
                    static std::map<std::string, std::vector<SetPicture>> loaded;
                    auto found = loaded.find(path);
                    if (found == loaded.end()) {
                        found = loaded.emplace(path, LoadSet(path)).first;
                    }
                    RunSet(state, found->second, kSixPresets, channels);
                })
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
}

// ---- JPEG buffers ----------------------------------------------------------

// The 12-megapixel photograph the JPEG benchmarks read, written once to a
// temporary file that is removed at exit.
std::array<char, 64> gPhotoPath{};

void RemovePhoto() {
    ::unlink(gPhotoPath.data());
}

std::string PhotoPath() {
    if (gPhotoPath[0] == '\0') {
        const std::string pattern = "/tmp/corvanta-bench-XXXXXX";
        std::copy(pattern.begin(), pattern.end(), gPhotoPath.begin());
        const int fd = ::mkstemp(gPhotoPath.data());
        if (fd >= 0) {
            ::close(fd);
        }
        const Picture photo = MakePhotoLike(kPhotoWidth, kPhotoHeight, 3, 7);
        tjhandle compressor = tjInitCompress();
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        tjCompress2(compressor, photo.pixels.data(), kPhotoWidth, photo.stride, kPhotoHeight,
                    TJPF_RGB, &jpeg, &size, TJSAMP_420, kPhotoQuality, 0);
        std::ofstream(gPhotoPath.data(), std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg), static_cast<std::streamsize>(size));
        tjFree(jpeg);
        tjDestroy(compressor);
        std::atexit(RemovePhoto);
    }
    return gPhotoPath.data();
}

// Args: box side (0 = no limit), reuse (1 = one decoder for every file).
void BM_JpegLoad(benchmark::State& state) {
    const int box = static_cast<int>(state.range(0));
    const bool reuse = state.range(1) != 0;
    const std::string path = PhotoPath();
    JpegDecoder kept;
    for (auto _ : state) {
        if (reuse) {
            PixbufPtr image = LoadJpegFile(kept, path, box, box);
            benchmark::DoNotOptimize(image.get());
        } else {
            JpegDecoder fresh;
            PixbufPtr image = LoadJpegFile(fresh, path, box, box);
            benchmark::DoNotOptimize(image.get());
        }
    }
    state.SetLabel(reuse ? "kept buffers" : "fresh buffers");
}
BENCHMARK(BM_JpegLoad)
    ->ArgNames({"box", "reuse"})
    ->ArgsProduct({{1000, 0}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Args: box side (0 = no limit), reuse (1 = one encoder for every file).
void BM_JpegEncode(benchmark::State& state) {
    const int box = static_cast<int>(state.range(0));
    const bool reuse = state.range(1) != 0;
    JpegDecoder decoder;
    PixbufPtr image = LoadJpegFile(decoder, PhotoPath(), box, box);
    JpegEncoder kept;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    for (auto _ : state) {
        if (reuse) {
            kept.Encode(image.get(), 95, data, size);
        } else {
            JpegEncoder fresh;
            fresh.Encode(image.get(), 95, data, size);
        }
        benchmark::DoNotOptimize(size);
    }
    state.SetLabel(reuse ? "kept buffer" : "fresh buffer");
}
BENCHMARK(BM_JpegEncode)
    ->ArgNames({"box", "reuse"})
    ->ArgsProduct({{1000, 0}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// ---- the decoder process -----------------------------------------------------

// A PNG of side x side/1.5 from the photo-like picture, written once per size.
std::string PngPath(int width, int height) {
    static std::vector<std::pair<int, std::string>> written;
    for (const auto& [w, path] : written) {
        if (w == width) {
            return path;
        }
    }
    std::string path = "/tmp/corvanta-bench-decode-" + std::to_string(::getpid()) + "-" +
                       std::to_string(width) + ".png";
    const Picture photo = MakePhotoLike(width, height, 3, 5);
    GObjectPtr<GdkPixbuf> image(gdk_pixbuf_new_from_data(photo.pixels.data(), GDK_COLORSPACE_RGB,
                                                         FALSE, 8, width, height, photo.stride,
                                                         nullptr, nullptr));
    gdk_pixbuf_save(image.get(), path.c_str(), "png", nullptr, nullptr);
    written.emplace_back(width, path);
    static const bool removeAtExit = [] {
        std::atexit([] {
            for (const auto& [w, p] : written) {
                ::unlink(p.c_str());
            }
        });
        return true;
    }();
    (void)removeAtExit;
    return path;
}

// What reading a PNG costs: in this process with gdk-pixbuf against the
// decoder process (start, limits, pixel hand-back). Args: width (the height
// is two thirds of it), helper (1 = a server started per picture, 2 = forked
// by one server, as a batch does, 3 = a server started per picture from the
// program's own decoder mode, as a copy of the program alone does).
void BM_PngDecode(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = width * 2 / 3;
    const int helper = static_cast<int>(state.range(1));
    const std::string path = PngPath(width, height);
    DecoderServer server;
    DecoderSettings settings;
    if (helper == 3) {
        settings.program = {CORVANTA_CONVERT_PATH, {decoder::kSelfOption}};
    }
    for (auto _ : state) {
        PixbufPtr image;
        if (helper != 0) {
            const InputFile input = OpenInputFile(path);
            image = DecodeInHelper({input.fd.Get(), input.size, "bench.png", 0, 0}, settings,
                                   nullptr, nullptr, helper == 2 ? &server : nullptr)
                        .image;
        } else {
            image.reset(gdk_pixbuf_new_from_file_at_size(path.c_str(), -1, -1, nullptr));
        }
        if (!image) {
            state.SkipWithError("the picture was not decoded");
            return;
        }
        benchmark::DoNotOptimize(image.get());
    }
    state.SetLabel(helper == 0   ? "in process"
                   : helper == 1 ? "a server per picture"
                   : helper == 2 ? "decoder forked by a server"
                                 : "a server per picture, the program's own decoder mode");
}
BENCHMARK(BM_PngDecode)
    ->ArgNames({"width", "helper"})
    ->ArgsProduct({{64, 3000}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// ---- data for fitting the encoder's gates ---------------------------------------

// --gate-data=FILE: for every picture of the sets mapped through the six
// presets, in RGB and RGBA, one JSON line with zlib level 9 (filter None)
// and the settings libdeflate could be given, each on the whole picture
// (bytes and processor seconds) and on the encoder's own sample (bytes);
// bench/png_gates.py fits the gates to them. Slow: about 20 whole
// compressions per line.
struct GateSetting {
    int level;
    DeflateRows rows;
};

std::vector<GateSetting> GateSettings() {
    std::vector<GateSetting> settings;
    for (int level = 1; level <= 9; ++level) {
        settings.push_back({level, DeflateRows::kNone});
        if (level <= 4) {
            settings.push_back({level, DeflateRows::kUp});
        }
        if (level <= 7) {
            settings.push_back({level, DeflateRows::kPerRow});
        }
    }
    return settings;
}

std::string GateKey(const GateSetting& s) {
    return std::to_string(s.level) + "_" + std::to_string(static_cast<int>(s.rows));
}

std::size_t ZlibBytes(const std::vector<std::uint8_t>& rows, std::vector<std::uint8_t>& out) {
    uLongf bytes = static_cast<uLongf>(out.size());
    return compress2(out.data(), &bytes, rows.data(), static_cast<uLong>(rows.size()),
                     Z_BEST_COMPRESSION) == Z_OK
               ? bytes
               : 0;
}

using WaysOfRows = std::array<std::vector<std::uint8_t>, kDeflateRowChoices>;

// The whole picture and the encoder's sample, filtered each way; the
// seconds each way of filtering took on the whole picture.
bool FilterForGates(const SetPicture& p, const std::vector<std::uint8_t>& pixels, int channels,
                    std::size_t sampleBytes, WaysOfRows& whole, WaysOfRows& sample,
                    std::array<double, kDeflateRowChoices>& filterSeconds) {
    const std::size_t stride = static_cast<std::size_t>(p.width) * channels;
    for (std::size_t way = 0; way < kDeflateRowChoices; ++way) {
        const auto rows = static_cast<DeflateRows>(way);
        whole[way].resize(FilteredImageBytes(p.width, p.height, channels));
        sample[way].resize(sampleBytes);
        bool ok = false;
        filterSeconds[way] = SecondsOf([&] {
            ok = FilterDeflateRows(pixels.data(), p.width, p.height, stride, channels, rows,
                                   whole[way].data());
        });
        if (!ok || !DeflatePngEncoder::FilterSampleRows(DeflatePngSettings{}, pixels.data(),
                                                        p.width, p.height, stride, channels,
                                                        rows, sample[way].data())) {
            return false;
        }
    }
    return true;
}

bool WriteGateLine(std::FILE* file, const std::string& set, const SetPicture& p, int channels,
                   int row, std::vector<libdeflate_compressor*>& compressors) {
    const std::vector<std::uint8_t> pixels = Variant(p, channels, row);
    int bands = 0;
    const std::size_t sampleBytes =
        DeflatePngEncoder::SampleBytes(DeflatePngSettings{}, p.width, p.height, channels, &bands);
    WaysOfRows whole;
    WaysOfRows sample;
    std::array<double, kDeflateRowChoices> filterSeconds{};
    if (!FilterForGates(p, pixels, channels, sampleBytes, whole, sample, filterSeconds)) {
        return false;
    }
    std::vector<std::uint8_t> out(compressBound(static_cast<uLong>(whole[0].size())) + 4096);
    std::size_t zlib = 0;
    const double zlibSeconds = SecondsOf([&] { zlib = ZlibBytes(whole[0], out); });
    const std::size_t zlibSample = ZlibBytes(sample[0], out);
    std::string wholeJson;
    std::string sampleJson;
    for (const GateSetting& s : GateSettings()) {
        libdeflate_compressor* c = compressors[static_cast<std::size_t>(s.level)];
        const auto& rows = whole[static_cast<std::size_t>(s.rows)];
        std::size_t bytes = 0;
        const double seconds = SecondsOf(
            [&] { bytes = libdeflate_zlib_compress(c, rows.data(), rows.size(), out.data(), out.size()); });
        const auto& part = sample[static_cast<std::size_t>(s.rows)];
        const std::size_t sampled =
            libdeflate_zlib_compress(c, part.data(), part.size(), out.data(), out.size());
        if (bytes == 0 || sampled == 0) {
            return false;
        }
        wholeJson += ",\"" + GateKey(s) + "\":[" + std::to_string(bytes) + "," +
                     std::to_string(seconds) + "]";
        sampleJson += ",\"" + GateKey(s) + "\":" + std::to_string(sampled);
    }
    std::fprintf(file,
                 "{\"set\":\"%s/%s\",\"name\":\"%s\",\"row\":%d,\"fb\":%zu,\"ft\":[%f,%f,%f],"
                 "\"Z\":%zu,\"Zt\":%f,\"W\":{%s},\"S\":{\"n\":%zu,\"bands\":%d,\"z\":%zu%s}}\n",
                 set.c_str(), channels == 4 ? "RGBA" : "RGB", p.name.c_str(), row,
                 whole[0].size(), filterSeconds[0], filterSeconds[1], filterSeconds[2], zlib,
                 zlibSeconds, wholeJson.c_str() + 1, sampleBytes, bands, zlibSample,
                 sampleJson.c_str());
    std::fflush(file);
    return zlib != 0 && zlibSample != 0;
}

int WriteGateData(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        std::perror(path.c_str());
        return 1;
    }
    std::vector<libdeflate_compressor*> compressors(10, nullptr);
    for (int level = 1; level <= 9; ++level) {
        compressors[static_cast<std::size_t>(level)] = libdeflate_alloc_compressor(level);
    }
    std::vector<std::pair<std::string, std::vector<SetPicture>>> sets = {
        {"synthetic-mapped", SyntheticSet()}};
    if (!gPicturesDir.empty()) {
        for (const std::string& folder : SortedEntries(gPicturesDir)) {
            sets.emplace_back(folder, LoadSet(gPicturesDir + "/" + folder));
        }
    }
    bool ok = std::all_of(compressors.begin() + 1, compressors.end(),
                          [](const libdeflate_compressor* c) { return c != nullptr; });
    for (const auto& [name, set] : sets) {
        for (const int channels : {3, 4}) {
            for (const SetPicture& p : set) {
                for (const int row : kSixPresets) {
                    ok = ok && WriteGateLine(file, name, p, channels, row, compressors);
                }
            }
        }
    }
    for (libdeflate_compressor* c : compressors) {
        libdeflate_free_compressor(c);
    }
    std::fclose(file);
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace corvanta

// Takes --pictures=DIR, --max-pictures=N and --verbose (each picture's
// ratio to zlib, its estimate and what it was written with, on stderr)
// before Google Benchmark's own flags; --gate-data=FILE writes the data
// for fitting the gates instead of running benchmarks.
int main(int argc, char** argv) {
    std::vector<char*> rest;
    std::string gateData;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--pictures=", 0) == 0) {
            corvanta::gPicturesDir = arg.substr(11);
        } else if (arg.rfind("--max-pictures=", 0) == 0) {
            corvanta::gMaxPictures = std::atoi(arg.c_str() + 15);
        } else if (arg.rfind("--fixed=", 0) == 0) {
            // LEVEL,ROWS: every picture so, untried (ROWS 0 None, 1 Up, 2 per row).
            corvanta::DeflatePngChoice fixed;
            fixed.level = std::atoi(arg.c_str() + 8);
            fixed.rows = static_cast<corvanta::DeflateRows>(
                std::clamp(std::atoi(arg.c_str() + arg.find(',') + 1), 0, 2));
            corvanta::gSetSettings.fixed = fixed;
        } else if (arg.rfind("--gates=", 0) == 0) {
            // NONE,UP,PERROW per trial in turn, in thousandths of zlib's size.
            std::size_t at = 8;
            for (corvanta::DeflateTrial& trial : corvanta::gSetSettings.trials) {
                for (int& gate : trial.gatePermille) {
                    gate = std::atoi(arg.c_str() + at);
                    at = arg.find(',', at);
                    if (at == std::string::npos) {
                        break;
                    }
                    ++at;
                }
                if (at == std::string::npos) {
                    break;
                }
            }
        } else if (arg.rfind("--sample=", 0) == 0) {
            // BAND,MAX in KiB.
            corvanta::gSetSettings.sampleBandBytes = std::size_t(std::atoi(arg.c_str() + 9)) << 10;
            corvanta::gSetSettings.sampleMaxBytes =
                std::size_t(std::atoi(arg.c_str() + arg.find(',') + 1)) << 10;
        } else if (arg.rfind("--gate-data=", 0) == 0) {
            gateData = arg.substr(12);
        } else if (arg == "--verbose") {
            corvanta::gVerbose = true;
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (!gateData.empty()) {
        return corvanta::WriteGateData(gateData);
    }
    int count = static_cast<int>(rest.size());
    corvanta::RegisterSets();
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
