#include "draw/randomsource.h"

#include <chrono>

namespace draw {

SystemRandomSource::SystemRandomSource()
{
    seedFromClock();
}

SystemRandomSource::SystemRandomSource(std::uint64_t fixedSeed)
    : mEngine(fixedSeed)
{
}

void SystemRandomSource::seedFromClock()
{
    // The clock alone repeats a sequence for two clicks within one tick; the operating
    // system's entropy makes every seed different.
    const auto ticks = static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
    std::seed_seq seed{static_cast<std::uint32_t>(ticks),
                       static_cast<std::uint32_t>(ticks >> 32),
                       mEntropy(),
                       mEntropy(),
                       mEntropy(),
                       mEntropy()};
    mEngine.seed(seed);
}

double SystemRandomSource::next()
{
    // The top 53 bits scaled by 2^-53: every value is exact and the largest is 1 - 2^-53.
    // std::generate_canonical is avoided on purpose: libstdc++'s can round up to 1.0.
    constexpr int kDroppedBits = 64 - 53;
    constexpr double kScale = 0x1.0p-53;
    return static_cast<double>(mEngine() >> kDroppedBits) * kScale;
}

} // namespace draw
