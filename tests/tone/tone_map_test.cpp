#include "tone/tone_map.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "tone/luma_weights.h"

namespace corvanta {
namespace {

GradientTable TableFor(const ColorScheme* scheme) {
    GradientTable table{};
    BuildGradientTable(scheme, table);
    return table;
}

TEST(LumaWeightTable, MatchesTheReferenceRows) {
    const LumaWeightTable& w = GetLumaWeightTable();
    const struct {
        int v, red, green, blue;
    } rows[] = {{0, 0, 0, 0},
                {1, 4, 14, 1},
                {2, 8, 28, 3},
                {10, 42, 142, 14},
                {11, 47, 157, 16},
                {50, 444, 1495, 151},
                {128, 3008, 10116, 1021},
                {200, 8049, 27069, 2732},
                {254, 13812, 46449, 4688},
                {255, 13936, 46866, 4730}};
    for (const auto& r : rows) {
        const auto v = static_cast<std::size_t>(r.v);
        EXPECT_EQ(w.red[v], r.red) << "v " << r.v;
        EXPECT_EQ(w.green[v], r.green) << "v " << r.v;
        EXPECT_EQ(w.blue[v], r.blue) << "v " << r.v;
    }
    EXPECT_EQ(w.red[255] + w.green[255] + w.blue[255], 65532);
}

TEST(LuminanceCode, ReferenceColours) {
    EXPECT_EQ(LuminanceCode(0, 0, 0), 0u);
    EXPECT_EQ(LuminanceCode(255, 255, 255), 16383u);
    EXPECT_EQ(LuminanceCode(255, 255, 254), 16373u);
    EXPECT_EQ(LuminanceCode(255, 0, 0), 3484u);
    EXPECT_EQ(LuminanceCode(0, 255, 0), 11717u);
    EXPECT_EQ(LuminanceCode(0, 0, 255), 1183u);
    EXPECT_EQ(LuminanceCode(128, 128, 128), 3536u);
    EXPECT_EQ(LuminanceCode(1, 1, 1), 5u);
    EXPECT_EQ(GradientPosition(3484), 1021);
    EXPECT_EQ(GradientPosition(11717), 1766);
    EXPECT_EQ(GradientPosition(1183), 610);
    EXPECT_EQ(GradientPosition(3536), 1028);
}

TEST(ToneMapBuffer, GrayAndTheEmptySchemeKeepEveryGreyAndGreyColours) {
    const ColorScheme empty{};
    const ColorScheme gray = MakePresetTable().rows[0].slots;
    for (const ColorScheme* scheme : {&empty, &gray}) {
        const GradientTable table = TableFor(scheme);
        std::vector<std::uint8_t> row(256 * 3);
        for (int v = 0; v < 256; ++v) {
            row[static_cast<std::size_t>(3 * v)] = row[static_cast<std::size_t>(3 * v + 1)] =
                row[static_cast<std::size_t>(3 * v + 2)] = static_cast<std::uint8_t>(v);
        }
        ToneMapBuffer(row.data(), static_cast<int>(row.size()), 1, PixelLayout::kRgb, table);
        for (int v = 0; v < 256; ++v) {
            for (int c = 0; c < 3; ++c) {
                ASSERT_EQ(row[static_cast<std::size_t>(3 * v + c)], v) << "grey " << v;
            }
        }
        std::uint8_t red[3] = {255, 0, 0};
        ToneMapBuffer(red, 3, 1, PixelLayout::kRgb, table);
        EXPECT_EQ(red[0], 127);
        EXPECT_EQ(red[1], 127);
        EXPECT_EQ(red[2], 127);
    }
}

TEST(ToneMapBuffer, ExtremesTakeTheEndSlotsColourBytes) {
    ColorScheme scheme{};
    scheme[0] = 0xFF102030;
    scheme[8] = 0x90405060;  // alpha is not written into pixels
    const GradientTable table = TableFor(&scheme);
    std::uint8_t px[12] = {0, 0, 0, 255, 255, 255, 255, 255, 254, 9, 9, 9};
    ToneMapBuffer(px, 9, 1, PixelLayout::kRgb, table);
    EXPECT_EQ(px[0], 0x30);
    EXPECT_EQ(px[1], 0x20);
    EXPECT_EQ(px[2], 0x10);
    EXPECT_EQ(px[3], 0x60);
    EXPECT_EQ(px[4], 0x50);
    EXPECT_EQ(px[5], 0x40);
    const std::uint32_t last = table[16373];  // (255,255,254) is the last interpolated entry
    EXPECT_EQ(px[6], last & 0xFF);
    EXPECT_EQ(px[7], (last >> 8) & 0xFF);
    EXPECT_EQ(px[8], (last >> 16) & 0xFF);
    EXPECT_EQ(px[9], 9);  // beyond the pitch: untouched
}

TEST(ToneMapBuffer, RgbaKeepsAlphaAndMapsTransparentPixels) {
    const ColorScheme inverted = MakePresetTable().rows[11].slots;
    const GradientTable table = TableFor(&inverted);
    std::uint8_t px[2 * 8] = {0,   0,   0,   0,   255, 255, 255, 7,  // row 0
                              128, 128, 128, 255, 10,  20,  30,  128};
    ToneMapBuffer(px, 8, 2, PixelLayout::kRgba, table);
    EXPECT_EQ(px[0], 255);  // fully transparent black is recoloured too
    EXPECT_EQ(px[3], 0);
    EXPECT_EQ(px[4], 0);
    EXPECT_EQ(px[7], 7);
    EXPECT_EQ(px[8], 255 - 128);
    EXPECT_EQ(px[11], 255);
    EXPECT_EQ(px[15], 128);
}

TEST(ToneMapBuffer, WalksWholePixelStepsOfThePitch) {
    const GradientTable table = TableFor(nullptr);
    // A 1-pixel-wide RGB image with a 4-byte-aligned pitch of 4: one pixel per row.
    std::uint8_t narrow[8] = {255, 0, 0, 77, 0, 255, 0, 66};
    ToneMapBuffer(narrow, 4, 2, PixelLayout::kRgb, table);
    EXPECT_EQ(narrow[0], 127);
    EXPECT_EQ(narrow[3], 77);
    EXPECT_EQ(narrow[7], 66);
    // Width 3 with pitch 12 leaves three spare bytes, which are mapped like a pixel.
    std::uint8_t spare[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0};
    ToneMapBuffer(spare, 12, 1, PixelLayout::kRgb, table);
    EXPECT_EQ(spare[9], 127);
    EXPECT_EQ(spare[10], 127);
    EXPECT_EQ(spare[11], 127);
    // Too small a pitch or no rows: nothing is touched.
    std::uint8_t untouched[4] = {255, 0, 0, 0};
    ToneMapBuffer(untouched, 2, 1, PixelLayout::kRgb, table);
    ToneMapBuffer(untouched, 3, 0, PixelLayout::kRgb, table);
    ToneMapBuffer(untouched, 3, 1, PixelLayout::kRgba, table);
    EXPECT_EQ(untouched[0], 255);
}

TEST(ToneMapImage, MapsPixbufsOfBothLayoutsAndIgnoresMissingImages) {
    const GradientTable table = TableFor(nullptr);
    ToneMapImage(nullptr, table);  // must not crash

    GdkPixbuf* rgb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 1, 1);
    ASSERT_NE(rgb, nullptr);
    gdk_pixbuf_fill(rgb, 0xFF0000FF);
    ToneMapImage(rgb, table);
    const guchar* p = gdk_pixbuf_get_pixels(rgb);
    EXPECT_EQ(p[0], 127);
    EXPECT_EQ(p[1], 127);
    EXPECT_EQ(p[2], 127);
    g_object_unref(rgb);

