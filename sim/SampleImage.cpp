#include "SampleImage.h"

#include <algorithm>

namespace torvexsim {

namespace {

void put(Bytes &img, std::size_t at, const std::string &s, std::size_t width)
{
    for (std::size_t i = 0; i < width && at + i < img.size(); ++i)
        img[at + i] = i < s.size() ? std::uint8_t(s[i]) : std::uint8_t(' ');
}

}  // namespace

Bytes makeSampleImage(const SampleImageOptions &o)
{
    Bytes img(o.size);
    std::uint32_t x = o.seed ? o.seed : 1;  // xorshift32 has no zero state
    for (std::uint8_t &b : img) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = std::uint8_t(x >> 24);
    }
    put(img, IdBlockOffset, o.version, 8);
    put(img, IdBlockOffset + 8, o.model, 3);
    put(img, IdBlockOffset + 11, std::string(1, o.level), 1);
    put(img, IdBlockOffset + 12, o.tag, 4);
    return img;
}

}  // namespace torvexsim
