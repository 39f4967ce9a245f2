#pragma once
// Random damage to one direction of the line: each byte, with the given
// probability, is either corrupted or preceded by an inserted byte.
// Seeded, so a failing run can be repeated.

#include "Options.h"

#include <random>

namespace torvexsim {

class LineNoise {
public:
    explicit LineNoise(const Noise &n) : rate_(n.rate), rng_(n.seed) {}

    bool active() const { return rate_ > 0; }
    // Returns the damaged copy and adds the number of hits to count.
    Bytes apply(const std::uint8_t *p, std::size_t n, std::uint64_t &count);

private:
    double rate_;
    std::mt19937 rng_;
};

}  // namespace torvexsim
