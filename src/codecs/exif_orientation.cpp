#include "codecs/exif_orientation.h"

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
constexpr unsigned kExtraSamplesTag = 0x0152;
constexpr std::uint8_t kIntelOrderByte = 0x49;     // "II"
constexpr std::uint8_t kMotorolaOrderByte = 0x4D;  // "MM"
constexpr unsigned kTiffMagic = 42;
constexpr std::size_t kTiffHeaderBytes = 8;
constexpr std::size_t kPngSignatureBytes = 8;
constexpr std::size_t kPngChunkHeadBytes = 8;  // length and type
constexpr std::size_t kPngChunkCrcBytes = 4;

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

// The entries of the directory at ifd, up to the first that is cut off.
TiffDirectory ReadDirectory(const ByteView& bytes, std::size_t ifd, bool littleEndian) {
    TiffDirectory directory;
    if (!bytes.Has(ifd, kIfdCountBytes)) {
        return directory;
    }
    const unsigned count = bytes.U16(ifd, littleEndian);
    std::size_t entry = ifd + kIfdCountBytes;
    bool oriented = false;  // the first Orientation entry counts
    for (unsigned i = 0; i < count && bytes.Has(entry, kIfdEntryBytes);
         ++i, entry += kIfdEntryBytes) {
        const unsigned tag = bytes.U16(entry, littleEndian);
        if (tag == kOrientationTag && !oriented) {
            directory.orientation = bytes.U16(entry + kIfdValueField, littleEndian);
            oriented = true;
        } else if (tag == kExtraSamplesTag) {
            directory.extraSamples = true;
        }
    }
    return directory;
}

// A TIFF file must say so; EXIF data is read as it always was, by its first
// byte alone.
std::optional<TiffHeader> ReadHeader(const ByteView& bytes, std::size_t tiff, bool strict) {
    if (!bytes.Has(tiff, kTiffHeaderBytes)) {
        return std::nullopt;
    }
    const std::uint8_t order = bytes.At(tiff);
    TiffHeader header;
    header.littleEndian = order == kIntelOrderByte && bytes.At(tiff + 1) == kIntelOrderByte;
    if (strict &&
        ((order != kIntelOrderByte && order != kMotorolaOrderByte) || bytes.At(tiff + 1) != order ||
         bytes.U16(tiff + 2, header.littleEndian) != kTiffMagic)) {
        return std::nullopt;
    }
    header.firstDirectory = bytes.U32(tiff + kIfdOffsetField, header.littleEndian);
    return header;
}

// Walks IFD0 of the TIFF structure that starts at tiff.
unsigned ReadTiffOrientation(const ByteView& bytes, std::size_t tiff) {
    const std::optional<TiffHeader> header = ReadHeader(bytes, tiff, false);
    if (!header || !bytes.Has(tiff, header->firstDirectory)) {
        return 0;
    }
    return ReadDirectory(bytes, tiff + header->firstDirectory, header->littleEndian).orientation;
}

}  // namespace

std::optional<TiffHeader> ReadTiffHeader(const std::uint8_t* data, std::size_t length) {
    return data == nullptr ? std::nullopt : ReadHeader(ByteView(data, length), 0, true);
}

TiffDirectory ReadTiffDirectory(const std::uint8_t* data, std::size_t length, bool littleEndian) {
    return data == nullptr ? TiffDirectory{}
                           : ReadDirectory(ByteView(data, length), 0, littleEndian);
}

unsigned ReadPngOrientation(const std::uint8_t* data, std::size_t length) {
    if (data == nullptr) {
        return 0;
    }
    const ByteView bytes(data, length);
    std::size_t chunk = kPngSignatureBytes;
    while (bytes.Has(chunk, kPngChunkHeadBytes)) {
        const std::uint32_t size = bytes.U32(chunk, false);
        const std::size_t body = chunk + kPngChunkHeadBytes;
        const auto is = [&](const char* type) {
            for (std::size_t i = 0; i < 4; ++i) {
                if (bytes.At(chunk + 4 + i) != static_cast<std::uint8_t>(type[i])) {
                    return false;
                }
            }
            return true;
        };
        if (is("IDAT") || !bytes.Has(body, size)) {
            return 0;  // eXIf comes before the pixels
        }
        if (is("eXIf")) {
            return ReadTiffOrientation(ByteView(data + body, size), 0);
        }
        chunk = body + size + kPngChunkCrcBytes;
    }
    return 0;
}

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
