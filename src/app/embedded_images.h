// The PNG images built into the program as a GResource bundle: six, and
// three of them again for screens of two device pixels to a pixel.
#pragma once

#include "app/app_state.h"

namespace corvanta {

// Resource paths inside the bundle.
inline constexpr const char* kDefaultPreviewResource = "/org/corvanta/images/default_preview.png";
inline constexpr const char* kPreviewFrameResource = "/org/corvanta/images/preview_frame.png";
inline constexpr const char* kDropHintResource = "/org/corvanta/images/drop_hint.png";
inline constexpr const char* kHelpIconResource = "/org/corvanta/images/help_icon.png";
inline constexpr const char* kInfoIconResource = "/org/corvanta/images/info_icon.png";
inline constexpr const char* kAppIconResource = "/org/corvanta/images/app_icon.png";
inline constexpr const char* kDropHintFineResource = "/org/corvanta/images/drop_hint@2x.png";
inline constexpr const char* kHelpIconFineResource = "/org/corvanta/images/help_icon@2x.png";
inline constexpr const char* kInfoIconFineResource = "/org/corvanta/images/info_icon@2x.png";

constexpr int kAppIconSmallSize = 96;

// Makes the bundle known to GResource (once; later calls do nothing).
void RegisterEmbeddedImages();

// Registers the bundle and decodes one image of it; null on failure.
PixbufPtr DecodeEmbeddedImage(const char* resourcePath);

// Decodes all of them and makes the 96 x 96 copy of the program icon.
// Returns false if any image is missing or cannot be decoded.
bool LoadEmbeddedImages(EmbeddedImages& images);

}  // namespace corvanta
