#pragma once
// The indicator's view of the line: frame constants, the nibble encoding and
// the three checksums, as the boot loader computes them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace torvexsim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t STX = 0x02;
inline constexpr std::uint8_t CR = 0x0D;
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t NAK = 0x15;
inline constexpr std::uint8_t DataLetter = 'A';
inline constexpr std::uint32_t GuardValue = 0x1D4B0C62;  // "E" and "S" must carry it

inline constexpr std::size_t CommandFrameSize = 15;
inline constexpr std::size_t DataFrameOverhead = 8;  // STX 'A' n n seq .. sum sum CR
inline constexpr std::size_t MaxDataLength = 1024;   // a longer declared length is line garbage
inline constexpr std::size_t ShortReplySize = 5;
inline constexpr std::size_t IdentifyReplySize = 29;

std::uint8_t nibbleChar(unsigned v);                  // 0x30 + (v & 15)
std::optional<unsigned> nibbleValue(std::uint8_t c);  // nullopt outside 0x30..0x3F

// (bytes 0..11 + 12) mod 256 of a command frame.
std::uint8_t commandChecksum(const std::uint8_t *frame);
// (bytes 0..4+n) + n + 5, low 16 bits, of a data frame with n data bytes.
std::uint16_t dataChecksum(const std::uint8_t *frame, std::size_t n);
// (bytes 0..L-4) + (L-3), low 16 bits, of an L-byte reply.
std::uint16_t replyChecksum(const std::uint8_t *reply, std::size_t L);

// STX, code, payload, checksum, CR.
Bytes makeReply(std::uint8_t code, const Bytes &payload = {});
// Puts a correct checksum into an already laid-out reply (after a code change).
void resealReply(Bytes &reply);

// "02 06 00 0A 0D", cut after max bytes with " ...".
std::string hexDump(const std::uint8_t *p, std::size_t n, std::size_t max = 24);
inline std::string hexDump(const Bytes &b, std::size_t max = 24) { return hexDump(b.data(), b.size(), max); }

}  // namespace torvexsim
