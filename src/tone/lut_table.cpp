#include "tone/lut_table.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

#include "scheme/gradient_table.h"
#include "tone/luma_weights.h"
#include "tone/tone_map.h"

namespace corvanta {
namespace {

constexpr int kMaxLevel = kColorLevels - 1;
constexpr std::size_t kColorCount = std::size_t{kColorLevels} * kColorLevels * kColorLevels;
constexpr double kEightBitStep = 1.0 / kMaxLevel;
constexpr double kPercentile = 0.99;

double LevelToUnit(int level) {
    return level / static_cast<double>(kMaxLevel);
}

// The bounded solve stops once no value moves by more than this (a fifteenth
// of a 16-bit step) or after kMaxFineSweeps. Sizes up to 129 settle in 15 to
// 25 sweeps. Close to 256 most colours sit nearly halfway between two grid
// points, where values alternating up and down hardly change the blend: the
// sweeps then go on trading such patterns long after the errors in 8-bit
// levels have stopped moving (size 255 measures the same after 5 sweeps as
// after 200).
constexpr double kFineTolerance = 1e-6;
constexpr int kMaxFineSweeps = 30;
// The 8-bit pass moves whole levels and ends when none moves.
constexpr int kMaxEightBitSweeps = 50;

bool ValidSize(int size) {
    return size >= kLutMinSize && size <= kLutMaxSize;
}

LutTable ZeroTable(int size) {
    LutTable lut;
    lut.size = size;
    const auto points = static_cast<std::size_t>(size) * size * size;
    for (auto& channel : lut.channels) {
        channel.assign(points, 0.0f);
    }
    return lut;
}

// ---- Where a colour falls on an axis -------------------------------------

// Colour c lies c (size - 1) / 255 grid steps along the axis. Cell and
// fraction are formed from integers, so a colour on a grid point gets
// fraction 0 exactly; 255 takes the last cell with fraction 1, so that a cell
// index never reaches size - 1.
struct AxisPosition {
    int cell = 0;
    double fraction = 0.0;
};

AxisPosition PositionOnAxis(int value, int size) {
    const int scaled = value * (size - 1);
    AxisPosition position{scaled / kMaxLevel, static_cast<double>(scaled % kMaxLevel) / kMaxLevel};
    if (position.cell == size - 1) {
        position.cell = size - 2;
        position.fraction = 1.0;
    }
    return position;
}

using AxisPositions = std::array<AxisPosition, kColorLevels>;

// ---- The separable least-squares pieces ------------------------------------

// Along one axis the blend is the hat-function matrix W (256 x size, two
// non-zeros a row). Over the product of all colours the fit's normal matrix
// is B (x) B (x) B with B = W^T W, which is tridiagonal, so the unbounded
// least-squares table is B^-1 W^T applied along red, green and blue in turn.
class AxisOperator {
  public:
    explicit AxisOperator(int size) : size_(size) {
        const auto n = static_cast<std::size_t>(size);
        bands_.assign(n, {0.0, 0.0, 0.0});
        for (int c = 0; c < kColorLevels; ++c) {
            const AxisPosition p = PositionOnAxis(c, size);
            positions_[static_cast<std::size_t>(c)] = p;
            const auto j = static_cast<std::size_t>(p.cell);
            const double lower = 1.0 - p.fraction;
            bands_[j][1] += lower * lower;
            bands_[j + 1][1] += p.fraction * p.fraction;
            bands_[j][2] += lower * p.fraction;
            bands_[j + 1][0] += lower * p.fraction;
        }
        // Thomas factors of B. B is positive definite: at every size up to
        // 256 each grid point has a colour within one grid step.
        pivot_.assign(n, 0.0);
        factor_.assign(n, 0.0);
        pivot_[0] = bands_[0][1];
        for (std::size_t j = 1; j < n; ++j) {
            factor_[j] = bands_[j - 1][2] / pivot_[j - 1];
            pivot_[j] = bands_[j][1] - factor_[j] * bands_[j - 1][2];
        }
    }

    int Size() const { return size_; }
    const AxisPositions& Positions() const { return positions_; }
    // B[j][j - 1], B[j][j], B[j][j + 1]; zero beyond the ends.
    const std::array<double, 3>& Bands(int j) const { return bands_[static_cast<std::size_t>(j)]; }

