#include "codecs/exif_orientation.h"

#include <gtest/gtest.h>

#include "support/test_images.h"

namespace corvanta {
namespace {

using test_support::ByteOrder;
using test_support::Bytes;
using test_support::InsertAfterSoi;
using test_support::MakeExifSegment;

const Bytes& SmallJpeg() {
    static const Bytes jpeg = test_support::MakeJpeg(16, 16);
    return jpeg;
}

// Reads from an exact-size heap copy, so that AddressSanitizer sees any read
// past the end.
unsigned Orientation(const Bytes& bytes, std::size_t length) {
    Bytes copy(bytes.begin(), bytes.begin() + static_cast<long>(length));
    return ReadExifOrientation(copy.data(), copy.size());
}
unsigned Orientation(const Bytes& bytes) {
    return Orientation(bytes, bytes.size());
}

TEST(ReadExifOrientation, ReadsBothByteOrders) {
    for (const ByteOrder order : {ByteOrder::kIntel, ByteOrder::kMotorola}) {
        for (unsigned value = 1; value <= 8; ++value) {
            EXPECT_EQ(Orientation(InsertAfterSoi(SmallJpeg(), MakeExifSegment(value, order))),
                      value)
                << "order " << static_cast<int>(order);
        }
    }
}

TEST(ReadExifOrientation, SkipsSegmentsBeforeTheExifOne) {
    // TurboJPEG writes a JFIF APP0 first; EXIF placed behind it is found.
    const Bytes& jpeg = SmallJpeg();
    const long app0 = test_support::FindSegment(jpeg, 0xE0);
    ASSERT_EQ(app0, 2);
    const std::size_t app0End = 2 + 2 + ((std::size_t{jpeg[4]} << 8) | jpeg[5]);
    Bytes withExif(jpeg.begin(), jpeg.begin() + static_cast<long>(app0End));
    const Bytes exif = MakeExifSegment(6, ByteOrder::kMotorola);
    withExif.insert(withExif.end(), exif.begin(), exif.end());
    withExif.insert(withExif.end(), jpeg.begin() + static_cast<long>(app0End), jpeg.end());
    EXPECT_EQ(Orientation(withExif), 6u);
}

TEST(ReadExifOrientation, OnlyTheFirstApp1Counts) {
    const Bytes xmp = test_support::MakeApp1Segment("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>");
    const Bytes jpeg =
        InsertAfterSoi(InsertAfterSoi(SmallJpeg(), MakeExifSegment(6, ByteOrder::kIntel)), xmp);
    EXPECT_EQ(Orientation(jpeg), 0u);
    EXPECT_EQ(Orientation(SmallJpeg()), 0u);  // no APP1 at all
}

TEST(ReadExifOrientation, NoOrientationEntryGivesZero) {
    Bytes exif = MakeExifSegment(6, ByteOrder::kIntel);
    // Segment header 4, "Exif\0\0" 6, TIFF header 8, count 2, first entry 12:
    // the second entry's tag starts at 32. Make it another tag.
    exif[32] = 0x13;
    EXPECT_EQ(Orientation(InsertAfterSoi(SmallJpeg(), exif)), 0u);
}

TEST(ReadExifOrientation, OffsetsAndCountsOutsideTheDataEndTheSearch) {
    constexpr std::size_t kTiff = 2 + 4 + 6;  // SOI, APP1 header, "Exif\0\0"
    const Bytes intel = InsertAfterSoi(SmallJpeg(), MakeExifSegment(6, ByteOrder::kIntel));
    const Bytes motorola = InsertAfterSoi(SmallJpeg(), MakeExifSegment(6, ByteOrder::kMotorola));

    for (const std::uint32_t offset : {0xFFFFFFFFu, 0xFFFFFFF0u, 0x80000000u, 0x00010000u}) {
        Bytes bad = intel;
        for (int i = 0; i < 4; ++i) {
            bad[kTiff + 4 + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(offset >> (8 * i));
        }
        EXPECT_EQ(Orientation(bad), 0u) << std::hex << offset;
    }
    // An IFD offset that leaves exactly the count readable at the very end.
    Bytes atEnd = intel;
    const std::uint32_t lastTwo = static_cast<std::uint32_t>(atEnd.size() - kTiff - 2);
    for (int i = 0; i < 4; ++i) {
        atEnd[kTiff + 4 + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(lastTwo >> (8 * i));
    }
    atEnd[atEnd.size() - 2] = 0xFF;
    atEnd[atEnd.size() - 1] = 0xFF;
    EXPECT_EQ(Orientation(atEnd), 0u);

    // An entry count far beyond the data, with no orientation entry in reach.
    Bytes manyEntries = motorola;
    manyEntries[kTiff + 8] = 0xFF;
    manyEntries[kTiff + 9] = 0xFF;
    manyEntries[kTiff + 10 + 12] = 0x00;  // second entry no longer Orientation
    EXPECT_EQ(Orientation(manyEntries), 0u);

    // Every truncation of a valid file stays inside its buffer.
    for (std::size_t length = 0; length <= intel.size(); ++length) {
        Orientation(intel, length);
        Orientation(manyEntries, length);
    }
}

TEST(ReadExifOrientation, SegmentLengthsBelowTwoStopTheWalk) {
    for (const std::uint8_t length : {0, 1}) {
        Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, length};
        // Filler made of markers, so a walk that did not stop would keep going.
        while (jpeg.size() < 400) {
            jpeg.insert(jpeg.end(), {0xFF, 0xE0, 0x00, length});
        }
        EXPECT_EQ(Orientation(jpeg), 0u);
    }
}

TEST(ReadExifOrientation, ShortOrMissingDataGivesZero) {
    EXPECT_EQ(ReadExifOrientation(nullptr, 100), 0u);
    const Bytes jpeg = InsertAfterSoi(SmallJpeg(), MakeExifSegment(6, ByteOrder::kIntel));
    EXPECT_EQ(Orientation(jpeg, 38), 0u);
    EXPECT_EQ(Orientation(jpeg, 0), 0u);
}

}  // namespace
}  // namespace corvanta
