#include "ui/help_text.h"

#include "common/i18n.h"

namespace corvanta {

// clang-format off
const char* const kHelpText = N_(R"help(

Corvanta is a small utility to apply a color scheme to images based on the luma value of each pixel.


Overview
========
The interface consists of three parts. The upper left part is the drop area for image files. The bottom left is where you control the output settings. Finally, the right part is where you select or compose the color scheme.


Drop area
=========
This is the part where you drop your image files. You can drag and drop a single image, folder with images, or a selection of multiple image files. Image processing will start immediately after you drop the image files provided you have already selected the output folder.

JPEG images are written as JPEG files; all other supported images types (like PNG, BMP, TIFF) are all written as 24 or 32 bit PNG files. If an image with the same name already exists in the output folder, an attempt will be made to save it with a date suffix in its name.


Output settings
===============
This is the part where you control the output settings. You must select an output folder before dropping image files to the drop area. With the max width and height settings you can scale down input images. The quality control for JPEG images gives you the choice to choose for better quality or smaller files.


Color settings
==============
At the top of this area you have a small preview to immediately reflect any changes you make to the color scheme. If you wish you can drop an image file to preview with another image. With a right-click you go back to the original preview image.

You can select a scheme from the preset list or create your own. Each scheme consist of maximum 9 colors which are visible at the bottom of this area. You can click on them to select one so you can change the color. If you already have set one of the colors but prefer to clear it, right-click on it. If you are feeling uninspired when choosing colors, you can press [ctrl] + [R] to let Corvanta pick a color for you. To store a scheme you compose in one of the eight user presets, press [ctrl] + [1] to [8].)help");
// clang-format on

}  // namespace corvanta
