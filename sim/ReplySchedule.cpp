#include "ReplySchedule.h"

namespace torvexsim {

ShapedReply shapeReply(const Outcome &o)
{
    ShapedReply r;
    r.plain = o.reply;
    r.wire = o.strayBefore;
    r.wire.insert(r.wire.end(), o.reply.begin(), o.reply.end());
    r.wire.insert(r.wire.end(), o.strayAfter.begin(), o.strayAfter.end());
    r.copyAfterMs = o.copyAfterMs;
    r.repeatEveryMs = o.repeatEveryMs;
    return r;
}

void ReplySchedule::followUp(const ShapedReply &r, Clock::time_point due)
{
    if (r.copyAfterMs >= 0)
        copy(due + std::chrono::milliseconds(r.copyAfterMs), r.plain, Clock::duration::zero());
    if (r.repeatEveryMs > 0)
        copy(due + std::chrono::milliseconds(r.repeatEveryMs), r.plain, std::chrono::milliseconds(r.repeatEveryMs));
}

void ReplySchedule::copy(Clock::time_point at, const Bytes &bytes, Clock::duration every)
{
    // Timed like the reply itself: by its last byte through the wire.
    ShapedReply r;
    r.wire = bytes;
    items_.push_back({Item::Kind::Copy, at + wire_.bytes(bytes.size()), std::move(r), every});
}

void ReplySchedule::hold(const ShapedReply &r, Clock::time_point due)
{
    items_.push_back({Item::Kind::Held, due, r, {}});
}

void ReplySchedule::late(const ShapedReply &r, Clock::time_point from)
{
    items_.push_back({Item::Kind::Late, from + wire_.bytes(r.wire.size()), r, {}});
}

void ReplySchedule::wipe(Clock::time_point at)
{
    items_.push_back({Item::Kind::Wipe, at, {}, {}});
}

std::optional<Clock::time_point> ReplySchedule::next() const
{
    std::optional<Clock::time_point> next;
    for (const Item &s : items_)
        if (!next || s.at < *next)
            next = s.at;
    return next;
}

std::optional<Clock::time_point> ReplySchedule::lastHeld() const
{
    std::optional<Clock::time_point> last;
    for (const Item &s : items_)
        if (s.kind == Item::Kind::Held && (!last || s.at > *last))
            last = s.at;
    return last;
}

std::vector<ReplySchedule::Item> ReplySchedule::takeDue(Clock::time_point now)
{
    std::vector<Item> due;
    for (std::size_t i = 0; i < items_.size();) {
        if (items_[i].at > now) {
            ++i;
            continue;
        }
        due.push_back(items_[i]);
        if (items_[i].every.count()) {
            items_[i].at += items_[i].every;
            ++i;
        } else {
            items_.erase(items_.begin() + long(i));
        }
    }
    return due;
}

}  // namespace torvexsim
