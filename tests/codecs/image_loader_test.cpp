#include "codecs/image_loader.h"
#include "decoder/input_file.h"

#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "support/test_images.h"

namespace corvanta {
namespace {

using test_support::Bytes;
using test_support::TempDir;
using test_support::WriteFile;

struct Size {
    int width;
    int height;
    bool operator==(const Size&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Size& s) {
    return out << s.width << "x" << s.height;
}
Size SizeOf(const PixbufPtr& image) {
    if (image == nullptr) {
        return {0, 0};
    }
    return {gdk_pixbuf_get_width(image.get()), gdk_pixbuf_get_height(image.get())};
}

// Pixel rows without padding, for comparing images byte by byte.
Bytes Rows(const GdkPixbuf* image) {
    const int width = gdk_pixbuf_get_width(image);
    const int height = gdk_pixbuf_get_height(image);
    const int channels = gdk_pixbuf_get_n_channels(image);
    const int stride = gdk_pixbuf_get_rowstride(image);
    const guint8* pixels = gdk_pixbuf_read_pixels(image);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * channels;
    Bytes rows;
    for (int y = 0; y < height; ++y) {
        rows.insert(rows.end(), pixels + static_cast<std::size_t>(y) * stride,
                    pixels + static_cast<std::size_t>(y) * stride + rowBytes);
    }
    return rows;
}

// TurboJPEG's own decode at a scale of num/8, for comparison.
PixbufPtr ReferenceDecode(const Bytes& jpeg, int num) {
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &width, &height, &subsampling,
                        &colorspace);
    const int w = (width * num + 7) / 8;
    const int h = (height * num + 7) / 8;
    PixbufPtr image(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h));
    EXPECT_EQ(tjDecompress2(handle, jpeg.data(), jpeg.size(), gdk_pixbuf_get_pixels(image.get()), w,
                            gdk_pixbuf_get_rowstride(image.get()), h, TJPF_RGB, TJFLAG_ACCURATEDCT),
              0);
    tjDestroy(handle);
    return image;
}

TEST(JpegScaleNumerator, PicksTheSmallestEighthCoveringTheBox) {
    EXPECT_EQ(JpegScaleNumerator(4000, 3000, 1000, 1000), 2);
    EXPECT_EQ(JpegScaleNumerator(4000, 3000, 1000, 100), 1);
    EXPECT_EQ(JpegScaleNumerator(4000, 3000, 3999, 3000), 8);
    EXPECT_EQ(JpegScaleNumerator(4000, 3000, 3500, 0), 7);
    EXPECT_EQ(JpegScaleNumerator(4000, 3000, 0, -1), 8);
    // Eight times these limits does not fit in 32 bits.
    EXPECT_EQ(JpegScaleNumerator(65500, 65500, INT_MAX, INT_MAX), 8);
    EXPECT_EQ(JpegScaleNumerator(65500, 65500, 1 << 29, 300000000), 8);
    EXPECT_EQ(JpegScaleNumerator(65500, 65500, INT_MAX, 8187), 1);
}

TEST(FitIntoBox, RoundsHalvesToEvenAndKeepsEverySideAtLeastOnePixel) {
    EXPECT_EQ(FitIntoBox(4000, 3000, 1000, 100), (ImageSize{133, 100}));
    EXPECT_EQ(FitIntoBox(10, 5, 5, 0), (ImageSize{5, 2}));  // 2.5 rounds to 2
    EXPECT_EQ(FitIntoBox(10, 7, 5, 0), (ImageSize{5, 4}));  // 3.5 rounds to 4
    EXPECT_EQ(FitIntoBox(10, 5, 1, 0), (ImageSize{1, 1}));
    EXPECT_EQ(FitIntoBox(1000, 1, 100, -3), (ImageSize{100, 1}));
    EXPECT_EQ(FitIntoBox(1, 1000, INT_MAX, 10), (ImageSize{1, 10}));
    EXPECT_EQ(FitIntoBox(640, 480, 0, 0), (ImageSize{640, 480}));
    EXPECT_EQ(FitIntoBox(640, 480, 4000, 4000), (ImageSize{640, 480}));  // never enlarged
}

// One 12-megapixel photograph shared by the size examples.
class LargeJpeg : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<TempDir>();
        jpeg_ = std::make_unique<Bytes>(test_support::MakeJpeg(4000, 3000));
        ASSERT_TRUE(WriteFile(Path(), *jpeg_));
        Bytes rotated = test_support::InsertAfterSoi(
            *jpeg_, test_support::MakeExifSegment(6, test_support::ByteOrder::kIntel));
        ASSERT_TRUE(WriteFile(RotatedPath(), rotated));
    }
    static void TearDownTestSuite() {
        jpeg_.reset();
        dir_.reset();
    }
    static std::string Path() { return dir_->File("photo.jpg"); }
    static std::string RotatedPath() { return dir_->File("rotated.jpg"); }

    static inline std::unique_ptr<TempDir> dir_;
    static inline std::unique_ptr<Bytes> jpeg_;
    JpegDecoder decoder_;
};

