#include "ui/preview_image.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>

#include <cairo.h>

#include "batch/file_conversion.h"
#include "codecs/image_loader.h"
#include "common/i18n.h"
#include "decoder/decoder_process.h"
#include "decoder/input_file.h"
#include "tone/pixbuf_format.h"
#include "tone/preview_render.h"
#include "ui/helper_thread.h"

namespace corvanta {
namespace {

constexpr double kHalfTurn = std::numbers::pi;
constexpr double kQuarterTurn = std::numbers::pi / 2;

struct SurfaceDestroy {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDestroy {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDestroy>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDestroy>;

std::uint32_t* SurfaceRow(cairo_surface_t* surface, int y) {
    return reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(surface) +
                                            static_cast<std::size_t>(y) *
                                                cairo_image_surface_get_stride(surface));
}

// A cairo surface with the pixbuf's pixels: RGB24, or premultiplied ARGB32
// when the pixbuf has alpha.
SurfacePtr SurfaceFromPixbuf(const GdkPixbuf* image) {
    const int w = gdk_pixbuf_get_width(image);
    const int h = gdk_pixbuf_get_height(image);
    const bool alpha = gdk_pixbuf_get_has_alpha(image) != FALSE;
    SurfacePtr surface(
        cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, w, h));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        return nullptr;
    }
    cairo_surface_flush(surface.get());
    const int stride = gdk_pixbuf_get_rowstride(image);
    const int channels = gdk_pixbuf_get_n_channels(image);
    const guint8* pixels = gdk_pixbuf_read_pixels(image);
    for (int y = 0; y < h; ++y) {
        const guint8* p = pixels + static_cast<std::size_t>(y) * stride;
        std::uint32_t* out = SurfaceRow(surface.get(), y);
        for (int x = 0; x < w; ++x, p += channels) {
            const unsigned a = alpha ? p[3] : kMaxAlpha;
            const auto premultiply = [a](unsigned c) { return unsigned{BlendChannel(c, 0, a)}; };
            out[x] = (a << 24) | (premultiply(p[0]) << 16) | (premultiply(p[1]) << 8) |
                     premultiply(p[2]);
        }
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

// Composes the EXIF orientation onto the current transformation; the last
// call acts first on the image.
void ApplyOrientation(cairo_t* cr, int orientation) {
    switch (orientation) {
        case 2:
            cairo_scale(cr, -1, 1);
            break;
        case 3:
            cairo_rotate(cr, kHalfTurn);
            break;
        case 4:
            cairo_scale(cr, 1, -1);
            break;
        case 5:
            cairo_scale(cr, -1, 1);
            cairo_rotate(cr, kQuarterTurn);
            break;
        case 6:
            cairo_rotate(cr, kQuarterTurn);
            break;
        case 7:
            cairo_scale(cr, -1, 1);
            cairo_rotate(cr, -kQuarterTurn);
            break;
        case 8:
            cairo_rotate(cr, -kQuarterTurn);
            break;
        default:
            break;
    }
}

// Half of a size, rounded towards minus infinity once negated.
int NegativeHalf(int size) {
    return -((size + 1) / 2);
}

// Decodes the first dropped file for the preview, fitted into the photo
// area: a JPEG here, anything else in the decoder process, which turns it
// upright itself.
PixbufPtr LoadPreviewPicture(const std::string& path, std::uint8_t* orientation) {
    *orientation = 0;
    const InputFile input = OpenInputFile(path);
    if (!input.Opened()) {
        return nullptr;
    }
    JpegDecoder decoder;  // one per loading thread
    JpegLoad status = JpegLoad::kUndecodable;
    PixbufPtr image = LoadJpegScaled(decoder, input.fd.Get(), input.size, kPreviewWidth,
                                     kPhotoHeight, orientation, &status);
    if (image || status == JpegLoad::kTooLarge || status == JpegLoad::kOutOfMemory ||
        status == JpegLoad::kTooCostly) {
        return image;
    }
    PictureToDecode picture{input.fd.Get(), input.size, FileNamePart(path), kPreviewWidth,
                            kPhotoHeight};
    if (status == JpegLoad::kCostlyHere) {
        picture.decodeWith = decoder::DecodeWith::kTurboJpeg;
    }
    DecodedPicture decoded = DecodeInHelper(picture, DecoderSettings{});
    *orientation = decoded.orientation;
    return std::move(decoded.image);
}

}  // namespace

PixbufPtr RgbPixbufFromSurface(cairo_surface_t* surface) {
    cairo_surface_flush(surface);
    const int w = cairo_image_surface_get_width(surface);
    const int h = cairo_image_surface_get_height(surface);
    PixbufPtr image(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h));
    if (!image) {
        return nullptr;
    }
    const int stride = gdk_pixbuf_get_rowstride(image.get());
    guchar* pixels = gdk_pixbuf_get_pixels(image.get());
    for (int y = 0; y < h; ++y) {
        guchar* p = pixels + static_cast<std::size_t>(y) * stride;
        const std::uint32_t* in = SurfaceRow(surface, y);
        for (int x = 0; x < w; ++x, p += kRgbChannels) {
            p[0] = static_cast<guchar>(in[x] >> 16);
            p[1] = static_cast<guchar>(in[x] >> 8);
            p[2] = static_cast<guchar>(in[x]);
        }
    }
    return image;
}

void RefreshPreview(PreviewState& preview) {
    if (preview.canvas == nullptr || preview.table == nullptr) {
        return;
    }
    if (RenderPreview(preview.canvas->image.get(), preview.source.get(), *preview.table)) {
        ShowCanvas(*preview.canvas);
    }
}

PixbufPtr ComposePreviewSource(const GdkPixbuf* frame, const GdkPixbuf* loaded, int orientation) {
    if (!IsRgb8(frame) || gdk_pixbuf_get_has_alpha(frame) ||
        gdk_pixbuf_get_width(frame) != kPreviewWidth ||
        gdk_pixbuf_get_height(frame) != kPreviewHeight || !IsRgb8(loaded)) {
        return nullptr;
    }
    SurfacePtr target = SurfaceFromPixbuf(frame);
    SurfacePtr picture = SurfaceFromPixbuf(loaded);
    if (!target || !picture) {
        return nullptr;
    }
    ContextPtr cr(cairo_create(target.get()));
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) {
        return nullptr;
    }
    cairo_rectangle(cr.get(), 0, kPhotoTop, kPreviewWidth, kPhotoHeight);
    cairo_clip(cr.get());
    cairo_translate(cr.get(), kPreviewWidth / 2, kPreviewHeight / 2);
    ApplyOrientation(cr.get(), orientation);
    cairo_set_source_surface(cr.get(), picture.get(), NegativeHalf(gdk_pixbuf_get_width(loaded)),
                             NegativeHalf(gdk_pixbuf_get_height(loaded)));
    // Quarter turns land pixel centres on pixel centres; nearest sampling
    // keeps them exact instead of blurring by rounding noise.
    cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_NEAREST);
    cairo_paint(cr.get());
    cr.reset();
    return RgbPixbufFromSurface(target.get());
}