    // W^T along this axis: 256 rows of `inner` contiguous values in, size
    // rows out.
    void ApplyTransposedBasis(const double* in, double* out, std::size_t inner) const {
        std::fill(out, out + static_cast<std::size_t>(size_) * inner, 0.0);
        for (int c = 0; c < kColorLevels; ++c) {
            const AxisPosition& p = positions_[static_cast<std::size_t>(c)];
            const double lowerWeight = 1.0 - p.fraction;
            const double* row = in + static_cast<std::size_t>(c) * inner;
            double* lower = out + static_cast<std::size_t>(p.cell) * inner;
            double* upper = lower + inner;
            for (std::size_t x = 0; x < inner; ++x) {
                lower[x] += lowerWeight * row[x];
                upper[x] += p.fraction * row[x];
            }
        }
    }

    // B^-1 in place on size rows of `inner` contiguous values, all columns at once.
    void SolveGram(double* rows, std::size_t inner) const {
        const auto n = static_cast<std::size_t>(size_);
        for (std::size_t j = 1; j < n; ++j) {
            double* row = rows + j * inner;
            const double* previous = row - inner;
            for (std::size_t x = 0; x < inner; ++x) {
                row[x] -= factor_[j] * previous[x];
            }
        }
        for (std::size_t j = n; j-- > 0;) {
            double* row = rows + j * inner;
            const double inverse = 1.0 / pivot_[j];
            const double upper = bands_[j][2];
            const double* next = j + 1 < n ? row + inner : nullptr;
            for (std::size_t x = 0; x < inner; ++x) {
                row[x] = (row[x] - (next != nullptr ? upper * next[x] : 0.0)) * inverse;
            }
        }
    }