TEST_F(LargeJpeg, DecodesAtTheDctScaleWithoutResizeWhenThatFits) {
    std::uint8_t orientation = 99;
    PixbufPtr image = LoadJpegFile(decoder_, Path(), 1000, 1000, &orientation);
    ASSERT_EQ(SizeOf(image), (Size{1000, 750}));
    EXPECT_EQ(orientation, 0);
    EXPECT_EQ(gdk_pixbuf_get_n_channels(image.get()), 3);
    EXPECT_EQ(Rows(image.get()), Rows(ReferenceDecode(*jpeg_, 2).get()));
}

TEST_F(LargeJpeg, ResizesOnceFromTheReducedDecode) {
    PixbufPtr image = LoadJpegFile(decoder_, Path(), 1000, 100);
    ASSERT_EQ(SizeOf(image), (Size{133, 100}));
    PixbufPtr eighth = ReferenceDecode(*jpeg_, 1);
    ASSERT_EQ(SizeOf(eighth), (Size{500, 375}));
    PixbufPtr expected(gdk_pixbuf_scale_simple(eighth.get(), 133, 100, GDK_INTERP_BILINEAR));
    EXPECT_EQ(Rows(image.get()), Rows(expected.get()));
}

TEST_F(LargeJpeg, TransposedOrientationSwapsTheBox) {
    std::uint8_t orientation = 0;
    PixbufPtr image = LoadJpegFile(decoder_, RotatedPath(), 1000, 500, &orientation);
    EXPECT_EQ(SizeOf(image), (Size{500, 375}));  // stored orientation, not rotated
    EXPECT_EQ(orientation, 6);
}

TEST_F(LargeJpeg, LimitsBelowOneMeanFullSize) {
    EXPECT_EQ(SizeOf(LoadJpegFile(decoder_, Path(), 0, 0)), (Size{4000, 3000}));
    EXPECT_EQ(SizeOf(LoadJpegFile(decoder_, Path(), -1, INT_MIN)), (Size{4000, 3000}));
    EXPECT_EQ(SizeOf(LoadJpegFile(decoder_, Path(), INT_MAX, INT_MAX)), (Size{4000, 3000}));
    EXPECT_EQ(SizeOf(LoadJpegFile(decoder_, Path(), 0, 600)), (Size{800, 600}));
}

class Loaders : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const Bytes& bytes) {
        const std::string path = dir_.File(name);
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }
    PixbufPtr Jpeg(const std::string& path, int maxWidth = 0, int maxHeight = 0) {
        return LoadJpegFile(decoder_, path, maxWidth, maxHeight);
    }

    TempDir dir_;
    JpegDecoder decoder_;
};

TEST_F(Loaders, SmallImagesAreNeverEnlarged) {
    const std::string jpeg = Write("small.jpg", test_support::MakeJpeg(64, 48));
    const std::string png = Write("small.png", test_support::MakePng(64, 48, false));
    EXPECT_EQ(SizeOf(Jpeg(jpeg, 1000, 1000)), (Size{64, 48}));
    EXPECT_EQ(SizeOf(test_support::DecodeFile(png, 1000, 1000)), (Size{64, 48}));
    EXPECT_EQ(SizeOf(test_support::DecodeFile(png, 32, 0)), (Size{32, 24}));
    EXPECT_EQ(SizeOf(test_support::DecodeFile(png, 0, 0)), (Size{64, 48}));
}

TEST_F(Loaders, DegenerateFitsKeepOnePixel) {
    const std::string jpeg = Write("thin.jpg", test_support::MakeJpeg(10, 5));
    EXPECT_EQ(SizeOf(Jpeg(jpeg, 1, 0)), (Size{1, 1}));
    const std::string wide = Write("wide.jpg", test_support::MakeJpeg(1000, 1));
    EXPECT_EQ(SizeOf(Jpeg(wide, 100, -1)), (Size{100, 1}));
    const std::string png = Write("wide.png", test_support::MakePng(1000, 1, false));
    EXPECT_EQ(SizeOf(test_support::DecodeFile(png, 100, 0)), (Size{100, 1}));
}

