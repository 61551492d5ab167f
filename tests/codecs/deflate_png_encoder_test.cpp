#include "codecs/deflate_png_encoder.h"

#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "codecs/image_loader.h"
#include "scheme/color_scheme.h"
#include "scheme/gradient_table.h"
#include "support/test_images.h"
#include "tone/tone_map.h"

namespace corvanta {
namespace {

using test_support::Bytes;

constexpr std::uint8_t kPaddingByte = 0xA5;

// Photo-like pixels in rows of rowstride bytes. The padding holds a byte
// the encoder must never copy, and the buffer ends right behind the last
// row's pixels, as a gdk-pixbuf's does, so that reading past them shows
// under AddressSanitizer.
struct Picture {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::size_t rowstride = 0;
    Bytes buffer;
    Bytes packed;  // the rows without padding: what a decoder must give back
};

Picture LayOut(int width, int height, int channels, std::size_t padding, Bytes packed) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * channels;
    Picture picture{width, height, channels, rowBytes + padding, {}, std::move(packed)};
    picture.buffer.assign(picture.rowstride * (height - 1) + rowBytes, kPaddingByte);
    for (int y = 0; y < height; ++y) {
        std::copy_n(picture.packed.begin() + static_cast<long>(y * rowBytes), rowBytes,
                    picture.buffer.begin() + static_cast<long>(y * picture.rowstride));
    }
    return picture;
}

Picture MakePicture(int width, int height, int channels, std::size_t padding, unsigned seed = 1) {
    return LayOut(width, height, channels, padding,
                  test_support::MakePhotoPixels(width, height, channels, seed));
}

// The picture mapped through "Heat camera", as a batch writes it.
Picture Mapped(const Picture& photo) {
    Bytes packed = photo.packed;
    const PresetTable presets = MakePresetTable();
    for (const Preset& preset : presets.rows) {
        if (TrimmedPresetName(preset) == "Heat camera") {
            GradientTable table{};
            BuildGradientTable(&preset.slots, table);
            ToneMapBuffer(packed.data(), photo.width * photo.channels, photo.height,
                          photo.channels == 4 ? PixelLayout::kRgba : PixelLayout::kRgb, table);
        }
    }
    EXPECT_NE(packed, photo.packed);
    const std::size_t padding = photo.rowstride - static_cast<std::size_t>(photo.width) * photo.channels;
    return LayOut(photo.width, photo.height, photo.channels, padding, std::move(packed));
}

bool Append(void* context, const std::uint8_t* data, std::size_t length) {
    auto* out = static_cast<Bytes*>(context);
    out->insert(out->end(), data, data + length);
    return true;
}

Bytes Encode(DeflatePngEncoder& encoder, const Picture& p) {
    Bytes png;
    EXPECT_TRUE(encoder.Encode(p.buffer.data(), p.width, p.height, p.rowstride, p.channels == 4,
                               Append, &png));
    return png;
}

Bytes EncodeWithZlib(const Picture& p) {
    Bytes png;
    EXPECT_TRUE(EncodePng(p.buffer.data(), p.width, p.height, p.rowstride, p.channels == 4,
                          ZlibReferencePngSettings(), Append, &png));
    return png;
}

// libpng's reading, through its simplified interface: packed rows in the
// file's own layout, or empty when libpng refuses the file.
Bytes DecodeWithLibpng(const Bytes& png, int channels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, png.data(), png.size()) == 0) {
        return {};
    }
    image.format = channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    Bytes pixels(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) {
        return {};
    }
    return pixels;
}

// gdk-pixbuf's reading, as the decoder process reads a PNG input.
Bytes DecodeWithPixbuf(const Bytes& png, int channels) {
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    Bytes pixels;
    if (loader == nullptr) {
        return pixels;
    }
    const bool read = gdk_pixbuf_loader_write(loader, png.data(), png.size(), nullptr) &&
                      gdk_pixbuf_loader_close(loader, nullptr);
    GdkPixbuf* image = read ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (image != nullptr && gdk_pixbuf_get_n_channels(image) == channels) {
        const std::size_t rowBytes = static_cast<std::size_t>(gdk_pixbuf_get_width(image)) * channels;
        for (int y = 0; y < gdk_pixbuf_get_height(image); ++y) {
            const guint8* row = gdk_pixbuf_read_pixels(image) +
                                static_cast<std::size_t>(y) * gdk_pixbuf_get_rowstride(image);
            pixels.insert(pixels.end(), row, row + rowBytes);
        }
    }
    g_object_unref(loader);
    return pixels;
}

