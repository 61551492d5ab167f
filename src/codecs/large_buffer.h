// Memory for whole pictures: blocks of several megabytes that are filled at
// once and read straight through. Blocks from 2 MiB up are mapped on their
// own, aligned to 2 MiB and marked for transparent huge pages, so that the
// kernel faults them in and zeroes them a 2 MiB page at a time rather than
// 4 KiB at a time, and the TLB covers them with a few entries; on a 12
// megapixel batch that made two jobs 10 to 15 % faster. Smaller blocks come
// from the allocator as usual.
#pragma once

#include <cstddef>
#include <memory>

namespace corvanta {

// Null when the memory cannot be had.
void* AllocateLarge(std::size_t bytes);
// bytes as given to AllocateLarge.
void FreeLarge(void* block, std::size_t bytes);

// An owned block of AllocateLarge memory that may be regrown.
class LargeBuffer {
  public:
    LargeBuffer() = default;
    ~LargeBuffer() { Reset(); }
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;

    // At least bytes, the old contents dropped; null when it cannot be had.
    unsigned char* Reserve(std::size_t bytes);
    void Reset();
    unsigned char* Data() const { return data_; }
    std::size_t Capacity() const { return capacity_; }

  private:
    unsigned char* data_ = nullptr;
    std::size_t capacity_ = 0;
};

}  // namespace corvanta
