#include "ui/scheme_model.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>

#include "common/parse_integer.h"

namespace corvanta {
namespace {

// The palette: ten blocks of six red by four blue levels, green rising
// from block to block, and a column of twelve greys on the right.
constexpr int kPaletteBlocks = 10;
constexpr int kPaletteBlocksPerRow = 5;
constexpr int kBlockColumns = 4;  // blue levels
constexpr int kBlockRows = 6;     // red levels
constexpr int kGreyCells = 12;
constexpr int kBlockWidth = kBlockColumns * kPaletteCell;
constexpr int kBlockHeight = kBlockRows * kPaletteCell;
constexpr int kGreyColumn = kBlockWidth * kPaletteBlocksPerRow;

// The random colour: the brightness of a candidate is weighed like the eye
// weighs the channels, on squared components.
constexpr int kRandomCandidates = 32;
constexpr std::uint32_t kRandomColorMask = 0xFFFFFF;
constexpr std::int64_t kNoCandidateYet = 65536;
constexpr int kLumaPerSlot = 32;
constexpr double kRedWeight = 0.23;
constexpr double kGreenWeight = 0.7;
constexpr double kBlueWeight = 0.07;

std::uint8_t Level(int index, int levels) {
    return static_cast<std::uint8_t>(kComponentMax * index / (levels - 1));
}

}  // namespace

SchemeModel::SchemeModel()
    : presets_(MakePresetTable()), table_(std::make_unique<GradientTable>()) {
    shared_.Snapshot(*table_);  // the table of no scheme
}

std::uint32_t SchemeModel::SelectedColor() const {
    return scheme_[static_cast<std::size_t>(selectedSlot_)];
}

void SchemeModel::AddView(View view) {
    views_.push_back(std::move(view));
}

void SchemeModel::Commit(const SchemeChange& change) {
    if (change.scheme) {
        // The batch maps with the shared table; the preview with a copy of
        // the same table, so both always show the same scheme.
        shared_.Rebuild(&scheme_);
        shared_.Snapshot(*table_);
    }
    for (const View& view : views_) {
        view(*this, change);
    }
}

void SchemeModel::Replace(const ColorScheme& scheme) {
    scheme_ = scheme;
    Commit({.scheme = true});
}

void SchemeModel::ApplyPreset(int row) {
    if (row < 0 || row >= kPresetRows) {
        return;
    }
    scheme_ = presets_.rows[static_cast<std::size_t>(row)].slots;
    Commit({.scheme = true});
}

void SchemeModel::SelectSlot(int slot) {
    if (slot < 0 || slot >= kSchemeSlots) {
        return;
    }
    selectedSlot_ = slot;
    Commit({.selection = true});
}

void SchemeModel::ClearSlot(int slot) {
    if (slot < 0 || slot >= kSchemeSlots) {
        return;
    }
    selectedSlot_ = slot;
    scheme_[static_cast<std::size_t>(slot)] = 0;
    Commit({.scheme = true, .selection = true});
}

void SchemeModel::SetSelectedColor(std::uint32_t color) {
    scheme_[static_cast<std::size_t>(selectedSlot_)] = color;
    Commit({.scheme = true});
}

void SchemeModel::SetSelectedComponents(int red, int green, int blue) {
    scheme_[static_cast<std::size_t>(selectedSlot_)] = MakeOpaqueColor(red, green, blue);
    Commit({.scheme = true, .fromColorFields = true});
}

void SchemeModel::StoreUserPreset(int number) {
    if (number < 1 || number > kUserPresetCount) {
        return;
    }
    // The colours only; the name, the list and the current scheme stay.
    presets_.rows[static_cast<std::size_t>(kFirstUserPresetRow - 1 + number)].slots = scheme_;
}

// ---- rules ---------------------------------------------------------------------

int SwatchHitSlot(int x) {
    return (x + 1) / kSwatchPitch;
}

std::optional<int> SwatchClickSlot(double x, double y) {
    if (!(x >= 0 && y >= 0 && x < kSwatchRowWidth && y < kSwatchRowHeight)) {
        return std::nullopt;  // a press on the row released elsewhere hits no slot
    }
    const int slot = SwatchHitSlot(static_cast<int>(std::floor(x)));
    if (slot < 0 || slot >= kSchemeSlots) {
        return std::nullopt;
    }
    return slot;
}

std::optional<std::uint32_t> PaletteColorAt(double x, double y) {
    const int px = static_cast<int>(std::floor(x));
    const int py = static_cast<int>(std::floor(y));
    if (!(x >= 0 && y >= 0) || px >= kPaletteWidth || py >= kPaletteHeight) {
        return std::nullopt;
    }
    if (px >= kGreyColumn) {
        const std::uint8_t grey = Level(py / kPaletteCell, kGreyCells);
        return MakeOpaqueColor(grey, grey, grey);
    }
    const int block = (py / kBlockHeight) * kPaletteBlocksPerRow + px / kBlockWidth;
    const int blue = (px % kBlockWidth) / kPaletteCell;
    const int red = (py % kBlockHeight) / kPaletteCell;
    return MakeOpaqueColor(Level(red, kBlockRows), Level(block, kPaletteBlocks),
                           Level(blue, kBlockColumns));
}

ColorFieldReading ReadColorField(std::string_view text) {
    const std::int64_t typed = ParseInteger(text);
    ColorFieldReading reading;
    reading.value = static_cast<int>(std::clamp<std::int64_t>(typed, 0, kComponentMax));
    if (typed != reading.value) {
        reading.rewrite = reading.value;
    }
    return reading;
}

std::uint32_t ChooseRandomColor(int slot, const RandomSource& random) {
    const std::int64_t target =
        static_cast<std::int64_t>(kLumaPerSlot * slot) * (kLumaPerSlot * slot);
    std::int64_t best = kNoCandidateYet;
    std::uint32_t choice = 0;
    for (int n = 0; n < kRandomCandidates; ++n) {
        const std::uint32_t v = random() & kRandomColorMask;
        const double r = SlotRed(v);
        const double g = SlotGreen(v);
        const double b = SlotBlue(v);
        const std::int64_t luma =
            std::llround(kRedWeight * r * r + kGreenWeight * g * g + kBlueWeight * b * b);
        const std::int64_t d = luma > target ? luma - target : target - luma;
        if (d < best) {
            best = d;
            choice = v;
        }
    }
    return choice;
}

RandomSource ClockSeededRandom() {
    return [] {
        thread_local std::mt19937 generator(static_cast<std::mt19937::result_type>(
            std::chrono::system_clock::now().time_since_epoch().count()));
        std::uniform_int_distribution<std::uint32_t> colors(0, kRandomColorMask);
        return colors(generator);
    };
}

}  // namespace corvanta