void ExpectOnlyHeaderDataAndEnd(const test_support::PngContents& contents) {
    ASSERT_GE(contents.chunks.size(), 3u);
    EXPECT_EQ(contents.chunks.front(), "IHDR");
    EXPECT_EQ(contents.chunks.back(), "IEND");
    for (std::size_t i = 1; i + 1 < contents.chunks.size(); ++i) {
        EXPECT_EQ(contents.chunks[i], "IDAT") << "chunk " << i;
    }
}

TEST(DeflatePngEncoder, RoundTripsPixelForPixelThroughLibpngAndGdkPixbuf) {
    struct Size {
        int width;
        int height;
    };
    const Size sizes[] = {{1, 1}, {1, 9}, {2, 1}, {3, 2}, {7, 5}, {64, 1}, {257, 33}, {3001, 4}};
    DeflatePngEncoder encoder;  // one for all, as a job keeps it
    ASSERT_TRUE(encoder.Valid());
    DeflatePngSettings always;  // small pictures through libdeflate too
    always.zlibUpToBytes = 0;
    DeflatePngEncoder deflateOnly(always);
    for (const int channels : {3, 4}) {
        for (const Size size : sizes) {
            for (const std::size_t padding : {0, 1, 13}) {
                const Picture p = MakePicture(size.width, size.height, channels, padding);
                const Bytes png = Encode(padding == 1 ? deflateOnly : encoder, p);
                SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) +
                             " channels " + std::to_string(channels) + " padding " +
                             std::to_string(padding));
                EXPECT_EQ(DecodeWithLibpng(png, channels), p.packed);
                EXPECT_EQ(DecodeWithPixbuf(png, channels), p.packed);

                const test_support::PngContents contents = test_support::InspectPng(png);
                ASSERT_TRUE(contents.ok);
                ExpectOnlyHeaderDataAndEnd(contents);
                EXPECT_EQ(contents.width, static_cast<std::uint32_t>(size.width));
                EXPECT_EQ(contents.height, static_cast<std::uint32_t>(size.height));
                EXPECT_EQ(contents.bitDepth, 8);
                EXPECT_EQ(contents.colorType, channels == 4 ? 6 : 2);
                EXPECT_EQ(contents.compression, 0);
                EXPECT_EQ(contents.filterMethod, 0);
                EXPECT_EQ(contents.interlace, 0);
                EXPECT_EQ(contents.pixels, p.packed);
            }
        }
    }
}

TEST(DeflatePngEncoder, EveryWayOfFilteringRoundTrips) {
    for (const DeflateRows rows : {DeflateRows::kNone, DeflateRows::kUp, DeflateRows::kPerRow}) {
        DeflatePngSettings settings;
        settings.fixed = DeflatePngChoice{false, rows, 1};
        settings.zlibUpToBytes = 0;  // small as it is, through libdeflate
        DeflatePngEncoder encoder(settings);
        for (const int channels : {3, 4}) {
            SCOPED_TRACE("rows " + std::to_string(static_cast<int>(rows)) + " channels " +
                         std::to_string(channels));
            const Picture p = MakePicture(33, 17, channels, 5, 3);
            const Bytes png = Encode(encoder, p);
            EXPECT_EQ(DecodeWithLibpng(png, channels), p.packed);
            const test_support::PngContents contents = test_support::InspectPng(png);
            EXPECT_EQ(contents.pixels, p.packed);
            ASSERT_EQ(contents.rowFilters.size(), 17u);
            for (const std::uint8_t filter : contents.rowFilters) {
                if (rows == DeflateRows::kPerRow) {
                    EXPECT_LE(filter, 4);
                } else {
                    EXPECT_EQ(filter, rows == DeflateRows::kUp ? 2 : 0);
                }
            }
        }
    }
}