TEST_F(Loaders, GreyAndProgressiveJpegsLoadAsRgb) {
    test_support::JpegOptions grey;
    grey.grayscale = true;
    test_support::JpegOptions progressive;
    progressive.progressive = true;
    for (const auto& options : {grey, progressive}) {
        PixbufPtr image = Jpeg(Write("x.jpg", test_support::MakeJpeg(300, 200, options)), 150, 0);
        ASSERT_EQ(SizeOf(image), (Size{150, 100}));
        EXPECT_EQ(gdk_pixbuf_get_n_channels(image.get()), 3);
        EXPECT_FALSE(gdk_pixbuf_get_has_alpha(image.get()));
    }
}

TEST_F(Loaders, JpegIsRecognisedByContentNotName) {
    const Bytes jpeg = test_support::MakeJpeg(120, 80);
    EXPECT_EQ(SizeOf(Jpeg(Write("really-a-jpeg.png", jpeg))), (Size{120, 80}));
    const std::string text = Write("notes.jpg", Bytes(200, 'a'));
    EXPECT_EQ(Jpeg(text), nullptr);
    EXPECT_EQ(test_support::DecodeFile(text, 0, 0), nullptr);
    // A PNG is not taken by the JPEG loader, whatever its name.
    EXPECT_EQ(Jpeg(Write("png.jpg", test_support::MakePng(20, 20, false))), nullptr);
}

TEST_F(Loaders, NinetySixBytesAreNeverAJpeg) {
    Bytes shortFile = test_support::MakeJpeg(8, 8);
    ASSERT_GT(shortFile.size(), 97u);
    shortFile.resize(96);
    EXPECT_EQ(Jpeg(Write("short.jpg", shortFile)), nullptr);
    EXPECT_EQ(Jpeg(Write("empty.jpg", {})), nullptr);
}

TEST_F(Loaders, DamagedJpegFallsBackToGdkPixbuf) {
    const Bytes jpeg = test_support::MakeJpeg(400, 300);
    const Bytes truncated(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() * 6 / 10));
    const std::string path = Write("damaged.jpg", truncated);
    EXPECT_EQ(Jpeg(path), nullptr);
    EXPECT_EQ(SizeOf(test_support::DecodeFile(path, 200, 200)), (Size{200, 150}));
}

TEST_F(Loaders, NonRegularFilesFailWithoutBlocking) {
    const std::string folder = dir_.File("folder.jpg");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    EXPECT_EQ(Jpeg(folder), nullptr);
    EXPECT_EQ(test_support::DecodeFile(folder, 0, 0), nullptr);
    // Opening a FIFO without a writer would wait forever.
    const std::string fifo = dir_.File("pipe.png");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Jpeg(fifo), nullptr);
    EXPECT_EQ(test_support::DecodeFile(fifo, 0, 0), nullptr);
    EXPECT_EQ(Jpeg(dir_.File("missing.jpg")), nullptr);
    EXPECT_EQ(test_support::DecodeFile(dir_.File("missing.png"), 0, 0), nullptr);
}

TEST_F(Loaders, EnormousDeclaredSizesFailCleanly) {
    Bytes jpeg = test_support::MakeJpeg(64, 64);
    ASSERT_TRUE(test_support::SetJpegFrameSize(jpeg, 65500, 65500));
    const std::string bigJpeg = Write("huge.jpg", jpeg);
    EXPECT_EQ(Jpeg(bigJpeg), nullptr);
    EXPECT_EQ(test_support::DecodeFile(bigJpeg, 0, 0), nullptr);

    Bytes png = test_support::MakePng(64, 64, true);
    ASSERT_TRUE(test_support::SetPngSize(png, 65500, 65500));
    EXPECT_EQ(test_support::DecodeFile(Write("huge.png", png), 0, 0), nullptr);
}

