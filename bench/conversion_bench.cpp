// The conversion loop on a batch of photographs, against a floor measured in
// the same run: the same file reads, TurboJPEG decode at the same DCT scale,
// the same bilinear resize, the same tone map, the same encoders with the
// same settings and the same file writes, with every buffer kept from one
// file to the next. That floor is the least the whole job can cost; the loop
// should stay close. The JPEG batch is mapped through "Ocean", the PNG batch
// through "Heat camera".
//
//   corvanta_conversion_bench [benchmark flags]
//   corvanta_conversion_bench --write-fixtures DIR      (the JPEG batch, for bench/cli_jobs.sh)
//   corvanta_conversion_bench --write-png-fixtures DIR  (the PNG batch, for bench/png_batch.sh)
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_engine.h"
#include "codecs/deflate_png_encoder.h"
#include "codecs/image_loader.h"
#include "batch/output_writer.h"
#include "tone/shared_gradient.h"
#include "scheme/color_scheme.h"
#include "tone/tone_map.h"

namespace corvanta {
namespace {

namespace fs = std::filesystem;

constexpr int kPhotoCount = 12;
constexpr int kPhotoWidth = 4000;  // 12 megapixels
constexpr int kPhotoHeight = 3000;
constexpr int kPhotoQuality = 90;
constexpr int kPngCount = 6;  // three RGB, three RGBA
constexpr int kPngWidth = 3000;
constexpr int kPngHeight = 2000;
constexpr int kBox = 1000;
constexpr int kNoLimit = 0;
constexpr int kQuality = kJpegQualityHigh;
constexpr int kRunsAtBox = 5;
constexpr int kRunsAtFullSize = 3;
constexpr int kDecodeFlags = TJFLAG_ACCURATEDCT | TJFLAG_LIMITSCANS;

// Smooth gradients with some texture and sensor noise, different per seed,
// so that the codecs see something like a photograph.
std::vector<std::uint8_t> MakePhoto(int width, int height, int channels, unsigned seed) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * channels);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> phase(0.0, 6.28);
    const double px[4] = {phase(rng), phase(rng), phase(rng), phase(rng)};
    const double py[4] = {phase(rng), phase(rng), phase(rng), phase(rng)};
    std::vector<double> columns(static_cast<std::size_t>(width) * 4);
    for (int x = 0; x < width; ++x) {
        for (int c = 0; c < 4; ++c) {
            columns[static_cast<std::size_t>(x) * 4 + c] =
                70 * std::sin(x * 0.0017 * (c + 1) + px[c]) + 15 * std::sin(x * 0.031 + c);
        }
    }
    std::uint32_t noise = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y) {
        double rows[4];
        for (int c = 0; c < 4; ++c) {
            rows[c] = 128 + 50 * std::cos(y * 0.0021 * (c + 2) + py[c]) + 10 * std::sin(y * 0.023);
        }
        std::uint8_t* p = pixels.data() + static_cast<std::size_t>(y) * width * channels;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                noise ^= noise << 13;
                noise ^= noise >> 17;
                noise ^= noise << 5;
                const double v = rows[c] + columns[static_cast<std::size_t>(x) * 4 + c] +
                                 static_cast<int>(noise % 9) - 4;
                *p++ = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
            }
        }
    }
    return pixels;
}

bool WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

bool WriteJpegFixtures(const std::string& dir) {
    tjhandle tj = tjInitCompress();
    bool ok = tj != nullptr;
    for (int i = 0; ok && i < kPhotoCount; ++i) {
        const auto rgb = MakePhoto(kPhotoWidth, kPhotoHeight, 3, 100 + i);
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        ok = tjCompress2(tj, rgb.data(), kPhotoWidth, 0, kPhotoHeight, TJPF_RGB, &jpeg, &size,
                         TJSAMP_420, kPhotoQuality, TJFLAG_ACCURATEDCT) == 0 &&
             WriteBytes(dir + "/photo" + std::to_string(10 + i) + ".jpg", jpeg, size);
        tjFree(jpeg);
    }
    if (tj != nullptr) {
        tjDestroy(tj);
    }
    return ok;
}

