// The scheme editor in the right-hand column: swatch row, palette, the three
// colour fields, the random colour and the preset list. Every change of the
// scheme rebuilds the gradient table first and then refreshes the preview.
#pragma once

#include <cstdint>

#include "app/app_state.h"

namespace corvanta {

// Swatch row geometry: nine 16-pixel swatches at a pitch of 19.
constexpr int kSwatchRowWidth = 168;
constexpr int kSwatchRowHeight = 20;
constexpr int kSwatchPitch = 19;
constexpr int kSwatchSize = 16;

// Palette geometry: ten blocks of 4 x 6 cells and a grey column, 8-pixel cells.
constexpr int kPaletteWidth = 168;
constexpr int kPaletteHeight = 96;
constexpr int kPaletteCell = 8;

constexpr Rgb kPanelBackground{232, 232, 232};
constexpr Rgb kSwatchGrey{176, 176, 176};
constexpr Rgb kSelectedFrame{240, 144, 144};

enum class PointerEventKind { kMotion, kLeave, kLeftClick, kRightClick, kOther };

struct PointerEvent {
    PointerEventKind kind = PointerEventKind::kOther;
    double x = 0;  // in the drawing area's own coordinates
    double y = 0;
};

enum class ColorField { kRed, kGreen, kBlue };

// The slot under pointer x: columns between two swatches belong two to the
// left one and one to the right one.
int SwatchHitSlot(int x);

void DrawSwatchRow(AppState& state);
void OnSwatchRowEvent(AppState& state, const PointerEvent& event);
void DrawPalette(AppState& state);
// A click released at (x, y) on the palette; outside it nothing happens.
void OnPaletteClick(AppState& state, double x, double y);
void ShowSlotComponents(AppState& state);
void OnComponentEdited(AppState& state, ColorField field);
void PickRandomColor(AppState& state);
void FillPresetList(AppState& state);
void ApplySelectedPreset(AppState& state);

// Rebuilds the gradient table and refreshes the preview, in that order.
void SchemeChanged(AppState& state);

// Among 32 candidates from random, the colour whose brightness lies closest
// to the luma position of slot (32 * slot)^2; the earlier one wins a tie.
// Returned without alpha; 0 when no candidate came closer than 65536.
std::uint32_t ChooseRandomColor(int slot, const RandomSource& random);

// A generator seeded from the clock at its first use, one per thread.
RandomSource ClockSeededRandom();

// The spin field widget of a colour component.
GtkWidget* ColorFieldWidget(const AppState& state, ColorField field);

// Writes value into a colour field from the program: the text and the
// spin value change, no change event is raised.
void SetColorFieldSilently(AppState& state, ColorField field, int value);

}  // namespace corvanta
