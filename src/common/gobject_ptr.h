// Owning pointers for GObject instances (GdkPixbuf and friends).
#pragma once

#include <memory>

#include <glib-object.h>

namespace corvanta {

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object != nullptr) {
            g_object_unref(object);
        }
    }
};

template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

}  // namespace corvanta