// Pictures that take several IDAT chunks, in both layouts.
TEST(DeflatePngEncoder, PngcheckAcceptsTheFiles) {
    if (std::system("command -v pngcheck > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "pngcheck is not installed (scripts/install-deps.sh installs it)";
    }
    test_support::TempDir dir;
    DeflatePngEncoder encoder;
    for (const int channels : {3, 4}) {
        // Fine noise: little of it compresses, so the file runs to many chunks.
        Picture p = MakePicture(700, 400, channels, 3);
        for (std::size_t i = 0; i < p.buffer.size(); ++i) {
            p.buffer[i] = static_cast<std::uint8_t>(p.buffer[i] ^ (i * 2654435761u >> 13));
        }
        const Bytes png = Encode(encoder, p);
        EXPECT_GT(test_support::InspectPng(png).chunks.size(), 4u);
        const std::string path = dir.File("noise" + std::to_string(channels) + ".png");
        ASSERT_TRUE(test_support::WriteFile(path, png));
        EXPECT_EQ(std::system(("pngcheck -q " + path + " > /dev/null").c_str()), 0) << path;
    }
}

// Within 3 % of zlib level 9 with filter None, the small pictures exactly
// as zlib writes them.
TEST(DeflatePngEncoder, AtMostThreePercentAboveZlibLevel9WithFilterNone) {
    struct Size {
        int width;
        int height;
    };
    DeflatePngEncoder encoder;
    for (const int channels : {3, 4}) {
        // The smallest pictures, stored uncompressed by libdeflate below some
        // size, and large ones: one tried on bands of rows, one on both of
        // its rows, one on the left part of its few long rows.
        const std::vector<Size> large = {{1200, 800}, {3000, 2}, {120000, 3}};
        std::vector<Size> sizes = large;
        for (int width = 1; width <= 6; ++width) {
            for (int height = 1; height <= 14; ++height) {
                sizes.push_back({width, height});
            }
        }
        for (const Size size : sizes) {
            const Picture photo = MakePicture(size.width, size.height, channels, 0, 7);
            const Picture mapped = Mapped(photo);
            SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) +
                         " channels " + std::to_string(channels));
            for (const Picture* p : {&photo, &mapped}) {
                const Bytes png = Encode(encoder, *p);
                const Bytes zlib = EncodeWithZlib(*p);
                EXPECT_LE(png.size(), zlib.size() + zlib.size() * 3 / 100)
                    << (p == &photo ? "photo" : "mapped");
                if (FilteredImageBytes(size.width, size.height, channels) <=
                    DeflatePngSettings{}.zlibUpToBytes) {
                    EXPECT_EQ(png, zlib);
                }
                if (size.width * size.height > 1000) {
                    EXPECT_EQ(DecodeWithLibpng(png, channels), p->packed);
                }
            }
        }
        // The large mapped pictures go through libdeflate: left to zlib, they
        // would be written as slowly as before.
        for (const Size size : {large[0], large[2]}) {
            Encode(encoder, Mapped(MakePicture(size.width, size.height, channels, 0, 7)));
            EXPECT_FALSE(encoder.LastChoice().zlib) << size.width << "x" << size.height;
        }
    }
}

// When no trial comes close enough to zlib's size on the sample, the
// picture is written exactly as before libdeflate.
TEST(DeflatePngEncoder, APictureNoTrialShrinksIsWrittenByZlibAsBefore) {
    DeflatePngSettings settings;
    for (DeflateTrial& trial : settings.trials) {
        trial.gatePermille.fill(0);
        trial.oneBandGatePermille.fill(0);
    }
    DeflatePngEncoder encoder(settings);
    for (const int channels : {3, 4}) {
        const Picture p = MakePicture(700, 300, channels, 3);
        EXPECT_EQ(Encode(encoder, p), EncodeWithZlib(p));
        EXPECT_TRUE(encoder.LastChoice().zlib);
    }
}