// Screen readers hear which picture the preview shows.
void DescribePreviewSource(PreviewState& preview, const std::string& path) {
    if (preview.canvas == nullptr || preview.canvas->area == nullptr) {
        return;
    }
    gchar* text = nullptr;
    if (path.empty()) {
        text = g_strdup(_("Shows the built-in picture through the scheme"));
    } else {
        gchar* name = g_filename_display_basename(path.c_str());
        text = g_strdup_printf(_("Shows %s through the scheme"), name);
        g_free(name);
    }
    atk_object_set_description(gtk_widget_get_accessible(preview.canvas->area), text);
    g_free(text);
}

void LoadPreviewImage(PreviewState& preview, const std::vector<std::string>& dropped) {
    if (dropped.empty() || preview.frame == nullptr) {
        return;
    }
    const unsigned number = ++preview.latestLoad;
    PixbufPtr frame(GDK_PIXBUF(g_object_ref(const_cast<GdkPixbuf*>(preview.frame))));
    // Reading a file can take long (a huge picture, a slow disk): the window
    // thread only waits for the finished picture.
    auto load = [path = dropped.front(), frame = std::move(frame)] {
        std::uint8_t orientation = 0;
        PixbufPtr picture = LoadPreviewPicture(path, &orientation);
        PixbufPtr composed;  // stays null when no loader read the file
        if (picture) {
            composed = ComposePreviewSource(frame.get(), picture.get(), orientation);
        }
        return composed;
    };
    auto show = [number, path = dropped.front()](PreviewState& owner, PixbufPtr composed) {
        --owner.pendingLoads;
        if (composed && number == owner.latestLoad) {
            owner.source = std::move(composed);
            DescribePreviewSource(owner, path);
        }
        RefreshPreview(owner);
    };
    if (!RunOnHelperThread(preview.lifetime.Watch(), "preview-load", std::move(load),
                           std::move(show))) {
        return;  // no thread to be had: the preview stays as it is
    }
    ++preview.pendingLoads;
}

void RestoreDefaultPreview(PreviewState& preview) {
    if (preview.defaultPicture != nullptr) {
        preview.source.reset(gdk_pixbuf_copy(preview.defaultPicture));
        DescribePreviewSource(preview, {});
    }
    RefreshPreview(preview);
}

}  // namespace corvanta