bool WritePngFixtures(const std::string& dir) {
    for (int i = 0; i < kPngCount; ++i) {
        const bool alpha = i % 2 == 1;
        auto pixels = MakePhoto(kPngWidth, kPngHeight, alpha ? 4 : 3, 200 + i);
        GObjectPtr<GdkPixbuf> image(
            gdk_pixbuf_new_from_data(pixels.data(), GDK_COLORSPACE_RGB, alpha, 8, kPngWidth,
                                     kPngHeight, kPngWidth * (alpha ? 4 : 3), nullptr, nullptr));
        const std::string path = dir + "/scan" + std::to_string(10 + i) + ".png";
        if (!image || !gdk_pixbuf_save(image.get(), path.c_str(), "png", nullptr, nullptr)) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void EmptyFolder(const std::string& dir) {
    for (const auto& entry : fs::directory_iterator(dir)) {
        fs::remove(entry.path());
    }
}

class NullSink final : public ProgressSink {
  public:
    void Post(ProgressEvent) override {}
};

// The floor: everything the job must do, done with kept buffers.
class Floor {
  public:
    Floor() : decoder_(tjInitDecompress()), encoder_(tjInitCompress()) {}
    ~Floor() {
        tjDestroy(decoder_);
        tjDestroy(encoder_);
        tjFree(jpegOut_);
    }

    bool Run(const std::vector<std::string>& files, const std::string& outDir, int box,
             const GradientTable& table) {
        for (const std::string& path : files) {
            const std::string out = outDir + "/" + fs::path(path).filename().string();
            const bool ok =
                path.ends_with(".jpg") ? Jpeg(path, out, box, table) : Png(path, out, box, table);
            if (!ok) {
                return false;
            }
        }
        return true;
    }

  private:
    static int Stride(int width, int channels) { return (width * channels + 3) & ~3; }

    bool ReadWhole(const std::string& path) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (fd < 0 || fstat(fd, &info) != 0) {
            return false;
        }
        file_.resize(static_cast<std::size_t>(info.st_size));
        const bool ok = read(fd, file_.data(), file_.size()) == info.st_size;
        close(fd);
        return ok;
    }

    static bool WriteWhole(const std::string& path, const std::uint8_t* data, std::size_t size) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            return false;
        }
        const bool ok = write(fd, data, size) == static_cast<ssize_t>(size);
        return close(fd) == 0 && ok;
    }

    // Decoded pixels as a pixbuf over a kept buffer, for the resize and the map.
    GObjectPtr<GdkPixbuf> Wrap(std::vector<std::uint8_t>& buffer, bool alpha, int width,
                               int height) {
        const int stride = Stride(width, alpha ? 4 : 3);
        buffer.resize(std::max(buffer.size(), static_cast<std::size_t>(stride) * height));
        return GObjectPtr<GdkPixbuf>(gdk_pixbuf_new_from_data(
            buffer.data(), GDK_COLORSPACE_RGB, alpha, 8, width, height, stride, nullptr, nullptr));
    }

    // The same bilinear resize the loaders use, into the second kept buffer.
    GObjectPtr<GdkPixbuf> Fit(GObjectPtr<GdkPixbuf> image, ImageSize target) {
        const int width = gdk_pixbuf_get_width(image.get());
        const int height = gdk_pixbuf_get_height(image.get());
        if (target == ImageSize{width, height}) {
            return image;
        }
        GObjectPtr<GdkPixbuf> resized =
            Wrap(resized_, gdk_pixbuf_get_has_alpha(image.get()), target.width, target.height);
        gdk_pixbuf_scale(image.get(), resized.get(), 0, 0, target.width, target.height, 0, 0,
                         static_cast<double>(target.width) / width,
                         static_cast<double>(target.height) / height, GDK_INTERP_BILINEAR);
        return resized;
    }

    bool Jpeg(const std::string& path, const std::string& out, int box,
              const GradientTable& table) {
        if (!ReadWhole(path)) {
            return false;
        }
        int width = 0, height = 0, subsampling = 0, colorspace = 0;
        if (tjDecompressHeader3(decoder_, file_.data(), file_.size(), &width, &height, &subsampling,
                                &colorspace) != 0) {
            return false;
        }
        const int num = JpegScaleNumerator(width, height, box, box);
        const int scaledWidth = (width * num + 7) / 8;
        const int scaledHeight = (height * num + 7) / 8;
        GObjectPtr<GdkPixbuf> image = Wrap(decoded_, false, scaledWidth, scaledHeight);
        if (tjDecompress2(decoder_, file_.data(), file_.size(), gdk_pixbuf_get_pixels(image.get()),
                          scaledWidth, gdk_pixbuf_get_rowstride(image.get()), scaledHeight,
                          TJPF_RGB, kDecodeFlags) != 0) {
            return false;
        }
        image = Fit(std::move(image), FitIntoBox(width, height, box, box));
        ToneMapImage(image.get(), table);

        const int outWidth = gdk_pixbuf_get_width(image.get());
        const int outHeight = gdk_pixbuf_get_height(image.get());
        const unsigned long needed = tjBufSize(outWidth, outHeight, TJSAMP_444);
        if (needed > jpegCapacity_) {
            tjFree(jpegOut_);
            jpegOut_ = tjAlloc(static_cast<int>(needed));
            jpegCapacity_ = needed;
        }
        unsigned long size = jpegCapacity_;
        if (tjCompress2(encoder_, gdk_pixbuf_get_pixels(image.get()), outWidth,
                        gdk_pixbuf_get_rowstride(image.get()), outHeight, TJPF_RGB, &jpegOut_,
                        &size, TJSAMP_444, kQuality, TJFLAG_ACCURATEDCT | TJFLAG_NOREALLOC) != 0) {
            return false;
        }
        return WriteWhole(out, jpegOut_, size);
    }

    struct MemoryReader {
        const std::vector<std::uint8_t>* data;
        std::size_t offset;
    };

    static void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
        auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
        if (reader->offset + length > reader->data->size()) {
            png_error(png, "truncated");
        }
        std::memcpy(out, reader->data->data() + reader->offset, length);
        reader->offset += length;
    }

    static bool AppendToVector(void* context, const std::uint8_t* data, std::size_t length) {
        auto* out = static_cast<std::vector<std::uint8_t>*>(context);
        out->insert(out->end(), data, data + length);
        return true;
    }

    bool Png(const std::string& path, const std::string& out, int box, const GradientTable& table) {
        if (!ReadWhole(path)) {
            return false;
        }
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        MemoryReader reader{&file_, 0};
        GObjectPtr<GdkPixbuf> image;
        if (setjmp(png_jmpbuf(png))) {
            png_destroy_read_struct(&png, &info, nullptr);
            return false;
        }
        png_set_read_fn(png, &reader, ReadFromMemory);
        png_read_info(png, info);
        const int width = static_cast<int>(png_get_image_width(png, info));
        const int height = static_cast<int>(png_get_image_height(png, info));
        const bool alpha = png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB_ALPHA;
        image = Wrap(decoded_, alpha, width, height);
        rows_.resize(static_cast<std::size_t>(height));
        for (int y = 0; y < height; ++y) {
            rows_[static_cast<std::size_t>(y)] =
                gdk_pixbuf_get_pixels(image.get()) + y * gdk_pixbuf_get_rowstride(image.get());
        }
        png_read_image(png, rows_.data());
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);

        image = Fit(std::move(image), FitIntoBox(width, height, box, box));
        ToneMapImage(image.get(), table);
        encoded_.clear();
        if (!png_.Encode(gdk_pixbuf_get_pixels(image.get()), gdk_pixbuf_get_width(image.get()),
                         gdk_pixbuf_get_height(image.get()),
                         static_cast<std::size_t>(gdk_pixbuf_get_rowstride(image.get())), alpha,
                         AppendToVector, &encoded_)) {
            return false;
        }
        return WriteWhole(out, encoded_.data(), encoded_.size());
    }

    tjhandle decoder_;
    tjhandle encoder_;
    DeflatePngEncoder png_;  // the output writer's encoder, settings and all
    unsigned char* jpegOut_ = nullptr;
    unsigned long jpegCapacity_ = 0;
    std::vector<std::uint8_t> file_;
    std::vector<std::uint8_t> decoded_;
    std::vector<std::uint8_t> resized_;
    std::vector<std::uint8_t> encoded_;
    std::vector<png_bytep> rows_;
};

