#include "CommandLine.h"

#include <cctype>
#include <cstdlib>
#include <getopt.h>

namespace torvexsim {

namespace {

enum Opt {
    OptLink = 256, OptChip, OptManufacturer, OptDevice, OptPlainHex, OptSwVersion, OptModel,
    OptExtra, OptFlashSize, OptFlashIn, OptFlashOut, OptEraseTime, OptEraseOutcome,
    OptProgramTime, OptEraseBackground, OptLatency, OptStartInBootLoader, OptReceiveTimeout, OptBaud, OptNoiseIn, OptNoiseOut,
    OptFault, OptHangUp, OptLog, OptMakeImage, OptImageSize, OptImageVersion, OptImageModel,
    OptImageLevel, OptImageTag, OptHelp, OptVersion,
};

const option longOptions[] = {
    {"link", required_argument, nullptr, OptLink},
    {"chip", required_argument, nullptr, OptChip},
    {"manufacturer", required_argument, nullptr, OptManufacturer},
    {"device", required_argument, nullptr, OptDevice},
    {"plain-hex-codes", no_argument, nullptr, OptPlainHex},
    {"sw-version", required_argument, nullptr, OptSwVersion},
    {"model", required_argument, nullptr, OptModel},
    {"extra", required_argument, nullptr, OptExtra},
    {"flash-size", required_argument, nullptr, OptFlashSize},
    {"flash-in", required_argument, nullptr, OptFlashIn},
    {"flash-out", required_argument, nullptr, OptFlashOut},
    {"erase-time", required_argument, nullptr, OptEraseTime},
    {"erase-outcome", required_argument, nullptr, OptEraseOutcome},
    {"program-time", required_argument, nullptr, OptProgramTime},
    {"erase-background", no_argument, nullptr, OptEraseBackground},
    {"latency", required_argument, nullptr, OptLatency},
    {"start-in-boot-loader", no_argument, nullptr, OptStartInBootLoader},
    {"receive-timeout", required_argument, nullptr, OptReceiveTimeout},
    {"baud", required_argument, nullptr, OptBaud},
    {"noise-in", required_argument, nullptr, OptNoiseIn},
    {"noise-out", required_argument, nullptr, OptNoiseOut},
    {"fault", required_argument, nullptr, OptFault},
    {"hang-up-after-block", required_argument, nullptr, OptHangUp},
    {"log", no_argument, nullptr, OptLog},
    {"make-image", required_argument, nullptr, OptMakeImage},
    {"image-size", required_argument, nullptr, OptImageSize},
    {"image-version", required_argument, nullptr, OptImageVersion},
    {"image-model", required_argument, nullptr, OptImageModel},
    {"image-level", required_argument, nullptr, OptImageLevel},
    {"image-tag", required_argument, nullptr, OptImageTag},
    {"help", no_argument, nullptr, OptHelp},
    {"version", no_argument, nullptr, OptVersion},
    {nullptr, 0, nullptr, 0},
};

bool toNumber(const char *s, double &v)
{
    char *end = nullptr;
    v = std::strtod(s, &end);
    return *s && *end == '\0' && v >= 0;
}

bool toUnsigned(const char *s, unsigned long &v)
{
    char *end = nullptr;
    if (!std::isdigit(static_cast<unsigned char>(*s)))
        return false;
    v = std::strtoul(s, &end, 0);
    return *end == '\0';
}

bool isHex4(const std::string &s)
{
    if (s.size() != 4)
        return false;
    for (char c : s)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// RATE or RATE:SEED
bool toNoise(const std::string &s, Noise &n)
{
    const auto colon = s.find(':');
    double rate = 0;
    if (!toNumber(s.substr(0, colon).c_str(), rate) || rate > 1)
        return false;
    n.rate = rate;
    if (colon == std::string::npos)
        return true;
    unsigned long seed = 0;
    if (!toUnsigned(s.substr(colon + 1).c_str(), seed))
        return false;
    n.seed = std::uint32_t(seed);
    return true;
}

// Five characters, or hex:XXXXXXXXXX for arbitrary bytes.
bool toExtra(const std::string &s, std::array<std::uint8_t, 5> &out)
{
    if (s.size() == 5) {
        std::copy(s.begin(), s.end(), out.begin());
        return true;
    }
    if (s.size() != 14 || s.compare(0, 4, "hex:") != 0)
        return false;
    for (std::size_t i = 0; i < 5; ++i) {
        const std::string pair = s.substr(4 + 2 * i, 2);
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) || !std::isxdigit(static_cast<unsigned char>(pair[1])))
            return false;
        out[i] = std::uint8_t(std::strtoul(pair.c_str(), nullptr, 16));
    }
    return true;
}

}  // namespace