    GdkPixbuf* rgba = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 3, 2);
    ASSERT_NE(rgba, nullptr);
    gdk_pixbuf_fill(rgba, 0x00FF0042);
    ToneMapImage(rgba, table);
    const guchar* q = gdk_pixbuf_get_pixels(rgba);
    const int stride = gdk_pixbuf_get_rowstride(rgba);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            const guchar* px = q + y * stride + 4 * x;
            EXPECT_EQ(px[3], 0x42);
            EXPECT_EQ(px[0], px[1]);  // green became its grey
            EXPECT_NE(px[1], 255);
        }
    }
    g_object_unref(rgba);
}

TEST(ToneMapImage, NeverWalksPastAnUnpaddedLastRow) {
    const GradientTable table = TableFor(nullptr);
    // Width 3, rowstride 12, but the buffer ends right after the last pixel of
    // the last row: the spare-pixel step must not reach beyond it.
    std::vector<guchar> data(12 + 9, 255);
    GdkPixbuf* image = gdk_pixbuf_new_from_data(data.data(), GDK_COLORSPACE_RGB, FALSE, 8, 3, 2, 12,
                                                nullptr, nullptr);
    ASSERT_NE(image, nullptr);
    ToneMapImage(image, table);  // AddressSanitizer reports any overrun of data
    EXPECT_EQ(data[20], 255);
    g_object_unref(image);
}

}  // namespace
}  // namespace corvanta
