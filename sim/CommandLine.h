#pragma once
// torvex-sim's command line.

#include "Options.h"
#include "SampleImage.h"

#include <string>

namespace torvexsim {

struct Invocation {
    Options sim;
    std::string flashIn;
    bool log = false;
    bool help = false;
    bool version = false;
    std::string makeImage;  // non-empty: write a sample image there and exit
    SampleImageOptions image;
};

// False, with a message in error, on a bad or missing argument.
bool parseCommandLine(int argc, char **argv, Invocation &out, std::string &error);
const char *usageText();

}  // namespace torvexsim
