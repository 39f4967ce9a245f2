#pragma once
// A NOR flash chip as the boot loader sees it: erasing sets every byte to
// 0xFF, programming can only clear bits, so a write without an erase shows
// as old AND new.

#include "Wire.h"

namespace torvexsim {

class NorFlash {
public:
    explicit NorFlash(std::size_t size, const Bytes &initial = {});

    std::size_t size() const { return cells_.size(); }
    void erase();
    // False, and nothing written, when the block would run past the end.
    bool program(std::size_t offset, const std::uint8_t *p, std::size_t n);
    // One past the highest byte programmed since the last erase; 0 if none.
    std::size_t extent() const { return extent_; }

    const Bytes &bytes() const { return cells_; }
    Bytes image() const { return Bytes(cells_.begin(), cells_.begin() + long(extent_)); }

private:
    Bytes cells_;
    std::size_t extent_ = 0;
};

}  // namespace torvexsim
