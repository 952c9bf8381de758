#pragma once

#include <QString>

#include <optional>

// Where the shipped skin's progress band lies at its own size, in window coordinates: for a
// skin without a "pb" element. The band of a window that grows is the element's picture.
namespace ProgressGeometry {
constexpr int Left = 12;
constexpr int Top = 310;
constexpr int Bottom = 322;
constexpr int FullWidth = 469;
} // namespace ProgressGeometry

// number * numerator / denominator with a 64-bit product, taken to the nearest
// whole number, halves away from zero. -1 when denominator is 0 or the result
// does not fit (as the Win32 call of that name does).
int MulDiv(int number, int numerator, int denominator);

struct ProgressFrame
{
    int right;    // right edge of the bar: left + its width
    int percent;  // truncated toward zero
    QString text; // percent followed by "%"
};

// What the progress display shows for done of total on a band from `left` that is
// `fullWidth` wide when full. nullopt when done exceeds total: the display is left as it is.
// A total of 0 (or less) shows 0% and an empty bar; a negative done counts as 0.
std::optional<ProgressFrame> ProgressFrameFor(int done, int total, int left, int fullWidth);
