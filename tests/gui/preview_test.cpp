// The preview image: composing a dropped picture into the frame, drops on
// the preview and the way back to the built-in picture.
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include <glib/gstdio.h>
#include <turbojpeg.h>

#include "app/embedded_images.h"
#include "gui_harness.h"
#include "tone/tone_map.h"
#include "ui/preview_image.h"
#include "ui/scheme_editor.h"

namespace corvanta::testing {
namespace {

constexpr Rgb kTopLeft{255, 0, 0};
constexpr Rgb kTopRight{0, 255, 0};
constexpr Rgb kBottomLeft{0, 0, 255};
constexpr Rgb kBottomRight{255, 255, 0};

// A picture of four coloured quarters, so every turn and mirror shows.
PixbufPtr Quarters(int width, int height, bool alpha = false) {
    PixbufPtr image(gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, width, height));
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < height; ++y) {
        guint8* row =
            gdk_pixbuf_get_pixels(image.get()) + y * gdk_pixbuf_get_rowstride(image.get());
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2;
            const bool bottom = y >= height / 2;
            const Rgb c =
                bottom ? (right ? kBottomRight : kBottomLeft) : (right ? kTopRight : kTopLeft);
            guint8* p = row + x * channels;
            p[0] = c.red;
            p[1] = c.green;
            p[2] = c.blue;
            if (alpha) {
                p[3] = 255;
            }
        }
    }
    return image;
}

Rgb PixelOf(const GdkPixbuf* image, int x, int y) {
    const guint8* p = gdk_pixbuf_read_pixels(image) + y * gdk_pixbuf_get_rowstride(image) +
                      x * gdk_pixbuf_get_n_channels(image);
    return {p[0], p[1], p[2]};
}

bool Near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
           std::abs(a.blue - b.blue) <= tolerance;
}

Rgb Checker(int x, int y) {
    const std::uint8_t v = ((x / 8) + (y / 8)) % 2 == 0 ? 216 : 200;
    return {v, v, v};
}

// Every pixel: inside the rectangle the quarters in the given order, in the
// photo area outside it the checkerboard, and the frame rows untouched.
void ExpectComposed(const GdkPixbuf* composed, const GdkPixbuf* frame, int left, int top, int width,
                    int height, const std::array<Rgb, 4>& quarters, int tolerance = 0) {
    for (int y = 0; y < 192; ++y) {
        for (int x = 0; x < 256; ++x) {
            const Rgb got = PixelOf(composed, x, y);
            if (y < kPhotoTop || y >= kPhotoTop + kPhotoHeight) {
                ASSERT_EQ(got, PixelOf(frame, x, y)) << "frame row " << x << "," << y;
                continue;
            }
            const bool inside = x >= left && x < left + width && y >= top && y < top + height;
            if (!inside) {
                ASSERT_EQ(got, Checker(x, y)) << "checkerboard " << x << "," << y;
                continue;
            }
            const bool right = x - left >= width / 2;
            const bool bottom = y - top >= height / 2;
            const Rgb want = quarters[static_cast<std::size_t>((bottom ? 2 : 0) + (right ? 1 : 0))];
            ASSERT_TRUE(Near(got, want, tolerance)) << "picture " << x << "," << y;
        }
    }
}

class ComposeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        frame_ = DecodeEmbeddedImage(kPreviewFrameResource);
        ASSERT_TRUE(frame_);
    }
    PixbufPtr frame_;
};

TEST_F(ComposeTest, PictureSitsCentredOverTheCheckerboard) {
    PixbufPtr picture = Quarters(100, 50);
    PixbufPtr composed = ComposePreviewSource(frame_.get(), picture.get(), 0);
    ASSERT_TRUE(composed);
    EXPECT_FALSE(gdk_pixbuf_get_has_alpha(composed.get()));
    ExpectComposed(composed.get(), frame_.get(), 78, 71, 100, 50,
                   {kTopLeft, kTopRight, kBottomLeft, kBottomRight});
    // An odd width: the left half is rounded towards minus infinity.
    picture = Quarters(255, 10);
    composed = ComposePreviewSource(frame_.get(), picture.get(), 1);
    ExpectComposed(composed.get(), frame_.get(), 0, 91, 255, 10,
                   {kTopLeft, kTopRight, kBottomLeft, kBottomRight});
}

