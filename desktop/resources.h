#pragma once

#include <optional>

namespace desktop {

// What the program needs before the toolkit starts. Without it Qt 6 hangs for good instead of
// failing: with too few descriptors it waits for an answer of the X server whose descriptor it
// cannot take, and without threads for one that never started; the window is then black and deaf
// to a close and to SIGTERM. So the program ends first, saying why.
struct MissingResource {
    // Descriptors: fewer free than kSpareDescriptors, even with the limit raised to its ceiling.
    // Threads: none can be started (the process count of the user at its limit, or no memory).
    enum class Kind { Descriptors, Threads };
    Kind kind{};
    long have{}; // Descriptors: how many are free
    int code{};  // Threads: the system's error number
};

// Far more than a run opens at once: its window, locks, journal, a save, a print job.
inline constexpr long kSpareDescriptors = 48;

// Raises the limit of descriptors where it is below what the program needs and may be raised,
// then tells what is missing, if anything.
std::optional<MissingResource> missingResource();

} // namespace desktop
