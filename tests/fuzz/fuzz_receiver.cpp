// The updater's frames as the simulated indicator's receiver cuts them out of
// a line with arbitrary bytes between them: each arrives whole, with a right
// checksum and the fields it was built from.

#include "FrameReceiver.h"
#include "FuzzCheck.h"
#include "protocol/frames.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    torvexsim::FrameReceiver rx;
    const auto t = torvexsim::Clock::now();
    std::vector<torvexsim::RxEvent> events;
    while (in.remaining_bytes() > 0) {
        // Junk without STX between frames, as CRs and noise are.
        for (std::uint8_t b : in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 8)))
            rx.push(b == proto::STX ? 0 : b, t, events);
        events.clear();
        QByteArray frame;
        const bool command = in.ConsumeBool();
        const auto v32 = in.ConsumeIntegral<std::int32_t>();
        const int v16 = in.ConsumeIntegralInRange(0, 32767);
        const auto seq = in.ConsumeIntegral<std::uint8_t>();
        const auto bytes = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, proto::MaxBlockLength));
        if (command) {
            const char letter = char(in.ConsumeIntegralInRange(0x42, 0x5A));  // 'A' opens a data frame
            frame = *proto::commandFrame(letter, v32, v16);
        } else {
            const QByteArray header = *proto::blockHeader(int(bytes.size()), seq);
            frame = header + QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()))
                  + proto::blockTrailer(header, bytes.data(), int(bytes.size()));
        }
        for (char b : frame)
            rx.push(std::uint8_t(b), t, events);
        FUZZ_CHECK(!events.empty() && events.back().type == torvexsim::RxEvent::Type::Frame);
        const torvexsim::Frame &f = events.back().frame;
        FUZZ_CHECK(f.ok());
        if (command)
            FUZZ_CHECK(f.value32 == std::uint32_t(v32) && f.value16 == v16);
        else
            FUZZ_CHECK(f.seq == seq && f.data == bytes);
    }
    return 0;
}
