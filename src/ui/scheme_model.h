// The scheme being edited, as a model with one way to change it: every
// change (a preset, a swatch click, the palette, the colour fields, Ctrl+R,
// a paste) goes through an operation here that stores the scheme, rebuilds
// the gradient tables once and then tells the views once. The editor's
// rules that decide what a click or a typed text means are plain functions
// below, so that they can be tried without a display.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "scheme/color_scheme.h"
#include "scheme/gradient_table.h"
#include "tone/shared_gradient.h"

namespace corvanta {

// What a change touched, for the views to decide what to redraw.
struct SchemeChange {
    bool scheme = false;     // the colours changed: tables rebuilt
    bool selection = false;  // the selected slot changed
    // The colour fields were typed into: they keep their text as typed.
    bool fromColorFields = false;
};

class SchemeModel {
  public:
    using View = std::function<void(const SchemeModel&, const SchemeChange&)>;

    // Starts with no scheme (all slots empty, tables of the black-to-white
    // ramp), slot 0 selected and the built-in presets.
    SchemeModel();
    SchemeModel(const SchemeModel&) = delete;
    SchemeModel& operator=(const SchemeModel&) = delete;

    const ColorScheme& Scheme() const { return scheme_; }
    int SelectedSlot() const { return selectedSlot_; }
    std::uint32_t SelectedColor() const;
    // The window thread's copy of the gradient table (the preview maps with
    // it) and the table the batch takes a snapshot of for each picture.
    const GradientTable& Table() const { return *table_; }
    const SharedGradientTable& Shared() const { return shared_; }
    PresetTable& Presets() { return presets_; }
    const PresetTable& Presets() const { return presets_; }

    // Views are told in the order they were added.
    void AddView(View view);

    // ---- the changes ----
    void Replace(const ColorScheme& scheme);     // a paste
    void ApplyPreset(int row);                   // a preset list row (out of range: nothing)
    void SelectSlot(int slot);                   // a left click on a swatch
    void ClearSlot(int slot);                    // a right click: select and empty it
    void SetSelectedColor(std::uint32_t color);  // the palette, Ctrl+R
    void SetSelectedComponents(int red, int green, int blue);  // the colour fields
    // Ctrl+N: the current colours into user preset number (1 .. 8); the
    // scheme itself does not change.
    void StoreUserPreset(int number);

  private:
    void Commit(const SchemeChange& change);

    ColorScheme scheme_{};
    int selectedSlot_ = 0;
    PresetTable presets_;
    SharedGradientTable shared_;
    std::unique_ptr<GradientTable> table_;  // 64 KiB: kept off the stack
    std::vector<View> views_;
};

// ---- the editor's rules ---------------------------------------------------------

// Swatch row geometry: nine 16-pixel swatches at a pitch of 19.
constexpr int kSwatchRowWidth = 168;
constexpr int kSwatchRowHeight = 20;
constexpr int kSwatchPitch = 19;
constexpr int kSwatchSize = 16;

// The slot under pointer x: columns between two swatches belong two to the
// left one and one to the right one.
int SwatchHitSlot(int x);
// The slot a click released at (x, y) hits: nothing outside the row.
std::optional<int> SwatchClickSlot(double x, double y);

// Palette geometry: ten blocks of 4 x 6 cells and a grey column, 8-pixel cells.
constexpr int kPaletteWidth = 168;
constexpr int kPaletteHeight = 96;
constexpr int kPaletteCell = 8;

// The colour the palette shows at (x, y), drawing and clicks alike; nothing
// outside it.
std::optional<std::uint32_t> PaletteColorAt(double x, double y);

// What a colour field's text means: its number clamped to 0 .. 255, and the
// text the field must show instead when the typed one lies outside.
struct ColorFieldReading {
    int value = 0;
    std::optional<int> rewrite;
};
ColorFieldReading ReadColorField(std::string_view text);

// Returns a uniform integer in 0 .. 16777215 (a random 24-bit colour).
using RandomSource = std::function<std::uint32_t()>;

// Among 32 candidates from random, the colour whose brightness lies closest
// to the luma position of slot (32 * slot)^2; the earlier one wins a tie.
// Returned without alpha; 0 when no candidate came closer than 65536.
std::uint32_t ChooseRandomColor(int slot, const RandomSource& random);

// A generator seeded from the clock at its first use, one per thread.
RandomSource ClockSeededRandom();

}  // namespace corvanta
