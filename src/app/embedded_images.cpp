#include "app/embedded_images.h"

#include <gio/gio.h>

extern "C" void corvanta_register_resource(void);

namespace corvanta {

void RegisterEmbeddedImages() {
    // The bundle lives in a static library, where a constructor that
    // registers it could be dropped by the linker: register it by hand.
    static const bool registered = [] {
        corvanta_register_resource();
        return true;
    }();
    (void)registered;
}

PixbufPtr DecodeEmbeddedImage(const char* resourcePath) {
    RegisterEmbeddedImages();
    return PixbufPtr(gdk_pixbuf_new_from_resource(resourcePath, nullptr));
}

bool LoadEmbeddedImages(EmbeddedImages& images) {
    images.defaultPreview = DecodeEmbeddedImage(kDefaultPreviewResource);
    images.previewFrame = DecodeEmbeddedImage(kPreviewFrameResource);
    images.dropHint = DecodeEmbeddedImage(kDropHintResource);
    images.helpIcon = DecodeEmbeddedImage(kHelpIconResource);
    images.infoIcon = DecodeEmbeddedImage(kInfoIconResource);
    images.appIcon = DecodeEmbeddedImage(kAppIconResource);
    if (images.appIcon) {
        images.appIconSmall.reset(gdk_pixbuf_scale_simple(images.appIcon.get(), kAppIconSmallSize,
                                                          kAppIconSmallSize, GDK_INTERP_BILINEAR));
    }
    return images.defaultPreview && images.previewFrame && images.dropHint && images.helpIcon &&
           images.infoIcon && images.appIcon && images.appIconSmall;
}

}  // namespace corvanta