// A few hundred bytes that declare tens of megapixels: under the pixel cap,
// so without a density check gdk-pixbuf spent seconds decoding grey.
TEST_F(Loaders, TinyJpegDeclaringMegapixelsIsRefusedByBothLoaders) {
    Bytes jpeg = test_support::MakeJpeg(16, 16);
    const auto bytes = static_cast<std::int64_t>(jpeg.size());
    const int width = 16000;
    const int height = 5000;
    ASSERT_GT(std::int64_t{width} * height, kMaxJpegPixelsPerByte * bytes);
    ASSERT_LT(std::int64_t{width} * height, kMaxImagePixels);
    ASSERT_TRUE(test_support::SetJpegFrameSize(jpeg, width, height));
    const std::string path = Write("bomb.jpg", jpeg);
    EXPECT_EQ(Jpeg(path, 64, 48), nullptr);
    EXPECT_EQ(Jpeg(path), nullptr);
    EXPECT_EQ(test_support::DecodeFile(path, 0, 0), nullptr);
    // The same header over a plausible amount of data is still decoded
    // (what is missing comes out grey).
    Bytes padded = test_support::MakeJpeg(16, 16);
    ASSERT_TRUE(test_support::SetJpegFrameSize(padded, 400, 300));
    EXPECT_EQ(SizeOf(test_support::DecodeFile(Write("short.jpg", padded), 40, 30)), (Size{40, 30}));
}

TEST_F(Loaders, JpegWithHundredsOfScansIsRefusedByBothLoaders) {
    test_support::JpegOptions options;
    options.progressive = true;
    const Bytes jpeg = test_support::MakeJpeg(64, 48, options);
    // Repeat the last scan (everything from its SOS marker up to EOI).
    std::size_t lastScan = 0;
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
            lastScan = i;
        }
    }
    ASSERT_GT(lastScan, 0u);
    Bytes many(jpeg.begin(), jpeg.end() - 2);
    for (int i = 0; i < 2000; ++i) {
        many.insert(many.end(), jpeg.begin() + static_cast<long>(lastScan), jpeg.end() - 2);
    }
    many.insert(many.end(), {0xFF, 0xD9});
    const std::string path = Write("scans.jpg", many);
    EXPECT_EQ(Jpeg(path), nullptr);
    EXPECT_EQ(test_support::DecodeFile(path, 0, 0), nullptr);
    // An ordinary progressive file still reaches gdk-pixbuf.
    EXPECT_EQ(SizeOf(test_support::DecodeFile(Write("fine.jpg", jpeg), 0, 0)), (Size{64, 48}));
}

TEST_F(Loaders, PngKeepsItsAlphaSamples) {
    const std::string rgba = Write("alpha.png", test_support::MakePng(50, 40, true, 7));
    PixbufPtr image = test_support::DecodeFile(rgba, 0, 0);
    ASSERT_EQ(SizeOf(image), (Size{50, 40}));
    EXPECT_EQ(gdk_pixbuf_get_n_channels(image.get()), 4);
    EXPECT_EQ(Rows(image.get()), test_support::MakePhotoPixels(50, 40, 4, 7));

    PixbufPtr rgb =
        test_support::DecodeFile(Write("plain.png", test_support::MakePng(50, 40, false)), 0, 0);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_n_channels(rgb.get()), 3);
    EXPECT_FALSE(gdk_pixbuf_get_has_alpha(rgb.get()));
}

TEST_F(Loaders, DecodedPixelsReuseTheBlockOfTheLastImage) {
    const std::string path = Write("a.jpg", test_support::MakeJpeg(640, 480));
    const guint8* first = nullptr;
    {
        PixbufPtr image = Jpeg(path);
        ASSERT_NE(image, nullptr);
        first = gdk_pixbuf_read_pixels(image.get());
    }
    EXPECT_GT(decoder_.Pixels().SpareBytes(), 0u);
    PixbufPtr again = Jpeg(path);
    EXPECT_EQ(gdk_pixbuf_read_pixels(again.get()), first);
    // While the first image is alive the next one gets other memory.
    PixbufPtr third = Jpeg(path);
    EXPECT_NE(gdk_pixbuf_read_pixels(third.get()), gdk_pixbuf_read_pixels(again.get()));
    EXPECT_EQ(Rows(third.get()), Rows(again.get()));
}

TEST(LoadedImages, OutliveTheirDecoderAndMayBeReleasedOnAnotherThread) {
    TempDir dir;
    const std::string path = dir.File("a.jpg");
    ASSERT_TRUE(WriteFile(path, test_support::MakeJpeg(320, 240)));
    PixbufPtr image;
    {
        JpegDecoder decoder;
        image = LoadJpegFile(decoder, path, 100, 100);
        PixbufPtr other = LoadJpegFile(decoder, path, 0, 0);
        std::thread([released = std::move(other)]() mutable { released.reset(); }).join();
    }
    ASSERT_EQ(SizeOf(image), (Size{100, 75}));
    JpegDecoder fresh;
    EXPECT_EQ(Rows(image.get()), Rows(LoadJpegFile(fresh, path, 100, 100).get()));
}

}  // namespace
}  // namespace corvanta
