#pragma once
// Everything that makes one simulated indicator differ from another: what it
// reports, how its flash behaves, and the faults it is told to commit.

#include "Wire.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvexsim {

enum class EraseOutcome {
    Ack,          // erased, acknowledged
    Nak,          // erase failed: nothing erased, refused
    Silent,       // erased, no reply
    BadChecksum,  // erased, reply with a wrong checksum
    WrongCode,    // erased, reply code 0x07 with a right checksum
};

// What a fault rule is about: one command letter, the empty data frame, or the
// k-th distinct block of a write (retransmissions share the index).
struct FaultTarget {
    enum class Kind { Command, End, Block, Any };
    Kind kind = Kind::Command;
    char letter = 'I';
    unsigned block = 0;
};

enum class FaultKind {
    Silence,      // the frame is ignored entirely
    Refuse,       // NAK, nothing done
    BadChecksum,  // done, reply checksum wrong
    WrongCode,    // done, reply code replaced by `param` (0x07 unless given)
    Truncate,     // done, only the first `param` reply bytes sent
    Delay,        // done, reply `param` ms late
    LoseReply,    // done, nothing sent (the host will retransmit)
    Twice,        // done, the reply sent again `param` ms later
    StrayBefore,  // done, `param` stray bytes just before the reply
    StrayAfter,   // done, `param` stray bytes just after the reply
    Repeat,       // done, and from then on the reply repeated every `param` ms
};

struct FaultRule {
    FaultTarget target;
    FaultKind kind = FaultKind::Silence;
    int param = 0;
    int times = -1;  // how many occurrences of the target it hits; -1: all
};

// "TARGET:KIND[=ARG][*TIMES]", e.g. "I:silence*1", "block3:refuse=2",
// "end:truncate=3", "W:code=0x07", "E:delay=500", "2:lose", "any:twice=2",
// "block10:stray-after=4", "block5:repeat=50". For refuse, ARG is
// the number of refusals. nullopt and a reason in *error on a malformed rule.
std::optional<FaultRule> parseFaultRule(std::string_view text, std::string *error = nullptr);
std::optional<EraseOutcome> parseEraseOutcome(std::string_view text);

struct Noise {
    double rate = 0.0;  // probability per byte of a corrupted or inserted byte
    std::uint32_t seed = 1;
};

struct Options {
    // Identify reply.
    std::string manufacturerCode = "0020";  // 4 hex digits
    std::string deviceCode = "2249";        // M29W160EB; "22CB" is the M29W320DB
    bool plainHexCodes = false;             // send "22CB" as letters, not nibble characters
    std::string softwareVersion = "V1.10.00";  // 8 characters
    std::string modelCode = "KD7";             // 3 characters
    // Boot-loader level (same meaning as the image's level character), then a
    // 4-character boot-loader build.
    std::array<std::uint8_t, 5> identifyExtra{'0', 'B', '1', '0', '2'};

    // Flash.
    std::size_t flashSize = 0;  // 0: by chip (2 MiB, or 4 MiB for 0020/22CB)
    Bytes initialFlash;         // what the chip holds at start; the rest is erased
    std::chrono::milliseconds eraseTime{30};
    EraseOutcome eraseOutcome = EraseOutcome::Ack;
    std::chrono::microseconds programTime{0};  // per block
    // The boot loader goes on handling frames while its erase runs, and wipes
    // the flash (whatever was written meanwhile too) when the erase time ends;
    // the erase's reply comes then.
    bool eraseInBackground = false;

    // Line.
    bool startInBootLoader = false;
    std::chrono::milliseconds receiveTimeout{100};  // inter-byte gap that abandons a frame
    unsigned baud = 0;                              // 0: no wire pacing
    // A healthy indicator's reply time: every reply starts this long after its
    // frame, in order, while later frames are already being handled.
    std::chrono::microseconds latency{0};
    Noise noiseFromHost, noiseToHost;

    // Faults.
    std::vector<FaultRule> faults;
    std::optional<unsigned> hangUpAfterBlock;

    // Serving.
    std::string linkPath;      // symlink to the pty slave; empty: none
    std::string flashOutPath;  // written extent saved here when write mode ends; empty: never
    std::function<void(const std::string &)> log;  // called on the simulator's thread
};

// Flash size the chip codes imply (when Options::flashSize is 0).
std::size_t chipFlashSize(std::string_view manufacturer, std::string_view device);

}  // namespace torvexsim