TEST_F(ComposeTest, EveryOrientationTurnsOrMirrorsThePicture) {
    PixbufPtr picture = Quarters(60, 40);
    struct Case {
        int orientation;
        bool turned;
        std::array<Rgb, 4> quarters;  // displayed top-left, top-right, bottom-left, bottom-right
    };
    const Case cases[] = {
        {1, false, {kTopLeft, kTopRight, kBottomLeft, kBottomRight}},
        {2, false, {kTopRight, kTopLeft, kBottomRight, kBottomLeft}},
        {3, false, {kBottomRight, kBottomLeft, kTopRight, kTopLeft}},
        {4, false, {kBottomLeft, kBottomRight, kTopLeft, kTopRight}},
        {5, true, {kTopLeft, kBottomLeft, kTopRight, kBottomRight}},
        {6, true, {kBottomLeft, kTopLeft, kBottomRight, kTopRight}},
        {7, true, {kBottomRight, kTopRight, kBottomLeft, kTopLeft}},
        {8, true, {kTopRight, kBottomRight, kTopLeft, kBottomLeft}},
        {9, false, {kTopLeft, kTopRight, kBottomLeft, kBottomRight}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.orientation);
        PixbufPtr composed = ComposePreviewSource(frame_.get(), picture.get(), c.orientation);
        ASSERT_TRUE(composed);
        if (c.turned) {
            ExpectComposed(composed.get(), frame_.get(), 108, 66, 40, 60, c.quarters);
        } else {
            ExpectComposed(composed.get(), frame_.get(), 98, 76, 60, 40, c.quarters);
        }
    }
}

TEST_F(ComposeTest, TransparentPixelsAndOverhangLeaveTheFrame) {
    PixbufPtr picture = Quarters(256, 192, true);
    // Make the left half fully transparent.
    for (int y = 0; y < 192; ++y) {
        guint8* row =
            gdk_pixbuf_get_pixels(picture.get()) + y * gdk_pixbuf_get_rowstride(picture.get());
        for (int x = 0; x < 128; ++x) {
            row[4 * x + 3] = 0;
        }
    }
    PixbufPtr composed = ComposePreviewSource(frame_.get(), picture.get(), 1);
    ASSERT_TRUE(composed);
    for (int y = 0; y < 192; ++y) {
        for (int x = 0; x < 256; ++x) {
            const Rgb got = PixelOf(composed.get(), x, y);
            if (y < kPhotoTop || y >= kPhotoTop + kPhotoHeight) {
                ASSERT_EQ(got, PixelOf(frame_.get(), x, y))
                    << x << "," << y;  // clipped to the photo area
            } else if (x < 128) {
                ASSERT_EQ(got, Checker(x, y)) << x << "," << y;
            } else {
                ASSERT_EQ(got, y < 96 ? kTopRight : kBottomRight) << x << "," << y;
            }
        }
    }
}

TEST_F(ComposeTest, RefusesWhatIsNotAFrameOrAPicture) {
    PixbufPtr picture = Quarters(10, 10);
    EXPECT_FALSE(ComposePreviewSource(nullptr, picture.get(), 1));
    EXPECT_FALSE(ComposePreviewSource(frame_.get(), nullptr, 1));
    PixbufPtr small = Quarters(100, 100);
    EXPECT_FALSE(ComposePreviewSource(small.get(), picture.get(), 1));
}

// ---- drops on the running window ------------------------------------------

using PreviewDropTest = MainWindowTest;

std::vector<guint8> Pixels(const GdkPixbuf* image) {
    const guint8* p = gdk_pixbuf_read_pixels(image);
    return {p, p + static_cast<std::size_t>(gdk_pixbuf_get_rowstride(image)) *
                       gdk_pixbuf_get_height(image)};
}

void SelectPresetRow(AppState& state, int row) {
    GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
    gtk_tree_selection_select_path(
        gtk_tree_view_get_selection(GTK_TREE_VIEW(state.widgets.presetList)), path);
    gtk_tree_path_free(path);
}

void WaitForPreviewLoads(AppState& state) {
    ASSERT_TRUE(PumpUntil([&] { return state.preview.pendingLoads == 0; }));
}