bool parseCommandLine(int argc, char **argv, Invocation &out, std::string &error)
{
    Options &o = out.sim;
    optind = 1;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
        const std::string arg = optarg ? optarg : "";
        const std::string flag = optind > 0 && optind <= argc ? argv[optind - 1] : "";
        auto bad = [&](const std::string &why) {
            error = flag + ": " + why;
            return false;
        };
        unsigned long u = 0;
        double d = 0;
        switch (c) {
        case OptLink: o.linkPath = arg; break;
        case OptChip:
            if (arg == "M29W160EB") o.deviceCode = "2249";
            else if (arg == "M29W320DB") o.deviceCode = "22CB";
            else return bad("known chips: M29W160EB, M29W320DB");
            o.manufacturerCode = "0020";
            break;
        case OptManufacturer:
        case OptDevice:
            if (!isHex4(arg)) return bad("expected 4 hex digits");
            (c == OptManufacturer ? o.manufacturerCode : o.deviceCode) = arg;
            break;
        case OptPlainHex: o.plainHexCodes = true; break;
        case OptSwVersion:
            if (arg.size() > 8) return bad("at most 8 characters");
            o.softwareVersion = arg;
            break;
        case OptModel:
            if (arg.size() > 3) return bad("at most 3 characters");
            o.modelCode = arg;
            break;
        case OptExtra:
            if (!toExtra(arg, o.identifyExtra)) return bad("5 characters, or hex: and 10 hex digits");
            break;
        case OptFlashSize:
            if (!toUnsigned(arg.c_str(), u) || u == 0) return bad("expected a size in bytes");
            o.flashSize = u;
            break;
        case OptFlashIn: out.flashIn = arg; break;
        case OptFlashOut: o.flashOutPath = arg; break;
        case OptEraseTime:
            if (!toUnsigned(arg.c_str(), u)) return bad("expected milliseconds");
            o.eraseTime = std::chrono::milliseconds(u);
            break;
        case OptEraseOutcome:
            if (const auto e = parseEraseOutcome(arg)) o.eraseOutcome = *e;
            else return bad("one of ack, nak, silent, bad-checksum, wrong-code");
            break;
        case OptProgramTime:
            if (!toNumber(arg.c_str(), d)) return bad("expected milliseconds");
            o.programTime = std::chrono::microseconds(long(d * 1000));
            break;
        case OptEraseBackground: o.eraseInBackground = true; break;
        case OptLatency:
            if (!toNumber(arg.c_str(), d)) return bad("expected milliseconds");
            o.latency = std::chrono::microseconds(long(d * 1000));
            break;
        case OptStartInBootLoader: o.startInBootLoader = true; break;
        case OptReceiveTimeout:
            if (!toUnsigned(arg.c_str(), u) || u == 0) return bad("expected milliseconds");
            o.receiveTimeout = std::chrono::milliseconds(u);
            break;
        case OptBaud:
            if (!toUnsigned(arg.c_str(), u)) return bad("expected a baud rate (0: no pacing)");
            o.baud = unsigned(u);
            break;
        case OptNoiseIn:
        case OptNoiseOut:
            if (!toNoise(arg, c == OptNoiseIn ? o.noiseFromHost : o.noiseToHost))
                return bad("expected RATE (0..1) or RATE:SEED");
            break;
        case OptFault: {
            std::string why;
            const auto rule = parseFaultRule(arg, &why);
            if (!rule) return bad(why);
            o.faults.push_back(*rule);
            break;
        }
        case OptHangUp:
            if (!toUnsigned(arg.c_str(), u)) return bad("expected a block index");
            o.hangUpAfterBlock = unsigned(u);
            break;
        case OptLog: out.log = true; break;
        case OptMakeImage: out.makeImage = arg; break;
        case OptImageSize:
            if (!toUnsigned(arg.c_str(), u) || u < IdBlockEnd)
                return bad("expected a size of at least " + std::to_string(IdBlockEnd));
            out.image.size = u;
            break;
        case OptImageVersion: out.image.version = arg; break;
        case OptImageModel: out.image.model = arg; break;
        case OptImageLevel:
            if (arg.size() != 1) return bad("one character");
            out.image.level = arg[0];
            break;
        case OptImageTag: out.image.tag = arg; break;
        case OptHelp: out.help = true; break;
        case OptVersion: out.version = true; break;
        default:
            error = std::string("unknown or incomplete option ") + (optind > 0 ? argv[optind - 1] : "");
            return false;
        }
    }
    if (optind < argc) {
        error = std::string("unexpected argument ") + argv[optind];
        return false;
    }
    if (!out.help && !out.version && out.makeImage.empty() && o.linkPath.empty()) {
        error = "--link PATH is required";
        return false;
    }
    return true;
}