struct Fixtures {
    fs::path root;
    std::vector<std::string> photos;
    std::vector<std::string> scans;

    Fixtures() {
        std::string pattern = (fs::temp_directory_path() / "corvanta-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        root = pattern;
        fs::create_directory(root / "photos");
        fs::create_directory(root / "scans");
        fs::create_directory(root / "out");
        if (WriteJpegFixtures((root / "photos").string()) &&
            WritePngFixtures((root / "scans").string())) {
            photos = FilesIn((root / "photos").string());
            scans = FilesIn((root / "scans").string());
        }
    }
    ~Fixtures() {
        if (!root.empty()) {
            fs::remove_all(root);
        }
    }
    std::string Out() const { return (root / "out").string(); }
};

Fixtures& GetFixtures() {
    static Fixtures fixtures;
    return fixtures;
}

ColorScheme PresetScheme(std::string_view name) {
    const PresetTable presets = MakePresetTable();
    for (const Preset& preset : presets.rows) {
        if (TrimmedPresetName(preset) == name) {
            return preset.slots;
        }
    }
    return {};
}

std::uintmax_t BytesIn(const std::string& dir) {
    std::uintmax_t total = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        total += entry.file_size();
    }
    return total;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

template <typename F>
double TimeMs(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// One benchmark iteration = the floor and the loop, run alternately several
// times; reports both medians and their ratio.
void BM_Batch(benchmark::State& state) {
    Fixtures& fixtures = GetFixtures();
    const bool photos = state.range(0) == 0;
    const int box = static_cast<int>(state.range(1));
    const std::vector<std::string>& files = photos ? fixtures.photos : fixtures.scans;
    if (files.empty()) {
        state.SkipWithError("fixtures could not be written");
        return;
    }
    const ColorScheme scheme = photos ? PresetScheme("Ocean") : PresetScheme("Heat camera");
    SharedGradientTable gradient(&scheme);
    GradientTable table{};
    gradient.Snapshot(table);
    const int runs = box == kNoLimit ? kRunsAtFullSize : kRunsAtBox;

    Floor floor;
    NullSink sink;
    std::uintmax_t writtenBytes = 0;
    for (auto _ : state) {
        std::vector<double> floorMs;
        std::vector<double> loopMs;
        EmptyFolder(fixtures.Out());
        floor.Run(files, fixtures.Out(), box, table);  // warms the floor's buffers
        EmptyFolder(fixtures.Out());
        for (int run = 0; run < runs; ++run) {
            bool ok = true;
            floorMs.push_back(TimeMs([&] { ok = floor.Run(files, fixtures.Out(), box, table); }));
            EmptyFolder(fixtures.Out());
            if (!ok) {
                state.SkipWithError("the floor failed");
                return;
            }
            ConversionJob job;
            job.maxWidth = box;
            job.maxHeight = box;
            job.quality = kQuality;
            job.outputFolder = fixtures.Out() + "/";
            job.files = files;
            BatchState batch;
            loopMs.push_back(TimeMs([&] { ConversionWorker(job, gradient, batch, sink, 1); }));
            if (FilesIn(fixtures.Out()).size() != files.size()) {
                state.SkipWithError("the loop did not write every file");
                return;
            }
            writtenBytes = BytesIn(fixtures.Out());
            EmptyFolder(fixtures.Out());
        }
        const double loop = Median(loopMs);
        const double floorMedian = Median(floorMs);
        state.SetIterationTime(loop / 1000.0);
        state.counters["loop_ms"] = loop;
        state.counters["floor_ms"] = floorMedian;
        state.counters["ratio"] = loop / floorMedian;
        state.counters["out_MB"] = static_cast<double>(writtenBytes) / 1e6;
    }
}

BENCHMARK(BM_Batch)
    ->ArgNames({"png", "box"})
    ->Args({0, kBox})
    ->Args({0, kNoLimit})
    ->Args({1, kBox})
    ->Args({1, kNoLimit})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvanta

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-fixtures") == 0) {
        return corvanta::WriteJpegFixtures(argv[2]) ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "--write-png-fixtures") == 0) {
        return corvanta::WritePngFixtures(argv[2]) ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