// A JPEG of the quarters with an EXIF segment carrying orientation.
bool WriteJpeg(const std::string& path, const GdkPixbuf* image, int orientation) {
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int ok = tjCompress2(tj, gdk_pixbuf_read_pixels(image), gdk_pixbuf_get_width(image),
                               gdk_pixbuf_get_rowstride(image), gdk_pixbuf_get_height(image),
                               TJPF_RGB, &jpeg, &size, TJSAMP_444, 95, 0);
    tjDestroy(tj);
    if (ok != 0) {
        return false;
    }
    // APP1: "Exif\0\0", a little-endian TIFF header and one IFD entry.
    const std::vector<guint8> app1 = {0xFF,
                                      0xE1,
                                      0x00,
                                      0x22,
                                      'E',
                                      'x',
                                      'i',
                                      'f',
                                      0,
                                      0,
                                      'I',
                                      'I',
                                      0x2A,
                                      0x00,
                                      0x08,
                                      0x00,
                                      0x00,
                                      0x00,
                                      0x01,
                                      0x00,
                                      0x12,
                                      0x01,
                                      0x03,
                                      0x00,
                                      0x01,
                                      0x00,
                                      0x00,
                                      0x00,
                                      static_cast<guint8>(orientation),
                                      0x00,
                                      0x00,
                                      0x00,
                                      0x00,
                                      0x00,
                                      0x00,
                                      0x00};
    std::vector<guint8> file(jpeg, jpeg + 2);
    file.insert(file.end(), app1.begin(), app1.end());
    file.insert(file.end(), jpeg + 2, jpeg + size);
    tjFree(jpeg);
    return g_file_set_contents(path.c_str(), reinterpret_cast<const gchar*>(file.data()),
                               static_cast<gssize>(file.size()), nullptr);
}

TEST_F(PreviewDropTest, SidewaysJpegIsShownUprightAndFitted) {
    TempDir dir;
    // Stored 284 x 400, to be turned a quarter clockwise: upright it is
    // 400 x 284, which fits the 256 x 142 photo area at 200 x 142.
    PixbufPtr stored = Quarters(284, 400);
    ASSERT_TRUE(WriteJpeg(dir.File("sideways.jpg"), stored.get(), 6));
    const ColorScheme scheme = Scheme();
    LoadPreviewImage(State().preview, {dir.File("sideways.jpg")});
    WaitForPreviewLoads(State());
    const GdkPixbuf* source = State().preview.source.get();
    // Upright: blue top left, red top right, yellow bottom left, green bottom right.
    EXPECT_TRUE(Near(PixelOf(source, 128 - 50, 96 - 35), kBottomLeft, 40));
    EXPECT_TRUE(Near(PixelOf(source, 128 + 50, 96 - 35), kTopLeft, 40));
    EXPECT_TRUE(Near(PixelOf(source, 128 - 50, 96 + 35), kBottomRight, 40));
    EXPECT_TRUE(Near(PixelOf(source, 128 + 50, 96 + 35), kTopRight, 40));
    // It fills the height of the photo area and is about 200 wide, centred.
    EXPECT_FALSE(Near(PixelOf(source, 128, kPhotoTop), Checker(128, kPhotoTop), 2));
    EXPECT_FALSE(Near(PixelOf(source, 128, kPhotoTop + kPhotoHeight - 1), Checker(128, 166), 2));
    EXPECT_EQ(PixelOf(source, 20, 96), Checker(20, 96));
    EXPECT_EQ(PixelOf(source, 235, 96), Checker(235, 96));
    EXPECT_FALSE(Near(PixelOf(source, 32, 96), Checker(32, 96), 2));
    EXPECT_FALSE(Near(PixelOf(source, 223, 96), Checker(223, 96), 2));
    EXPECT_EQ(Scheme(), scheme);  // a drop never changes the scheme
}