const char *usageText()
{
    return R"(Usage: torvex-sim --link PATH [options]
       torvex-sim --make-image FILE [image options]
A Torvex-II indicator on a pseudo-terminal, for testing the updater.

Serving:
  --link PATH               symlink to the pty slave (an existing symlink is replaced)
  --flash-out FILE          save the written flash extent when write mode ends and at exit
  --flash-in FILE           flash content at start (rest erased)
  --log                     one line per frame, reply and stray run on stderr
Identity:
  --chip M29W160EB|M29W320DB  flash chip (sets both codes)
  --manufacturer HEX4       manufacturer code (default 0020)
  --device HEX4             device code (default 2249)
  --plain-hex-codes         send the codes as hex letters, not nibble characters
  --sw-version S            software version, 8 characters (default V1.10.00)
  --model S                 model code, 3 characters (default KD7)
  --extra S                 identify bytes 21..25: 5 characters or hex:XXXXXXXXXX (default 0B102)
Behaviour:
  --flash-size N            flash bytes (default by chip: 2 MiB, 4 MiB for 22CB)
  --erase-time MS           erase duration (default 30)
  --erase-outcome O         ack, nak, silent, bad-checksum, wrong-code (default ack)
  --program-time MS         programming time per block, may be fractional (default 0)
  --erase-background        handle frames while erasing; the erase's end wipes the flash
  --latency MS              every reply MS after its frame, later frames handled
                            meanwhile; may be fractional (default 0)
  --start-in-boot-loader    skip the running-firmware state
  --receive-timeout MS      inter-byte gap that drops a partial frame (default 100)
  --baud N                  pace both directions as 8N1 at N baud (default 0: no pacing)
Faults:
  --fault RULE              TARGET:KIND[=ARG][*TIMES], repeatable. TARGET: I E W S (a
                            command letter), end (empty data frame), blockK or K,
                            any (every frame).
                            KIND: silence, refuse[=TIMES], bad-checksum, code[=BYTE],
                            truncate=M, delay=MS, lose, twice=MS, stray-before=N,
                            stray-after=N, repeat=MS. *TIMES: first occurrences only.
  --noise-in RATE[:SEED]    damage bytes from the host with this probability per byte
  --noise-out RATE[:SEED]   damage bytes to the host likewise
  --hang-up-after-block K   close the line after acknowledging block K
Sample image (with --make-image FILE):
  --image-size N            default 70000
  --image-version S         default V1.10.00
  --image-model S           default KD7
  --image-level C           default 0
  --image-tag S             default "REL " (LABT marks a laboratory build)
  --help
  --version
)";
}

}  // namespace torvexsim
