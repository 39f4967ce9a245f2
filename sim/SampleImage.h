#pragma once
// A firmware image the updater accepts, for trying the simulator end to end:
// deterministic filler with the identification block at 1024..1039.

#include "Wire.h"

#include <string>

namespace torvexsim {

inline constexpr std::size_t IdBlockOffset = 1024;
inline constexpr std::size_t IdBlockEnd = 1040;

struct SampleImageOptions {
    std::size_t size = 70000;          // at least IdBlockEnd
    std::string version = "V1.10.00";  // 8 characters at 1024
    std::string model = "KD7";         // 3 at 1032
    char level = '0';                  // boot-loader level at 1035
    std::string tag = "REL ";          // 4 at 1036; "LABT" marks a laboratory build
    std::uint32_t seed = 0x7E5D11u;
};

// Shorter texts are padded with spaces, longer ones cut.
Bytes makeSampleImage(const SampleImageOptions &o);

}  // namespace torvexsim