TEST_F(PreviewDropTest, SmallPngIsCentredAndTransparencyShowsTheCheckerboard) {
    TempDir dir;
    PixbufPtr picture = Quarters(100, 50, true);
    for (int y = 0; y < 50; ++y) {
        gdk_pixbuf_get_pixels(picture.get())[y * gdk_pixbuf_get_rowstride(picture.get()) + 3] =
            0;  // column 0
    }
    ASSERT_TRUE(
        gdk_pixbuf_save(picture.get(), dir.File("small.png").c_str(), "png", nullptr, nullptr));
    // Three files: only the first one counts.
    ASSERT_TRUE(gdk_pixbuf_save(Quarters(30, 30).get(), dir.File("other.png").c_str(), "png",
                                nullptr, nullptr));
    LoadPreviewImage(State().preview,
                     {dir.File("small.png"), dir.File("other.png"), dir.File("other.png")});
    WaitForPreviewLoads(State());
    const GdkPixbuf* source = State().preview.source.get();
    for (int y = 71; y < 121; ++y) {
        EXPECT_EQ(PixelOf(source, 78, y), Checker(78, y)) << y;  // the transparent column
        EXPECT_EQ(PixelOf(source, 79, y), y < 96 ? kTopLeft : kBottomLeft) << y;
        EXPECT_EQ(PixelOf(source, 177, y), y < 96 ? kTopRight : kBottomRight) << y;
        EXPECT_EQ(PixelOf(source, 178, y), Checker(178, y)) << y;
    }
    EXPECT_EQ(PixelOf(source, 100, 70), Checker(100, 70));
    EXPECT_EQ(PixelOf(source, 100, 121), Checker(100, 121));
    // The canvas shows it mapped like every other pixel.
    GradientTable table{};
    BuildGradientTable(&Scheme(), table);
    PixbufPtr expected(gdk_pixbuf_copy(source));
    ToneMapImage(expected.get(), table);
    EXPECT_EQ(Pixels(expected.get()), Pixels(Widgets().previewCanvas.image.get()));
}

TEST_F(PreviewDropTest, UnreadableDropsChangeNothingAndRightClickRestores) {
    TempDir dir;
    const std::vector<guint8> original = Pixels(State().preview.source.get());
    ASSERT_TRUE(g_file_set_contents(dir.File("notes.txt").c_str(), "not a picture\n", -1, nullptr));
    ASSERT_EQ(g_mkdir(dir.File("folder").c_str(), 0700), 0);
    for (const std::string& path :
         {dir.File("notes.txt"), dir.File("folder"), dir.File("missing.png")}) {
        LoadPreviewImage(State().preview, {path});
        WaitForPreviewLoads(State());
        EXPECT_EQ(Pixels(State().preview.source.get()), original) << path;
    }
    LoadPreviewImage(State().preview, {});
    EXPECT_EQ(State().preview.pendingLoads, 0);

    ASSERT_TRUE(gdk_pixbuf_save(Quarters(40, 40).get(), dir.File("q.png").c_str(), "png", nullptr,
                                nullptr));
    LoadPreviewImage(State().preview, {dir.File("q.png")});
    WaitForPreviewLoads(State());
    EXPECT_NE(Pixels(State().preview.source.get()), original);
    SelectPresetRow(State(), 9);
    const ColorScheme scheme = Scheme();
    RestoreDefaultPreview(State().preview);
    EXPECT_EQ(Pixels(State().preview.source.get()), original);
    EXPECT_EQ(Scheme(), scheme);
}

TEST_F(PreviewDropTest, OnlyTheNewestOfOverlappingDropsIsShown) {
    TempDir dir;
    ASSERT_TRUE(gdk_pixbuf_save(Quarters(40, 40).get(), dir.File("first.png").c_str(), "png",
                                nullptr, nullptr));
    ASSERT_TRUE(gdk_pixbuf_save(Quarters(20, 20).get(), dir.File("second.png").c_str(), "png",
                                nullptr, nullptr));
    LoadPreviewImage(State().preview, {dir.File("first.png")});
    LoadPreviewImage(State().preview, {dir.File("second.png")});
    WaitForPreviewLoads(State());
    const GdkPixbuf* source = State().preview.source.get();
    EXPECT_EQ(PixelOf(source, 128 - 15, 96), Checker(128 - 15, 96));  // 40 wide would reach here
    EXPECT_EQ(PixelOf(source, 128 - 5, 96 - 5), kTopLeft);
}

}  // namespace
}  // namespace corvanta::testing
