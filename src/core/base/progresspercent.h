#pragma once

#include <optional>

// done of total in whole percent, cut toward zero, as every progress display shows it.
// Nothing when done exceeds total (a report past the probed duration changes no display);
// 0 for a total of 0 or less; a negative done counts as 0.
std::optional<int> ProgressPercent(int done, int total);
