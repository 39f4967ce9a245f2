#include "NorFlash.h"

#include <algorithm>

namespace torvexsim {

NorFlash::NorFlash(std::size_t size, const Bytes &initial) : cells_(size, 0xFF)
{
    std::copy_n(initial.begin(), std::min(size, initial.size()), cells_.begin());
}

void NorFlash::erase()
{
    std::fill(cells_.begin(), cells_.end(), 0xFF);
    extent_ = 0;
}

bool NorFlash::program(std::size_t offset, const std::uint8_t *p, std::size_t n)
{
    if (offset > cells_.size() || n > cells_.size() - offset)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        cells_[offset + i] &= p[i];
    extent_ = std::max(extent_, offset + n);
    return true;
}

}  // namespace torvexsim
