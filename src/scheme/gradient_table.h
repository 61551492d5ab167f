// The gradient table: one colour for each of the 16384 luminance codes,
// rebuilt from the current colour scheme after every change of it.
#pragma once

#include <array>
#include <cstdint>

#include "scheme/color_scheme.h"

namespace corvanta {

constexpr int kGradientEntries = 16384;   // indexed by the 14-bit luminance code
constexpr int kGradientPositions = 2048;  // the gradient axis; slot k sits at 256 * k
constexpr int kSlotSpacing = kGradientPositions / (kSchemeSlots - 1);
// Codes whose position is 2048 (the last ten) carry slot 8 unchanged.
constexpr int kInterpolatedEntries = 16374;

// Entries use the slot layout (red in the low byte). Interpolated entries
// have a zero top byte; the top ten hold slot 8's full 32-bit value.
using GradientTable = std::array<std::uint32_t, kGradientEntries>;

// run[p] = how many consecutive table entries fall on gradient position p.
using PositionRunTable = std::array<std::uint8_t, kGradientPositions>;

// The gradient position of luminance code e: floor(2048 * E(e / 16383) + 0.5)
// with E the sRGB encoding function. Non-decreasing, 0 at 0, 2048 at 16383.
int GradientPosition(int code);

// Built once from GradientPosition; constant afterwards.
const PositionRunTable& GetPositionRunTable();

// Rewrites all entries from scheme (nullptr behaves as nine empty slots).
// The scheme itself is never modified.
void BuildGradientTable(const ColorScheme* scheme, GradientTable& table);

}  // namespace corvanta
