#include "LineNoise.h"

namespace torvexsim {

Bytes LineNoise::apply(const std::uint8_t *p, std::size_t n, std::uint64_t &count)
{
    std::bernoulli_distribution hit(rate_);
    std::uniform_int_distribution<int> any(0, 255), flip(1, 255);
    Bytes out;
    out.reserve(n + n / 8 + 1);
    for (std::size_t i = 0; i < n; ++i) {
        if (!hit(rng_)) {
            out.push_back(p[i]);
            continue;
        }
        ++count;
        if (rng_() & 1) {
            out.push_back(std::uint8_t(any(rng_)));
            out.push_back(p[i]);
        } else {
            out.push_back(std::uint8_t(p[i] ^ flip(rng_)));  // never the byte itself
        }
    }
    return out;
}

}  // namespace torvexsim
