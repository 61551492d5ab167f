#include "batch/output_writer.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "codecs/exif_orientation.h"
#include "codecs/image_loader.h"
#include "decoder/input_file.h"
#include "support/test_images.h"

namespace corvanta {
namespace {

using test_support::Bytes;
using test_support::ListFolder;
using test_support::ReadFile;

// TurboJPEG's own output for the image, with a buffer it allocates itself.
Bytes ReferenceJpeg(const GdkPixbuf* image, int quality, int flags) {
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(handle, gdk_pixbuf_read_pixels(image), gdk_pixbuf_get_width(image),
                          gdk_pixbuf_get_rowstride(image), gdk_pixbuf_get_height(image),
                          gdk_pixbuf_get_has_alpha(image) ? TJPF_RGBA : TJPF_RGB, &jpeg, &size,
                          TJSAMP_444, quality, flags),
              0);
    Bytes out(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);
    return out;
}

Bytes Rows(const GdkPixbuf* image) {
    const std::size_t rowBytes =
        static_cast<std::size_t>(gdk_pixbuf_get_width(image)) * gdk_pixbuf_get_n_channels(image);
    const guint8* pixels = gdk_pixbuf_read_pixels(image);
    Bytes rows;
    for (int y = 0; y < gdk_pixbuf_get_height(image); ++y) {
        const guint8* row = pixels + static_cast<std::size_t>(y) * gdk_pixbuf_get_rowstride(image);
        rows.insert(rows.end(), row, row + rowBytes);
    }
    return rows;
}

bool IsDatedName(const std::string& name, const std::string& stem, const std::string& suffix) {
    constexpr std::size_t kDigits = 14;
    if (name.size() != stem.size() + 1 + kDigits + suffix.size() ||
        name.rfind(stem + "_", 0) != 0 || name.substr(name.size() - suffix.size()) != suffix) {
        return false;
    }
    const std::string digits = name.substr(stem.size() + 1, kDigits);
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

class OutputWriter : public ::testing::Test {
  protected:
    std::string Out(const std::string& name) const { return dir_.Path() + "/" + name; }

    test_support::TempDir dir_;
    JpegEncoder encoder_;
    DeflatePngEncoder png_;
    GObjectPtr<GdkPixbuf> rgb_ = test_support::MakePixbuf(203, 151, false);
    GObjectPtr<GdkPixbuf> rgba_ = test_support::MakePixbuf(97, 61, true);
};

TEST_F(OutputWriter, JpegIsTurboJpegOutputWithTheDctChosenByQuality) {
    const struct {
        int quality;
        int expectedQuality;
        int flags;
    } cases[] = {{95, 95, TJFLAG_ACCURATEDCT},
                 {81, 81, TJFLAG_ACCURATEDCT},
                 {80, 80, TJFLAG_FASTDCT},
                 {0, 1, TJFLAG_FASTDCT},
                 {150, 100, TJFLAG_ACCURATEDCT}};
    for (const auto& c : cases) {
        const std::string name = "q" + std::to_string(c.quality) + ".jpg";
        ASSERT_TRUE(WriteJpegOutput(encoder_, rgb_.get(), Out(name), c.quality, 0));
        EXPECT_EQ(ReadFile(Out(name)), ReferenceJpeg(rgb_.get(), c.expectedQuality, c.flags))
            << "quality " << c.quality;
    }
    // The two DCTs really give different files, so the comparison above tells.
    EXPECT_NE(ReferenceJpeg(rgb_.get(), 80, TJFLAG_FASTDCT),
              ReferenceJpeg(rgb_.get(), 80, TJFLAG_ACCURATEDCT));

    const Bytes written = ReadFile(Out("q80.jpg"));
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsampling = -1, colorspace = 0;
    EXPECT_EQ(tjDecompressHeader3(handle, written.data(), written.size(), &width, &height,
                                  &subsampling, &colorspace),
              0);
    tjDestroy(handle);
    EXPECT_EQ(subsampling, TJSAMP_444);
}

TEST_F(OutputWriter, OrientationAddsExactlyTheExifBlockBehindApp0) {
    ASSERT_TRUE(WriteJpegOutput(encoder_, rgb_.get(), Out("turned.jpg"), 95, 6));
    const Bytes plain = ReferenceJpeg(rgb_.get(), 95, TJFLAG_ACCURATEDCT);
    ASSERT_EQ(test_support::FindSegment(plain, 0xE0), 2);
    const std::size_t split = 4 + ((std::size_t{plain[4]} << 8) | plain[5]);
    const Bytes block = {0xFF, 0xE1, 0x00, 0x22, 0x45, 0x78, 0x69, 0x66, 0x00, 0x00, 0x49, 0x49,
                         0x2A, 0x00, 0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x12, 0x01, 0x03, 0x00,
                         0x01, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    Bytes expected(plain.begin(), plain.begin() + static_cast<long>(split));
    expected.insert(expected.end(), block.begin(), block.end());
    expected.insert(expected.end(), plain.begin() + static_cast<long>(split), plain.end());
    const Bytes written = ReadFile(Out("turned.jpg"));
    EXPECT_EQ(written, expected);

    // And the loader reads it back.
    JpegDecoder decoder;
    std::uint8_t orientation = 0;
    EXPECT_NE(LoadJpegFile(decoder, Out("turned.jpg"), 0, 0, &orientation), nullptr);
    EXPECT_EQ(orientation, 6);
}

TEST_F(OutputWriter, SecondWriteOfANameGetsTheDateSuffix) {
    ASSERT_TRUE(WriteJpegOutput(encoder_, rgb_.get(), Out("a.jpg"), 80, 0));
    ASSERT_TRUE(WriteJpegOutput(encoder_, rgb_.get(), Out("a.jpg"), 80, 0));
    const std::vector<std::string> names = ListFolder(dir_.Path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "a.jpg");
    EXPECT_TRUE(IsDatedName(names[1], "a", ".jpg")) << names[1];
    EXPECT_EQ(ReadFile(Out(names[1])), ReadFile(Out("a.jpg")));
}

TEST_F(OutputWriter, AnEmptyFileAtTheNameIsOverwritten) {
    ASSERT_TRUE(test_support::WriteFile(Out("a.jpg"), Bytes{}));
    ASSERT_TRUE(WriteJpegOutput(encoder_, rgb_.get(), Out("a.jpg"), 95, 0));
    EXPECT_EQ(ListFolder(dir_.Path()), std::vector<std::string>{"a.jpg"});
    EXPECT_EQ(ReadFile(Out("a.jpg")), ReferenceJpeg(rgb_.get(), 95, TJFLAG_ACCURATEDCT));
}

TEST_F(OutputWriter, SymbolicLinksAreNeverWrittenThrough) {
    test_support::TempDir elsewhere;
    ASSERT_TRUE(test_support::WriteFile(elsewhere.File("empty.png"), Bytes{}));
    ASSERT_EQ(::symlink(elsewhere.File("empty.png").c_str(), Out("a.png").c_str()), 0);
    ASSERT_EQ(::symlink(elsewhere.File("missing.jpg").c_str(), Out("b.jpg").c_str()), 0);

    EXPECT_TRUE(WritePngOutput(png_, rgb_.get(), Out("a.png")));
    EXPECT_TRUE(WriteJpegOutput(encoder_, rgb_.get(), Out("b.jpg"), 95, 0));
    EXPECT_EQ(ListFolder(elsewhere.Path()), std::vector<std::string>{"empty.png"});
    EXPECT_EQ(test_support::FileSize(elsewhere.File("empty.png")), 0);
    const std::vector<std::string> names = ListFolder(dir_.Path());
    ASSERT_EQ(names.size(), 4u);
    EXPECT_TRUE(IsDatedName(names[1], "a", ".png")) << names[1];
    EXPECT_TRUE(IsDatedName(names[3], "b", ".jpg")) << names[3];
}

TEST_F(OutputWriter, AFolderAtTheNameCountsAsTaken) {
    ASSERT_EQ(::mkdir(Out("a.jpg").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(Out("b.png").c_str(), 0700), 0);
    std::string jpeg;
    std::string png;
    EXPECT_TRUE(WriteJpegOutput(encoder_, rgb_.get(), Out("a.jpg"), 95, 0, &jpeg));
    EXPECT_TRUE(WritePngOutput(png_, rgb_.get(), Out("b.png"), &png));
    EXPECT_EQ(ListFolder(dir_.Path()).size(), 4u);
    EXPECT_NE(jpeg, Out("a.jpg"));
    EXPECT_NE(png, Out("b.png"));
    EXPECT_TRUE(ListFolder(Out("a.jpg")).empty());
}

TEST_F(OutputWriter, PngIsRgbOrRgbaWithTheImagesPixels) {
    ASSERT_TRUE(WritePngOutput(png_, rgb_.get(), Out("b.gif")));
    ASSERT_TRUE(WritePngOutput(png_, rgba_.get(), Out("c.PNG")));
    EXPECT_EQ(ListFolder(dir_.Path()), (std::vector<std::string>{"b_gif.png", "c.PNG"}));

    const test_support::PngContents rgb = test_support::InspectPng(ReadFile(Out("b_gif.png")));
    EXPECT_TRUE(rgb.ok);
    EXPECT_EQ(rgb.chunks, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    EXPECT_EQ(rgb.colorType, 2);
    EXPECT_EQ(rgb.bitDepth, 8);
    EXPECT_EQ(rgb.interlace, 0);
    EXPECT_EQ(rgb.width, 203u);
    EXPECT_EQ(rgb.height, 151u);
    EXPECT_EQ(rgb.pixels, Rows(rgb_.get()));

    const test_support::PngContents rgba = test_support::InspectPng(ReadFile(Out("c.PNG")));
    EXPECT_TRUE(rgba.ok);
    EXPECT_EQ(rgba.colorType, 6);
    EXPECT_EQ(rgba.pixels, Rows(rgba_.get()));  // alpha samples unchanged
}

TEST_F(OutputWriter, UnwritableFoldersAndMissingImagesFail) {
    // /proc refuses new files even to root.
    EXPECT_FALSE(WriteJpegOutput(encoder_, rgb_.get(), "/proc/self/out.jpg", 95, 0));
    EXPECT_FALSE(WritePngOutput(png_, rgb_.get(), "/proc/self/out.png"));
    EXPECT_FALSE(WritePngOutput(png_, rgb_.get(), dir_.Path() + "/no/such/folder/a.png"));
    if (::geteuid() != 0) {
        const std::string locked = Out("locked");
        ASSERT_EQ(::mkdir(locked.c_str(), 0500), 0);
        EXPECT_FALSE(WriteJpegOutput(encoder_, rgb_.get(), locked + "/a.jpg", 95, 0));
        EXPECT_FALSE(WritePngOutput(png_, rgb_.get(), locked + "/a.png"));
    }
    EXPECT_FALSE(WriteJpegOutput(encoder_, nullptr, Out("a.jpg"), 95, 0));
    EXPECT_FALSE(WritePngOutput(png_, nullptr, Out("a.png")));
    const std::vector<std::string> expected =
        ::geteuid() != 0 ? std::vector<std::string>{"locked"} : std::vector<std::string>{};
    EXPECT_EQ(ListFolder(dir_.Path()), expected);
}

// A write that the file system cuts short must not leave a damaged file.
TEST_F(OutputWriter, FailedWritesLeaveNoFile) {
    GObjectPtr<GdkPixbuf> big = test_support::MakePixbuf(600, 400, false);
    bool jpeg = true;
    bool png = true;
    {
        const test_support::ScopedFileSizeLimit limit(4096);
        ASSERT_TRUE(limit.Active());
        jpeg = WriteJpegOutput(encoder_, big.get(), Out("a.jpg"), 95, 6);
        png = WritePngOutput(png_, big.get(), Out("b.png"));
    }
    EXPECT_FALSE(jpeg);
    EXPECT_FALSE(png);
    EXPECT_TRUE(ListFolder(dir_.Path()).empty());
}

TEST_F(OutputWriter, TheInputFileIsNeverModified) {
    // Output folder and input folder are the same, so the candidate is the input.
    const Bytes jpeg = test_support::MakeJpeg(160, 120);
    const Bytes png = test_support::MakePng(80, 60, true);
    ASSERT_TRUE(test_support::WriteFile(Out("photo.jpg"), jpeg));
    ASSERT_TRUE(test_support::WriteFile(Out("drawing.png"), png));
    JpegDecoder decoder;
    std::uint8_t orientation = 0;
    PixbufPtr photo = LoadJpegFile(decoder, Out("photo.jpg"), 0, 0, &orientation);
    PixbufPtr drawing = test_support::DecodeFile(Out("drawing.png"), 0, 0);
    ASSERT_NE(photo, nullptr);
    ASSERT_NE(drawing, nullptr);
    EXPECT_TRUE(WriteJpegOutput(encoder_, photo.get(), Out("photo.jpg"), 95, orientation));
    EXPECT_TRUE(WritePngOutput(png_, drawing.get(), Out("drawing.png")));
    EXPECT_EQ(ReadFile(Out("photo.jpg")), jpeg);
    EXPECT_EQ(ReadFile(Out("drawing.png")), png);
    EXPECT_EQ(ListFolder(dir_.Path()).size(), 4u);
}

TEST_F(OutputWriter, ConcurrentWritersOfOneNameEachGetTheirOwnFile) {
    constexpr int kThreads = 6;
    std::atomic<int> ready{0};
    std::atomic<int> successes{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            ++ready;
            while (ready.load() < kThreads) {
                std::this_thread::yield();
            }
            DeflatePngEncoder own;  // one per thread, as each job has its own
            if (WritePngOutput(own, rgba_.get(), Out("same.png"))) {
                ++successes;
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    const std::vector<std::string> names = ListFolder(dir_.Path());
    EXPECT_GE(successes.load(), 2);
    EXPECT_EQ(names.size(), static_cast<std::size_t>(successes.load()));
    for (const std::string& name : names) {
        const test_support::PngContents contents = test_support::InspectPng(ReadFile(Out(name)));
        EXPECT_TRUE(contents.ok) << name;
        EXPECT_EQ(contents.pixels, Rows(rgba_.get())) << name;
    }
}

}  // namespace
}  // namespace corvanta
