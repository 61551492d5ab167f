#include "codecs/pixel_pool.h"

#include "codecs/large_buffer.h"

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>

namespace corvanta {
namespace {

// Two spares cover the usual life of one image: the decoded picture and its
// resized copy. Blocks above the retention limit (about 85 megapixels in RGB)
// go straight back to the system rather than sit idle after a rare giant.
constexpr std::size_t kSpareBlocks = 2;
constexpr std::size_t kMaxRetainedBlockBytes = std::size_t{256} << 20;
// Each block starts with its capacity; the pixels follow at this offset,
// which keeps them as aligned as the allocator's own blocks.
constexpr std::size_t kBlockHeaderBytes = 64;
constexpr int kRowAlignment = 4;

std::size_t& BlockCapacity(std::uint8_t* block) {
    return *reinterpret_cast<std::size_t*>(block);
}

void FreeBlock(std::uint8_t* block) {
    if (block != nullptr) {
        FreeLarge(block, kBlockHeaderBytes + BlockCapacity(block));
    }
}

}  // namespace

// Reference-counted by the pool object and by every pixbuf still alive, so
// a pixbuf may outlive the pool that made it.
struct PixelPoolState {
    GMutex mutex;
    bool open;
    std::array<std::uint8_t*, kSpareBlocks> spares;
};

namespace {

void ClearState(gpointer data) {
    auto* state = static_cast<PixelPoolState*>(data);
    for (std::uint8_t*& block : state->spares) {
        FreeBlock(block);
        block = nullptr;
    }
    g_mutex_clear(&state->mutex);
}

// The GdkPixbufDestroyNotify of pooled pixbufs.
void ReturnBlock(guchar* pixels, gpointer data) {
    auto* state = static_cast<PixelPoolState*>(data);
    std::uint8_t* block = pixels - kBlockHeaderBytes;
    const std::size_t capacity = BlockCapacity(block);
    g_mutex_lock(&state->mutex);
    if (state->open && capacity <= kMaxRetainedBlockBytes) {
        // Keep the largest blocks: any request up to their size reuses them.
        std::uint8_t** smallest = &state->spares[0];
        for (std::uint8_t*& spare : state->spares) {
            if (spare == nullptr) {
                smallest = &spare;
                break;
            }
            if (BlockCapacity(spare) < BlockCapacity(*smallest)) {
                smallest = &spare;
            }
        }
        if (*smallest == nullptr || BlockCapacity(*smallest) < capacity) {
            std::swap(*smallest, block);
        }
    }
    g_mutex_unlock(&state->mutex);
    FreeBlock(block);
    g_atomic_rc_box_release_full(state, ClearState);
}

}  // namespace

PixelPool::PixelPool() : state_(g_atomic_rc_box_new0(PixelPoolState)) {
    g_mutex_init(&state_->mutex);
    state_->open = true;
}

PixelPool::~PixelPool() {
    g_mutex_lock(&state_->mutex);
    state_->open = false;
    for (std::uint8_t*& block : state_->spares) {
        FreeBlock(block);
        block = nullptr;
    }
    g_mutex_unlock(&state_->mutex);
    g_atomic_rc_box_release_full(state_, ClearState);
}

GObjectPtr<GdkPixbuf> PixelPool::NewPixbuf(bool hasAlpha, int width, int height) {
    const int channels = hasAlpha ? 4 : 3;
    if (width < 1 || height < 1 || width > (INT_MAX - kRowAlignment) / channels) {
        return nullptr;
    }
    const int rowstride = (width * channels + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    const std::size_t bytes =
        static_cast<std::size_t>(rowstride) * static_cast<std::size_t>(height);

    // Best fit among the spares.
    std::uint8_t* block = nullptr;
    g_mutex_lock(&state_->mutex);
    std::uint8_t** best = nullptr;
    for (std::uint8_t*& spare : state_->spares) {
        if (spare != nullptr && BlockCapacity(spare) >= bytes &&
            (best == nullptr || BlockCapacity(spare) < BlockCapacity(*best))) {
            best = &spare;
        }
    }
    if (best != nullptr) {
        block = std::exchange(*best, nullptr);
    }
    g_mutex_unlock(&state_->mutex);

    if (block == nullptr) {
        block = static_cast<std::uint8_t*>(AllocateLarge(kBlockHeaderBytes + bytes));
        if (block == nullptr) {
            return nullptr;
        }
        BlockCapacity(block) = bytes;
    }
    g_atomic_rc_box_acquire(state_);
    GObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new_from_data(block + kBlockHeaderBytes,
                                                          GDK_COLORSPACE_RGB, hasAlpha, 8, width,
                                                          height, rowstride, ReturnBlock, state_));
    if (pixbuf == nullptr) {
        ReturnBlock(block + kBlockHeaderBytes, state_);
    }
    return pixbuf;
}

void PixelPool::ReleaseSpares() {
    std::array<std::uint8_t*, kSpareBlocks> spares{};
    g_mutex_lock(&state_->mutex);
    std::swap(spares, state_->spares);
    g_mutex_unlock(&state_->mutex);
    for (std::uint8_t* block : spares) {
        FreeBlock(block);
    }
}

std::size_t PixelPool::SpareBytes() const {
    std::size_t total = 0;
    g_mutex_lock(&state_->mutex);
    for (std::uint8_t* spare : state_->spares) {
        if (spare != nullptr) {
            total += BlockCapacity(spare);
        }
    }
    g_mutex_unlock(&state_->mutex);
    return total;
}

}  // namespace corvanta
