#include "draw/sixnumbers.h"

#include "draw/randomsource.h"

#include <cassert>
#include <cmath>

namespace draw {

int numberFromUnit(double r)
{
    assert(r >= 0.0 && r < 1.0);
    // Formed in double, which keeps every bit of r: the largest value below 1 gives 43, never 44.
    return static_cast<int>(std::floor(r * kHighestNumber + 1.0));
}

Numbers drawPass(RandomSource& source)
{
    Numbers numbers{};
    for (int& n : numbers) {
        n = numberFromUnit(source.next());
    }
    return numbers;
}

bool allDifferent(const Numbers& numbers)
{
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        for (std::size_t j = i + 1; j < numbers.size(); ++j) {
            if (numbers[i] == numbers[j]) {
                return false;
            }
        }
    }
    return true;
}

Numbers drawSix(RandomSource& source)
{
    source.seedFromClock();
    Numbers numbers = drawPass(source);
    while (!allDifferent(numbers)) {
        numbers = drawPass(source);
    }
    return numbers;
}

} // namespace draw
