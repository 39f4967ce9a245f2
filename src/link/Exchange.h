#pragma once
// The exchange engine: one frame out, one reply classified.

#include <cstdint>
#include <span>

#include "link/LineTrust.h"

class Link;

// Only Ack counts as success.
enum class CmdResult : std::uint8_t {
    Unexpected = 0,   // correct checksum, reply code neither ACK nor NAK
    Ack = 1,          // acknowledged (and every command sent without waiting)
    Refused = 2,      // NAK
    NoReply = 3,      // no complete reply within the time limit
    BadChecksum = 4,
};

// Command frame: letter, 32-bit value, 16-bit value (0..32767), expected reply
// length (3..2001, what the receive buffer can complete), time limit in ms,
// wait for the reply or return Ack after writing.
// The port is closed and reopened before the frame and closed after a waited
// reply. A 16-bit value out of range, a stop requested on the link, or a line
// that never went quiet sends nothing and yields NoReply. On a doubted line
// the frame waits until the line is quiet (Link::settle).
CmdResult funSendCommand(Link &link, char letter, std::int32_t v32, int v16,
                         std::int16_t expected, int timeLimitMs, bool wait);

// Data frame of the first n bytes of data with a sequence number; 5-byte
// reply. An open port stays open. n outside 0..data.size(), a stop requested
// on the link, or a line that never went quiet sends nothing and yields NoReply.
// `role` tells the line's rule what the frame is for when it is not what its
// length says (an image block, or the end of write when empty): the resync,
// which goes out whatever the line did before it.
CmdResult funSendBlock(Link &link, std::span<const std::uint8_t> data, int n,
                       std::uint8_t sequence, int timeLimitMs, trust::Frame role = trust::Frame::None);

// Classification after a wait, from LinkTag and the first L bytes of RxBuffer.
CmdResult classifyReply(const Link &link, int L);
// The classification as the line's rule judges it: an acknowledgement that
// an extra reply undid counts as none (NoReply).
CmdResult finishExchange(Link &link, int L);
