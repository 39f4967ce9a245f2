// Reply checking: every reply the simulated indicator makes passes, any
// change to a byte the check covers fails, and no length reads past the buffer.

#include "FuzzCheck.h"
#include "Wire.h"
#include "protocol/frames.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const int L = in.ConsumeIntegralInRange<int>(-2, 2003);
    const auto code = in.ConsumeIntegral<std::uint8_t>();
    // At most 250 bytes: a longer reply's sum may pass 16 bits, and then no checksum matches.
    const auto payload = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 250));
    const auto at = in.ConsumeIntegral<std::size_t>();
    const auto delta = in.ConsumeIntegralInRange<std::uint8_t>(1, 255);
    const auto junk = in.ConsumeRemainingBytes<std::uint8_t>();

    // Arbitrary bytes, any claimed length: a heap block of exactly their
    // size lets AddressSanitizer see any read past it.
    std::vector<std::uint8_t> exact(junk);
    exact.shrink_to_fit();
    const bool ok = proto::checkReply(exact.data(), int(exact.size()), L);
    FUZZ_CHECK(!ok || (L >= 3 && L <= int(exact.size()) + 1));

    torvexsim::Bytes reply = torvexsim::makeReply(code, payload);
    const int n = int(reply.size());
    FUZZ_CHECK(proto::checkReply(reply.data(), n, n));
    const std::size_t i = at % std::size_t(n - 1);  // the closing byte is not checked
    reply[i] = std::uint8_t(reply[i] + delta);
    FUZZ_CHECK(!proto::checkReply(reply.data(), n, n));
    return 0;
}
