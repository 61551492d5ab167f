// The preview's sample image: previewSource, its replacement by a dropped
// file and the way back to the built-in picture. Neither changes the scheme.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <memory>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "common/pixbuf_ptr.h"
#include "scheme/gradient_table.h"
#include "ui/drawing_canvas.h"
#include "ui/lifetime.h"

namespace corvanta {

// An RGB picture of an image surface's pixels (CAIRO_FORMAT_RGB24 or
// ARGB32, alpha dropped); null when it cannot be had.
PixbufPtr RgbPixbufFromSurface(cairo_surface_t* surface);

constexpr int kPreviewWidth = 256;
constexpr int kPreviewHeight = 192;
// The photo area between the pattern band and the ramp.
constexpr int kPhotoTop = 25;
constexpr int kPhotoHeight = 142;

// The preview's part of the program: the canvas it shows, the picture it
// maps (previewSource, never mapped itself) and the loads in flight.
struct PreviewState {
    PreviewState() = default;
    PreviewState(const PreviewState&) = delete;
    PreviewState& operator=(const PreviewState&) = delete;

    DrawingCanvas* canvas = nullptr;       // the PreviewCanvas, owned by the window
    const GradientTable* table = nullptr;  // the scheme model's table
    const GdkPixbuf* frame = nullptr;      // 256 x 192 RGB, built into the program
    const GdkPixbuf* defaultPicture = nullptr;
    PixbufPtr source;         // previewSource: 256 x 192 RGB
    unsigned latestLoad = 0;  // number of the newest preview drop
    int pendingLoads = 0;     // preview loads still running on a helper thread
    // Loads finishing after the preview is gone find it over.
    Lifetime<PreviewState> lifetime{this};
};

// Tells screen readers the preview's source: the file at path, or the
// built-in picture when path is empty.
void DescribePreviewSource(PreviewState& preview, const std::string& path);

// Maps previewSource into the PreviewCanvas with the current gradient table.
void RefreshPreview(PreviewState& preview);

// A copy of frame (256 x 192 RGB) with loaded drawn into its photo area:
// centred, turned and mirrored by the EXIF orientation (1 .. 8, others
// leave it as stored), clipped to the photo area; transparent pixels keep
// the checkerboard. Null when frame is not a 256 x 192 RGB image or memory
// runs out. Safe on any thread.
PixbufPtr ComposePreviewSource(const GdkPixbuf* frame, const GdkPixbuf* loaded, int orientation);

// Loads the first dropped path in the background and, once it is read,
// puts it into the preview. A file that no loader reads, a folder or an
// empty list leave the preview as it was. Only the newest drop is shown.
void LoadPreviewImage(PreviewState& preview, const std::vector<std::string>& dropped);

// Puts the built-in sample image back and refreshes the preview.
void RestoreDefaultPreview(PreviewState& preview);

}  // namespace corvanta