  private:
    int size_;
    AxisPositions positions_{};
    std::vector<std::array<double, 3>> bands_;
    std::vector<double> pivot_;
    std::vector<double> factor_;
};

// (W^T (x) W^T (x) W^T) f for one output channel, f the map in 0..1: the
// right-hand side of the normal equations. Walks the map one blue plane at
// a time, so the result is the only large array.
void ProjectChannel(const ExactColorMap& map, const AxisOperator& axis, int channel,
                    std::vector<double>& out) {
    const auto n = static_cast<std::size_t>(axis.Size());
    out.assign(n * n * n, 0.0);
    std::vector<double> alongRed(kColorLevels * n);  // [g][i] of one blue plane
    std::vector<double> alongGreen(n * n);           // [j][i]
    const AxisPositions& positions = axis.Positions();
    for (int b = 0; b < kColorLevels; ++b) {
        std::fill(alongRed.begin(), alongRed.end(), 0.0);
        for (int g = 0; g < kColorLevels; ++g) {
            const std::uint8_t* line = map.At(0, g, b) + channel;
            double* row = &alongRed[static_cast<std::size_t>(g) * n];
            for (int r = 0; r < kColorLevels; ++r) {
                const AxisPosition& p = positions[static_cast<std::size_t>(r)];
                const double value = LevelToUnit(line[kLutChannels * r]);
                row[p.cell] += (1.0 - p.fraction) * value;
                row[p.cell + 1] += p.fraction * value;
            }
        }
        axis.ApplyTransposedBasis(alongRed.data(), alongGreen.data(), n);
        const AxisPosition& p = positions[static_cast<std::size_t>(b)];
        double* lower = &out[static_cast<std::size_t>(p.cell) * n * n];
        double* upper = lower + n * n;
        for (std::size_t x = 0; x < n * n; ++x) {
            lower[x] += (1.0 - p.fraction) * alongGreen[x];
            upper[x] += p.fraction * alongGreen[x];
        }
    }
}

// (B (x) B (x) B)^-1 in place: a tridiagonal solve along red, green, blue.
void SolveGram3(const AxisOperator& axis, std::vector<double>& grid) {
    const auto n = static_cast<std::size_t>(axis.Size());
    for (std::size_t line = 0; line < n * n; ++line) {
        axis.SolveGram(&grid[line * n], 1);
    }
    for (std::size_t plane = 0; plane < n; ++plane) {
        axis.SolveGram(&grid[plane * n * n], n);
    }
    axis.SolveGram(grid.data(), n * n);
}

// ---- The bounded solve -----------------------------------------------------

// Row (r, g, b) of B (x) B (x) B applied to the values, and its diagonal
// entry. A grid point shares cells with its 26 neighbours only.
struct RowProduct {
    double product = 0.0;
    double centre = 0.0;
};

RowProduct HessianRow(const AxisOperator& axis, int r, int g, int b, const float* values) {
    const int size = axis.Size();
    const auto n = static_cast<std::size_t>(size);
    const auto& br = axis.Bands(r);
    const auto& bg = axis.Bands(g);
    const auto& bb = axis.Bands(b);
    const int r0 = std::max(r - 1, 0);
    const int r1 = std::min(r + 1, size - 1);
    double product = 0.0;
    for (int db = std::max(b - 1, 0); db <= std::min(b + 1, size - 1); ++db) {
        double plane = 0.0;
        for (int dg = std::max(g - 1, 0); dg <= std::min(g + 1, size - 1); ++dg) {
            const float* line =
                values + (static_cast<std::size_t>(db) * n + static_cast<std::size_t>(dg)) * n;
            double sum = 0.0;
            for (int dr = r0; dr <= r1; ++dr) {
                sum += br[static_cast<std::size_t>(dr - r + 1)] * line[dr];
            }
            plane += bg[static_cast<std::size_t>(dg - g + 1)] * sum;
        }
        product += bb[static_cast<std::size_t>(db - b + 1)] * plane;
    }
    return {product, br[1] * bg[1] * bb[1]};
}

// Minimises |A t - f|^2 within 0..1 by projected Gauss-Seidel: each value in
// turn becomes the minimiser over itself alone, clamped. With step > 0 that
// minimiser is first rounded to a multiple of step, which for a single value
// is the best multiple, so the same descent works over 8-bit values. Only
// points next to one that moved by more than tolerance are visited again.
void ProjectedGaussSeidel(const AxisOperator& axis, const std::vector<double>& rhs,
                          std::vector<float>& values, double step, double tolerance, int maxSweeps,
                          const std::atomic<bool>& stop) {
    const int size = axis.Size();
    const auto n = static_cast<std::size_t>(size);
    std::vector<std::uint8_t> pending(n * n * n, 1);
    bool anyPending = true;
    for (int sweep = 0; anyPending && sweep < maxSweeps && !stop.load(); ++sweep) {
        anyPending = false;
        std::size_t node = 0;
        for (int b = 0; b < size; ++b) {
            for (int g = 0; g < size; ++g) {
                for (int r = 0; r < size; ++r, ++node) {
                    if (pending[node] == 0) {
                        continue;
                    }
                    pending[node] = 0;
                    const RowProduct row = HessianRow(axis, r, g, b, values.data());
                    double best = values[node] + (rhs[node] - row.product) / row.centre;
                    if (step > 0.0) {
                        best = std::round(best / step) * step;
                    }
                    best = std::clamp(best, 0.0, 1.0);
                    const double change = std::abs(best - values[node]);
                    values[node] = static_cast<float>(best);
                    if (change <= tolerance) {
                        continue;
                    }
                    for (int db = std::max(b - 1, 0); db <= std::min(b + 1, size - 1); ++db) {
                        for (int dg = std::max(g - 1, 0); dg <= std::min(g + 1, size - 1); ++dg) {
                            std::uint8_t* line = &pending[(static_cast<std::size_t>(db) * n +
                                                           static_cast<std::size_t>(dg)) *
                                                          n];
                            for (int dr = std::max(r - 1, 0); dr <= std::min(r + 1, size - 1);
                                 ++dr) {
                                line[dr] = 1;
                            }
                        }
                    }
                    pending[node] = 0;
                    anyPending = true;
                }
            }
        }
    }
}

// ---- Measuring ---------------------------------------------------------------

class ErrorTally {
  public:
    void Add(const std::uint8_t* exact, const std::array<double, kLutChannels>& blend) {
        int worst = 0;
        for (std::size_t ch = 0; ch < kLutChannels; ++ch) {
            const int level = static_cast<int>(std::floor(blend[ch] * kMaxLevel + 0.5));
            const int error = std::abs(level - exact[ch]);
            sum_ += error;
            worst = std::max(worst, error);
        }
        ++histogram_[static_cast<std::size_t>(std::min(worst, kMaxLevel))];
        ++colors_;
    }

