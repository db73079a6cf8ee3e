#pragma once

#include <cstdint>
#include <random>

namespace draw {

// Where the draw takes its values r, 0 <= r < 1; an interface so tests can script the values.
class RandomSource {
public:
    RandomSource() = default;
    RandomSource(const RandomSource&) = delete;
    RandomSource& operator=(const RandomSource&) = delete;
    virtual ~RandomSource() = default;

    // Starts a fresh sequence; called once per draw, before its first value.
    virtual void seedFromClock() = 0;
    // The next value r of the current sequence, 0 <= r < 1.
    virtual double next() = 0;
};

// The program's own source: a 64-bit Mersenne Twister giving values with 53 random bits.
class SystemRandomSource final : public RandomSource {
public:
    SystemRandomSource();
    // A reproducible sequence for statistical tests; seedFromClock() still reseeds from the clock.
    explicit SystemRandomSource(std::uint64_t fixedSeed);

    void seedFromClock() override;
    double next() override;

private:
    std::mt19937_64 mEngine;
    std::random_device mEntropy;
};

} // namespace draw
