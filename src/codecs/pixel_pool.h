// Large pixel blocks kept between images, so that a batch of photographs
// does not fault in and zero fresh pages for every picture.
#pragma once

#include <cstddef>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "common/gobject_ptr.h"

namespace corvanta {

struct PixelPoolState;

// Hands out 8-bit RGB(A) pixbufs whose pixels live in pooled blocks. When such
// a pixbuf is finalised (on any thread, even after the pool is gone) its block
// goes back to the pool, which keeps the few largest blocks for the next
// image. Blocks are reused as they are, not cleared.
class PixelPool {
  public:
    PixelPool();
    ~PixelPool();
    PixelPool(const PixelPool&) = delete;
    PixelPool& operator=(const PixelPool&) = delete;

    // A pixbuf with the rowstride gdk_pixbuf_new would choose, or null when
    // the size is not positive or the memory cannot be had. Its pixels are
    // uninitialised.
    GObjectPtr<GdkPixbuf> NewPixbuf(bool hasAlpha, int width, int height);

    // Gives every spare block back to the system.
    void ReleaseSpares();

    // Bytes held in spare blocks right now (for tests and benchmarks).
    std::size_t SpareBytes() const;

  private:
    PixelPoolState* state_;
};

}  // namespace corvanta
