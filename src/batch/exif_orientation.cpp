#include "batch/exif_orientation.h"

#include <array>

namespace corvanta {
namespace {

constexpr std::size_t kMarkerBytes = 2;
constexpr std::size_t kSegmentLengthBytes = 2;
// The scan stops this far before the end: no segment that could still hold an
// orientation entry fits into fewer bytes.
constexpr std::size_t kScanTailBytes = 36;
constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kApp1Marker = 0xE1;
constexpr std::array<std::uint8_t, 4> kExifSignature = {'E', 'x', 'i', 'f'};
// Segment length, "Exif" and its two zero bytes: the TIFF header follows.
constexpr std::size_t kApp1HeaderBytes = 8;
constexpr std::size_t kIfdOffsetField = 4;
constexpr std::size_t kIfdCountBytes = 2;
constexpr std::size_t kIfdEntryBytes = 12;
constexpr std::size_t kIfdValueField = 8;
constexpr unsigned kOrientationTag = 0x0112;
constexpr std::uint8_t kIntelOrderByte = 0x49;  // "II"

// Every read goes through this view, which checks the bounds first, so a
// malformed offset or count can only end the search.
class ByteView {
  public:
    ByteView(const std::uint8_t* data, std::size_t length) : data_(data), length_(length) {}

    bool Has(std::size_t pos, std::size_t count) const {
        return pos <= length_ && count <= length_ - pos;
    }
    std::uint8_t At(std::size_t pos) const { return data_[pos]; }

    unsigned U16(std::size_t pos, bool littleEndian) const {
        const unsigned a = data_[pos];
        const unsigned b = data_[pos + 1];
        return littleEndian ? (a | (b << 8)) : ((a << 8) | b);
    }
    std::uint32_t U32(std::size_t pos, bool littleEndian) const {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const std::uint32_t byte = data_[pos + (littleEndian ? 3 - i : i)];
            v = (v << 8) | byte;
        }
        return v;
    }

  private:
    const std::uint8_t* data_;
    std::size_t length_;
};

// Walks IFD0 of the TIFF structure that starts at tiff.
unsigned ReadTiffOrientation(const ByteView& bytes, std::size_t tiff) {
    if (!bytes.Has(tiff, kIfdOffsetField + 4)) {
        return 0;
    }
    const bool littleEndian =
        bytes.At(tiff) == kIntelOrderByte && bytes.At(tiff + 1) == kIntelOrderByte;
    const std::uint32_t ifdOffset = bytes.U32(tiff + kIfdOffsetField, littleEndian);
    if (!bytes.Has(tiff, ifdOffset) || !bytes.Has(tiff + ifdOffset, kIfdCountBytes)) {
        return 0;
    }
    const std::size_t ifd = tiff + ifdOffset;
    const unsigned count = bytes.U16(ifd, littleEndian);
    std::size_t entry = ifd + kIfdCountBytes;
    for (unsigned i = 0; i < count; ++i, entry += kIfdEntryBytes) {
        if (!bytes.Has(entry, kIfdEntryBytes)) {
            return 0;
        }
        if (bytes.U16(entry, littleEndian) == kOrientationTag) {
            return bytes.U16(entry + kIfdValueField, littleEndian);
        }
    }
    return 0;
}

}  // namespace

unsigned ReadExifOrientation(const std::uint8_t* data, std::size_t length) {
    if (data == nullptr || length <= kMarkerBytes + kScanTailBytes) {
        return 0;
    }
    const ByteView bytes(data, length);
    const std::size_t end = length - kScanTailBytes;
    std::size_t p = kMarkerBytes;  // behind the start-of-image marker
    while (p < end) {
        const std::uint8_t prefix = bytes.At(p);
        const std::uint8_t marker = bytes.At(p + 1);
        p += kMarkerBytes;
        if (prefix == kMarkerPrefix && marker == kApp1Marker) {
            // Only the first APP1 counts, whatever it holds.
            if (!bytes.Has(p + kSegmentLengthBytes, kExifSignature.size())) {
                return 0;
            }
            for (std::size_t i = 0; i < kExifSignature.size(); ++i) {
                if (bytes.At(p + kSegmentLengthBytes + i) != kExifSignature[i]) {
                    return 0;
                }
            }
            return ReadTiffOrientation(bytes, p + kApp1HeaderBytes);
        }
        if (prefix != kMarkerPrefix || !bytes.Has(p, kSegmentLengthBytes)) {
            return 0;
        }
        // The length counts its own two bytes, so anything shorter is
        // malformed; stopping here also guarantees the walk moves forward.
        const unsigned segmentLength = bytes.U16(p, false);
        if (segmentLength < kSegmentLengthBytes) {
            return 0;
        }
        p += segmentLength;
    }
    return 0;
}

}  // namespace corvanta
