// The codec side of a batch: PNG compression settings on tone-mapped
// pictures, and what keeping the decoder's and encoder's buffers between
// files saves.
//
//   corvanta_codec_bench --benchmark_filter=PngEncode  zlib strategies and buffers
//   corvanta_codec_bench --benchmark_filter=DeflatePng libdeflate levels and row filters
//   corvanta_codec_bench --benchmark_filter=Jpeg       buffer reuse
//   corvanta_codec_bench --benchmark_filter=PngDecode  the decoder process against in-process
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <turbojpeg.h>

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

// Args: channels, mapped, level, row filter (PngRowFilter's number, or -1
// for the encoder's own choice per picture, the level then unused). One
// encoder for the six pictures, as one job keeps it. vs_zlib9 is the
// largest of the six size ratios to zlib level 9 with filter None; above 1
// the setting is out. zlib counts the pictures the encoder left to zlib.
void BM_DeflatePngSix(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const bool mapped = state.range(1) != 0;
    const bool chosen = state.range(3) < 0;
    DeflatePngSettings settings;
    if (!chosen) {
        settings.trialLevels[0] = static_cast<int>(state.range(2));
        settings.fixedFilter = static_cast<PngRowFilter>(state.range(3));
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
    static const char* const kFilterNames[] = {"None", "Sub", "Up", "Average", "Paeth"};
    state.SetLabel(std::string(channels == 4 ? "RGBA " : "RGB ") + (mapped ? "mapped " : "photo ") +
                   (chosen ? std::string("chosen per picture")
                           : "level " + std::to_string(settings.trialLevels[0]) + " " +
                                 kFilterNames[state.range(3)]));
}
BENCHMARK(BM_DeflatePngSix)
    ->ArgNames({"ch", "mapped", "level", "filter"})
    ->ArgsProduct({{3, 4}, {0, 1}, {0}, {-1}})
    ->ArgsProduct({{3, 4}, {0, 1}, {1}, {0, 1, 2, 3, 4}})
    ->ArgsProduct({{3, 4}, {0, 1}, {2, 3, 4, 6, 9}, {4}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

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

}  // namespace
}  // namespace corvanta

BENCHMARK_MAIN();
