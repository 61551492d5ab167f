#include "codecs/large_buffer.h"

#include <sys/mman.h>

#include <cstdint>

#include <glib.h>

namespace corvanta {
namespace {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

std::size_t MappedBytes(std::size_t bytes) {
    return (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
}

}  // namespace

void* AllocateLarge(std::size_t bytes) {
    if (bytes < kHugePageBytes) {
        return g_try_malloc(bytes);
    }
    const std::size_t mapped = MappedBytes(bytes);
    if (mapped < bytes || mapped + kHugePageBytes < mapped) {
        return nullptr;  // overflow
    }
    // One huge page more than needed, then the unaligned ends cut off.
    void* raw = ::mmap(nullptr, mapped + kHugePageBytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
    if (aligned > start) {
        ::munmap(raw, aligned - start);
    }
    const std::size_t tail = start + mapped + kHugePageBytes - (aligned + mapped);
    if (tail > 0) {
        ::munmap(reinterpret_cast<void*>(aligned + mapped), tail);
    }
    auto* block = reinterpret_cast<void*>(aligned);
    ::madvise(block, mapped, MADV_HUGEPAGE);  // a hint: without it the block still works
    return block;
}

void FreeLarge(void* block, std::size_t bytes) {
    if (block == nullptr) {
        return;
    }
    if (bytes < kHugePageBytes) {
        g_free(block);
        return;
    }
    ::munmap(block, MappedBytes(bytes));
}

unsigned char* LargeBuffer::Reserve(std::size_t bytes) {
    if (capacity_ >= bytes && data_ != nullptr) {
        return data_;
    }
    // Dropped first: the old contents are not needed, so no copy.
    Reset();
    data_ = static_cast<unsigned char*>(AllocateLarge(bytes));
    if (data_ != nullptr) {
        capacity_ = bytes;
    }
    return data_;
}

void LargeBuffer::Reset() {
    FreeLarge(data_, capacity_);
    data_ = nullptr;
    capacity_ = 0;
}

}  // namespace corvanta
