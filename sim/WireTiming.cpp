#include "WireTiming.h"

namespace torvexsim {

WireTiming::WireTiming(unsigned baud)
{
    if (baud)
        byteTime_ = std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000LL / baud));
}

Clock::time_point WireTiming::received(Clock::time_point now)
{
    if (!paced())
        return now;
    rxFree_ = std::max(now, rxFree_) + byteTime_;
    return rxFree_;
}

Clock::time_point WireTiming::reply(Clock::time_point from, std::size_t n)
{
    if (!paced())
        return from;
    txFree_ = std::max(from, txFree_) + bytes(n);
    return txFree_;
}

void WireTiming::sentAside(Clock::time_point now, std::size_t n)
{
    if (paced())
        txFree_ = std::max(now, txFree_) + bytes(n);
}

}  // namespace torvexsim
