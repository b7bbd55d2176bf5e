#pragma once
#include <string>

// Arithmetic of the text progress bar. Positions are not clamped to the range; results that
// would not fit an int saturate instead of overflowing.

// Filled width in pixels: (position - lower) / (upper - lower) x width, truncated toward zero.
// 0 for an empty or inverted range (lower >= upper), which is never drawn.
int ProgressBarWidth(int position, int lower, int upper, int width);

// The whole percentage shown in the bar, truncated toward zero; 0 for an empty or inverted range.
int ProgressPercent(int position, int lower, int upper);

// "42%".
std::wstring FormatPercent(int percent);