    LutAccuracy Result() const {
        LutAccuracy accuracy;
        if (colors_ == 0) {
            return accuracy;
        }
        accuracy.meanError =
            static_cast<double>(sum_) / (static_cast<double>(colors_) * kLutChannels);
        // Nearest rank: the smallest error that at least 99 % of the colours
        // do not exceed.
        const auto rank =
            static_cast<std::size_t>(std::ceil(kPercentile * static_cast<double>(colors_)));
        std::size_t seen = 0;
        bool ranked = false;
        for (int e = 0; e <= kMaxLevel; ++e) {
            const std::size_t count = histogram_[static_cast<std::size_t>(e)];
            seen += count;
            if (!ranked && seen >= rank) {
                accuracy.p99Error = e;
                ranked = true;
            }
            if (count != 0) {
                accuracy.maxError = e;
            }
        }
        return accuracy;
    }

  private:
    std::uint64_t sum_ = 0;
    std::size_t colors_ = 0;
    std::array<std::size_t, kColorLevels> histogram_{};
};

}  // namespace

ExactColorMap MapEveryColor(const ColorScheme& scheme) {
    ExactColorMap map;
    map.rgb.resize(kLutChannels * kColorCount);
    std::uint8_t* p = map.rgb.data();
    for (int b = 0; b < kColorLevels; ++b) {
        for (int g = 0; g < kColorLevels; ++g) {
            for (int r = 0; r < kColorLevels; ++r) {
                *p++ = static_cast<std::uint8_t>(r);
                *p++ = static_cast<std::uint8_t>(g);
                *p++ = static_cast<std::uint8_t>(b);
            }
        }
    }
    // 64 KiB: too large for a comfortable stack frame.
    auto table = std::make_unique<GradientTable>();
    BuildGradientTable(&scheme, *table);
    // One row per (green, blue), 256 pixels each, no padding.
    ToneMapBuffer(map.rgb.data(), kColorLevels * kLutChannels, kColorLevels * kColorLevels,
                  PixelLayout::kRgb, *table);
    return map;
}

LutTable FitLut(const ExactColorMap& map, int size, LutPrecision precision,
                const std::atomic<bool>& stop) {
    if (!ValidSize(size) || map.rgb.size() != kLutChannels * kColorCount) {
        return {};
    }
    LutTable lut = ZeroTable(size);
    if (size == kColorLevels) {
        for (std::size_t i = 0; i < kColorCount; ++i) {
            for (std::size_t ch = 0; ch < kLutChannels; ++ch) {
                lut.channels[ch][i] =
                    static_cast<float>(LevelToUnit(map.rgb[kLutChannels * i + ch]));
            }
        }
        return lut;
    }
    // The channels are independent problems, solved one after the other with
    // one array of doubles between them.
    const AxisOperator axis(size);
    std::vector<double> work;
    for (int ch = 0; ch < kLutChannels; ++ch) {
        if (stop.load()) {
            return {};
        }
        std::vector<float>& values = lut.channels[static_cast<std::size_t>(ch)];
        // The unbounded optimum, clamped, is the start: away from the bounds
        // it is already the answer.
        ProjectChannel(map, axis, ch, work);
        SolveGram3(axis, work);
        std::transform(work.begin(), work.end(), values.begin(),
                       [](double v) { return static_cast<float>(std::clamp(v, 0.0, 1.0)); });
        // The right-hand side again, into the same array: at the largest sizes
        // a second one would cost more memory than the table.
        ProjectChannel(map, axis, ch, work);
        ProjectedGaussSeidel(axis, work, values, 0.0, kFineTolerance, kMaxFineSweeps, stop);
        if (precision == LutPrecision::kEightBit) {
            // Rounding alone undoes much of the fit; the descent over whole
            // levels, from the rounded values, wins most of it back.
            for (float& v : values) {
                v = static_cast<float>(std::round(v * kMaxLevel) / kMaxLevel);
            }
            ProjectedGaussSeidel(axis, work, values, kEightBitStep, kEightBitStep / 2,
                                 kMaxEightBitSweeps, stop);
        }
    }
    if (stop.load()) {
        return {};
    }
    return lut;
}

LutTable FitLut(const ExactColorMap& map, int size, LutPrecision precision) {
    const std::atomic<bool> never{false};
    return FitLut(map, size, precision, never);
}

LutTable SampleLut(const ColorScheme& scheme, int size) {
    if (!ValidSize(size)) {
        return {};
    }
    auto table = std::make_unique<GradientTable>();
    BuildGradientTable(&scheme, *table);
    const LumaWeightTable& weights = GetLumaWeightTable();
    const int steps = size - 1;
    // A channel's weight at grid point i, between the 8-bit values around
    // 255 i / steps.
    const auto weightAt = [steps](const std::array<std::uint16_t, kColorLevels>& w, int i) {
        const int scaled = kMaxLevel * i;
        const int lower = scaled / steps;
        const int upper = std::min(lower + 1, kMaxLevel);
        const double fraction = static_cast<double>(scaled % steps) / steps;
        return w[static_cast<std::size_t>(lower)] * (1.0 - fraction) +
               w[static_cast<std::size_t>(upper)] * fraction;
    };
    std::array<std::vector<double>, kLutChannels> axisWeight;
    for (int i = 0; i < size; ++i) {
        axisWeight[0].push_back(weightAt(weights.red, i));
        axisWeight[1].push_back(weightAt(weights.green, i));
        axisWeight[2].push_back(weightAt(weights.blue, i));
    }
    // LuminanceCode: the weight sum divided by four, rounded half up.
    constexpr double kWeightsPerCode = 4.0;
    LutTable lut = ZeroTable(size);
    std::size_t node = 0;
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r, ++node) {
                const double sum = axisWeight[0][static_cast<std::size_t>(r)] +
                                   axisWeight[1][static_cast<std::size_t>(g)] +
                                   axisWeight[2][static_cast<std::size_t>(b)];
                const int code = std::min(static_cast<int>(std::floor(sum / kWeightsPerCode + 0.5)),
                                          kGradientEntries - 1);
                const std::uint32_t v = (*table)[static_cast<std::size_t>(code)];
                lut.channels[0][node] = static_cast<float>(LevelToUnit(SlotRed(v)));
                lut.channels[1][node] = static_cast<float>(LevelToUnit(SlotGreen(v)));
                lut.channels[2][node] = static_cast<float>(LevelToUnit(SlotBlue(v)));
            }
        }
    }
    return lut;
}