// A small picture's sample is one band, judged by the gates kept for such
// samples; a large picture's by the others.
TEST(DeflatePngEncoder, OneBandAndManyBandSamplesAreJudgedByTheirOwnGates) {
    const Picture small = MakePicture(300, 100, 3, 0);
    const Picture large = MakePicture(1200, 800, 3, 0);
    for (const bool oneBandOnly : {true, false}) {
        DeflatePngSettings settings;
        for (DeflateTrial& trial : settings.trials) {
            (oneBandOnly ? trial.gatePermille : trial.oneBandGatePermille).fill(0);
        }
        DeflatePngEncoder encoder(settings);
        Encode(encoder, small);
        EXPECT_EQ(encoder.LastChoice().zlib, !oneBandOnly);
        Encode(encoder, large);
        EXPECT_EQ(encoder.LastChoice().zlib, oneBandOnly);
    }
}

// A sink refusing at any point ends the encoding with false.
TEST(DeflatePngEncoder, ARefusedWriteFailsTheEncoding) {
    struct LimitedSink {
        std::size_t left;
        static bool Write(void* context, const std::uint8_t*, std::size_t length) {
            auto* sink = static_cast<LimitedSink*>(context);
            if (length > sink->left) {
                return false;
            }
            sink->left -= length;
            return true;
        }
    };
    DeflatePngEncoder encoder;
    const Picture p = MakePicture(300, 200, 4, 0);
    const std::size_t total = Encode(encoder, p).size();
    // Signature, IHDR, the first IDAT's head, its data, the IEND.
    for (const std::size_t limit : {std::size_t{0}, std::size_t{8}, std::size_t{20},
                                    std::size_t{41}, total / 2, total - 12, total - 1}) {
        LimitedSink sink{limit};
        EXPECT_FALSE(encoder.Encode(p.buffer.data(), p.width, p.height, p.rowstride, true,
                                    LimitedSink::Write, &sink))
            << "after " << limit << " of " << total << " bytes";
    }
    LimitedSink sink{total};
    EXPECT_TRUE(encoder.Encode(p.buffer.data(), p.width, p.height, p.rowstride, true,
                               LimitedSink::Write, &sink));
}

// Nothing of one picture's buffers leaks into the next.
TEST(DeflatePngEncoder, AKeptEncoderWritesWhatAFreshOneWrites) {
    const Picture large = MakePicture(400, 300, 4, 0, 1);
    const Picture small = MakePicture(5, 3, 3, 2, 2);
    const Picture wide = MakePicture(901, 7, 3, 0, 3);
    DeflatePngEncoder kept;
    for (const Picture* p : {&large, &small, &wide, &large}) {
        DeflatePngEncoder fresh;
        EXPECT_EQ(Encode(kept, *p), Encode(fresh, *p)) << p->width << "x" << p->height;
    }
}

TEST(DeflatePngEncoder, UnusableArgumentsFail) {
    const Picture p = MakePicture(4, 4, 3, 0);
    Bytes png;
    DeflatePngEncoder encoder;
    EXPECT_FALSE(encoder.Encode(nullptr, 4, 4, p.rowstride, false, Append, &png));
    EXPECT_FALSE(encoder.Encode(p.buffer.data(), 0, 4, p.rowstride, false, Append, &png));
    EXPECT_FALSE(encoder.Encode(p.buffer.data(), 4, 0, p.rowstride, false, Append, &png));
    EXPECT_FALSE(encoder.Encode(p.buffer.data(), 4, 4, p.rowstride - 1, false, Append, &png));
    EXPECT_FALSE(encoder.Encode(p.buffer.data(), 4, 4, p.rowstride, false, nullptr, &png));
    EXPECT_TRUE(png.empty());
    for (const int level : {0, 13}) {
        DeflatePngSettings settings;
        settings.trials[1].level = level;
        DeflatePngEncoder outOfRange(settings);
        EXPECT_FALSE(outOfRange.Valid());
        EXPECT_FALSE(outOfRange.Encode(p.buffer.data(), 4, 4, p.rowstride, false, Append, &png));
    }
}

}  // namespace
}  // namespace corvanta
