#pragma once

#include "history/historylines.h"

#include <array>

// The draw of six different numbers from 1 to 43, one per number tile, in draw order.
namespace draw {

class RandomSource;

inline constexpr int kTileCount = history::kNumbersPerLine;
inline constexpr int kLowestNumber = 1;
inline constexpr int kHighestNumber = history::kHighestNumber;

using Numbers = std::array<int, kTileCount>;

// n = floor(r * 43 + 1), formed in double so that r just below 1 still gives 43.
int numberFromUnit(double r);

// One pass: a value for tile 0, then tile 1, ... tile 5.
Numbers drawPass(draw::RandomSource& source);

// True when no two of the six numbers are equal (all fifteen pairs compared).
bool allDifferent(const Numbers& numbers);

// Reseeds the source once, then repeats whole passes until one gives six different numbers.
// Rejecting the whole pass keeps every ordered choice equally likely.
Numbers drawSix(draw::RandomSource& source);

} // namespace draw
