// The images built into the program: sizes, layouts and the computed parts.
#include <gtest/gtest.h>

#include "app/embedded_images.h"

namespace corvanta {
namespace {

struct Expected {
    const char* path;
    int width;
    int height;
    bool alpha;
};

int Grey(const GdkPixbuf* image, int x, int y) {
    const guint8* p = gdk_pixbuf_read_pixels(image) + y * gdk_pixbuf_get_rowstride(image) +
                      x * gdk_pixbuf_get_n_channels(image);
    EXPECT_EQ(p[0], p[1]);
    EXPECT_EQ(p[1], p[2]);
    return p[0];
}

int BandValue(int x, int y) {
    const int k = x / 2;
    const int base = k % 2 == 0 ? k : 255 - k;
    return y % 2 == 1 ? base : 255 - base;
}

TEST(EmbeddedImages, EveryImageDecodesAtItsSizeAndLayout) {
    const Expected all[] = {
        {kDefaultPreviewResource, 256, 192, false}, {kPreviewFrameResource, 256, 192, false},
        {kDropHintResource, 319, 25, true},         {kHelpIconResource, 24, 24, true},
        {kInfoIconResource, 24, 24, true},          {kAppIconResource, 192, 192, true}};
    for (const Expected& e : all) {
        PixbufPtr image = DecodeEmbeddedImage(e.path);
        ASSERT_TRUE(image) << e.path;
        EXPECT_EQ(gdk_pixbuf_get_width(image.get()), e.width) << e.path;
        EXPECT_EQ(gdk_pixbuf_get_height(image.get()), e.height) << e.path;
        EXPECT_EQ(gdk_pixbuf_get_has_alpha(image.get()) != FALSE, e.alpha) << e.path;
        EXPECT_EQ(gdk_pixbuf_get_bits_per_sample(image.get()), 8) << e.path;
    }
    EmbeddedImages images;
    ASSERT_TRUE(LoadEmbeddedImages(images));
    EXPECT_EQ(gdk_pixbuf_get_width(images.appIconSmall.get()), 96);
    EXPECT_EQ(gdk_pixbuf_get_height(images.appIconSmall.get()), 96);
    EXPECT_FALSE(DecodeEmbeddedImage("/org/corvanta/images/missing.png"));
}

TEST(EmbeddedImages, TheIconIsAPaletteImageAndTheOthersAreDirectColour) {
    RegisterEmbeddedImages();
    gsize size = 0;
    GBytes* bytes =
        g_resources_lookup_data(kAppIconResource, G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
    ASSERT_NE(bytes, nullptr);
    const auto* png = static_cast<const guint8*>(g_bytes_get_data(bytes, &size));
    ASSERT_GT(size, 26u);
    EXPECT_EQ(png[24], 8);  // IHDR bit depth
    EXPECT_EQ(png[25], 3);  // IHDR colour type 3: palette
    g_bytes_unref(bytes);
    for (const char* path : {kDefaultPreviewResource, kPreviewFrameResource}) {
        bytes = g_resources_lookup_data(path, G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
        ASSERT_NE(bytes, nullptr);
        png = static_cast<const guint8*>(g_bytes_get_data(bytes, &size));
        EXPECT_EQ(png[25], 2) << path;  // 8-bit RGB
        g_bytes_unref(bytes);
    }
}

TEST(EmbeddedImages, FrameBandAndRampFollowTheirFormulas) {
    PixbufPtr frame = DecodeEmbeddedImage(kPreviewFrameResource);
    PixbufPtr preview = DecodeEmbeddedImage(kDefaultPreviewResource);
    ASSERT_TRUE(frame && preview);
    int darkest = 255;
    int brightest = 0;
    for (int y = 0; y < 192; ++y) {
        for (int x = 0; x < 256; ++x) {
            int want = -1;
            if (y == 0 || y == 24 || y == 167 || y == 191) {
                want = 0;
            } else if (y <= 23) {
                want = BandValue(x, y);
            } else if (y >= 168) {
                want = x;
            }
            const int f = Grey(frame.get(), x, y);
            const int p = Grey(preview.get(), x, y);
            if (want >= 0) {
                ASSERT_EQ(f, want) << "frame " << x << "," << y;
                ASSERT_EQ(p, want) << "preview " << x << "," << y;
            } else {
                ASSERT_EQ(f, ((x / 8) + (y / 8)) % 2 == 0 ? 216 : 200)
                    << "checkerboard " << x << "," << y;
                darkest = std::min(darkest, p);
                brightest = std::max(brightest, p);
            }
        }
    }
    // The photo area is a photograph with the full range of tones.
    EXPECT_EQ(darkest, 0);
    EXPECT_EQ(brightest, 255);
}

TEST(EmbeddedImages, IconsAndHintAreGreyOnTransparent) {
    PixbufPtr hint = DecodeEmbeddedImage(kDropHintResource);
    ASSERT_TRUE(hint);
    int opaque = 0;
    for (int y = 0; y < 25; ++y) {
        for (int x = 0; x < 319; ++x) {
            const guint8* p = gdk_pixbuf_read_pixels(hint.get()) +
                              y * gdk_pixbuf_get_rowstride(hint.get()) + 4 * x;
            if (p[3] != 0) {
                EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << x << "," << y;
                ++opaque;
            }
        }
    }
    EXPECT_GT(opaque, 500);
    EXPECT_LT(opaque, 319 * 25 / 2);
    PixbufPtr help = DecodeEmbeddedImage(kHelpIconResource);
    const guint8* corner = gdk_pixbuf_read_pixels(help.get());
    EXPECT_EQ(corner[3], 0);  // the disc leaves the corners transparent
}

}  // namespace
}  // namespace corvanta
