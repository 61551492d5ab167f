// The owning pointer to a picture that every room passes around.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "common/gobject_ptr.h"

namespace corvanta {

using PixbufPtr = GObjectPtr<GdkPixbuf>;

}  // namespace corvanta
