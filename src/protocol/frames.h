#pragma once
// Byte layouts of the boot loader's frames, the number encodings and the three
// checksums. Pure functions: no I/O, no state.

#include <QByteArray>
#include <cstdint>
#include <optional>

namespace proto {

constexpr std::uint8_t STX = 0x02;
constexpr std::uint8_t CR = 0x0D;
constexpr std::uint8_t ACK = 0x06;
constexpr std::uint8_t NAK = 0x15;
constexpr std::int32_t GuardValue = 0x1D4B0C62;  // 32-bit value of "E" and "S"
constexpr int CommandFrameSize = 15;
constexpr int BlockHeaderSize = 5;
constexpr int BlockTrailerSize = 3;
constexpr int MaxBlockLength = 98;   // bytes of image per data frame
constexpr int ShortReplyLength = 5;
constexpr int IdentifyReplyLength = 29;

// Eight nibble characters (0x30 + v), most significant first; a negative value
// is taken in its 32-bit two's-complement form.
QByteArray funLongToNibbles(std::int32_t value);

// High byte, low byte. Defined for 0..32767 only: anything else yields nullopt.
std::optional<QByteArray> funIntToBytes(int value);

// text + two nibble characters of (sum of bytes + length) mod 256.
QByteArray funAddChecksum(const QByteArray &text);

// (sum of header and data bytes) + n + 5, low 16 bits.
std::uint16_t funDataChecksum(const QByteArray &header, const std::uint8_t *data, int n);

// True when the L-byte reply at the start of buf has a correct checksum.
// L outside 3..bufSize+1 (an index past the buffer) yields false.
bool checkReply(const std::uint8_t *buf, int bufSize, int L);

// ':'..'?' (and anything above '9') moved up by 7; others copied.
QByteArray funNibblesToHex(const QByteArray &text);

// The 15-byte command frame; nullopt when v16 is outside 0..32767.
std::optional<QByteArray> commandFrame(char letter, std::int32_t v32, int v16);

// The three pieces of a data frame: 5-byte header, then (after the data) the
// 3-byte trailer. nullopt when n is outside 0..32767.
std::optional<QByteArray> blockHeader(int n, std::uint8_t sequence);
QByteArray blockTrailer(const QByteArray &header, const std::uint8_t *data, int n);

}  // namespace proto