std::array<double, kLutChannels> InterpolateLut(const LutTable& lut, int r, int g, int b) {
    const AxisPosition pr = PositionOnAxis(r, lut.size);
    const AxisPosition pg = PositionOnAxis(g, lut.size);
    const AxisPosition pb = PositionOnAxis(b, lut.size);
    std::array<double, kLutChannels> out{};
    for (std::size_t ch = 0; ch < kLutChannels; ++ch) {
        const std::vector<float>& values = lut.channels[ch];
        std::array<double, 2> plane{};
        for (int ub = 0; ub < 2; ++ub) {
            std::array<double, 2> line{};
            for (int ug = 0; ug < 2; ++ug) {
                const std::size_t at = lut.Index(pr.cell, pg.cell + ug, pb.cell + ub);
                const double lo = values[at];
                const double hi = values[at + 1];
                line[static_cast<std::size_t>(ug)] = lo + (hi - lo) * pr.fraction;
            }
            plane[static_cast<std::size_t>(ub)] = line[0] + (line[1] - line[0]) * pg.fraction;
        }
        out[ch] = plane[0] + (plane[1] - plane[0]) * pb.fraction;
    }
    return out;
}

std::vector<std::uint32_t> RandomColors(std::size_t count, std::uint32_t seed) {
    constexpr int kDropBits = 8;  // of mt19937's 32
    std::mt19937 generator(seed);
    std::vector<std::uint32_t> colors(count);
    for (std::uint32_t& c : colors) {
        c = generator() >> kDropBits;
    }
    return colors;
}

LutAccuracy MeasureLut(const ExactColorMap& map, const LutTable& lut,
                       const std::vector<std::uint32_t>& colors) {
    ErrorTally tally;
    for (const std::uint32_t c : colors) {
        const int r = static_cast<int>(c & 0xFF);
        const int g = static_cast<int>((c >> 8) & 0xFF);
        const int b = static_cast<int>((c >> 16) & 0xFF);
        tally.Add(map.At(r, g, b), InterpolateLut(lut, r, g, b));
    }
    return tally.Result();
}

LutAccuracy MeasureLut(const ExactColorMap& map, const LutTable& lut) {
    ErrorTally tally;
    for (int b = 0; b < kColorLevels; ++b) {
        for (int g = 0; g < kColorLevels; ++g) {
            for (int r = 0; r < kColorLevels; ++r) {
                tally.Add(map.At(r, g, b), InterpolateLut(lut, r, g, b));
            }
        }
    }
    return tally.Result();
}

}  // namespace corvanta
