#include "link/LineTrust.h"

#include <algorithm>

namespace trust {

namespace {

constexpr std::uint8_t STX = 0x02;

}  // namespace

void LineTrust::beginUpdate(Nanos now)
{
    m_takes.clear();
    m_replyTimes.clear();
    m_recentFrom = 0;
    m_doubts.clear();
    m_deciding.reset();
    m_lastFrame = Frame::None;
    m_owed = 0;
    m_judging = false;
    m_unusable = false;
    m_void = false;
    m_unproven = false;
    m_takeStands = false;
    if (m_suspect) {
        m_doubtLimit = std::max(m_doubtLimit, m_policy.earlierRunQuiet);
        m_doubts.push_back({Cause::EarlierRun, Frame::None, now});
    }
}

void LineTrust::bytesOutside(Nanos now, std::span<const std::uint8_t> bytes)
{
    if (!m_judging)
        return;
    for (const std::uint8_t b : bytes) {
        if (b != STX)
            continue;  // noise, or the tail of a reply: cannot start one
        if (m_owed > 0) {
            --m_owed;  // the last frame's reply, late
            continue;
        }
        extraReply(now);
        return;
    }
}

void LineTrust::frameSent(Nanos now, Frame frame, int limitMs)
{
    if (frame == Frame::Resync)
        m_judging = true;
    for (Take &t : m_takes) {
        t.followedByBlock = t.followedByBlock || frame == Frame::Block;
        t.followedByEnd = t.followedByEnd || frame == Frame::EndWrite;
    }
    m_lastFrame = frame;
    m_lastFrameAt = now;
    m_lastLimit = Nanos(limitMs) * Ms;
    m_owed = 1;
    m_void = false;
    m_takeStands = false;
}

void LineTrust::replyEnded(Nanos now, Reply reply, std::span<const std::uint8_t> received, int replyLength)
{
    const bool wellFormed = reply == Reply::Ack || reply == Reply::Refused;
    if (wellFormed) {
        m_owed = 0;
        m_lastReplyAt = now;
        m_lastReplyFrameAt = m_lastFrameAt;
        // The pace the end is watched at: the writing's, not the erase's or a
        // boot loader's just woken.
        if (m_lastFrame == Frame::WriteMode || m_lastFrame == Frame::Block || m_lastFrame == Frame::EndWrite
            || m_lastFrame == Frame::Reset) {
            m_replyTimes.push_back(now - m_lastFrameAt);
        }
        if (reply == Reply::Ack) {
            m_takes.push_back({m_lastFrame, m_lastFrameAt, m_lastLimit});
            m_takeStands = true;
        }
        // Bytes beyond the reply are ignored unless one can start another.
        const std::size_t from = std::min(received.size(), std::size_t(std::max(0, replyLength)));
        bytesOutside(now, received.subspan(from));
        return;
    }
    // A damaged or partial reply may have been garbage with the frame's own
    // reply in it or still to come: its reply start pays what the frame owed.
    bytesOutside(now, received);
    suspect(now, reply == Reply::Damaged ? Cause::DamagedReply
                 : reply == Reply::UnknownCode ? Cause::UnknownCode : Cause::NoReply,
            m_lastLimit);
}

void LineTrust::suspect(Nanos now, Cause cause, Nanos doubtLimit)
{
    m_suspect = true;
    m_doubtLimit = std::max(m_doubtLimit, doubtLimit);
    m_doubts.push_back({cause, m_lastFrame, now});
}

void LineTrust::extraReply(Nanos now)
{
    suspect(now, Cause::ExtraReply, m_lastLimit);
    const Doubt doubt = m_doubts.back();
    const bool lastIsCurrent = m_takeStands;
    bool undone = false;
    for (auto t = m_takes.begin(); t != m_takes.end();) {
        // A take whose frame could no longer be owed its reply stands.
        if (t->frameAt + m_policy.owedFactor * t->limit < now) {
            ++t;
            continue;
        }
        const bool isLast = t + 1 == m_takes.end();
        switch (t->frame) {
        case Frame::Block:
            if (t->followedByEnd) {
                m_unproven = true;
            } else if (!t->followedByBlock) {
                // Not yet guarded by a later block: sent again, it proves itself.
                m_void = true;
                undone = undone || isLast;
                t = m_takes.erase(t);
                continue;
            }
            break;
        case Frame::Erase:
        case Frame::WriteMode:
        case Frame::EndWrite:
        case Frame::Reset:
            m_unproven = true;
            undone = undone || isLast;
            break;
        default:
            break;
        }
        ++t;
    }
    if (lastIsCurrent && (undone || m_unproven))
        m_takeStands = false;
    if ((m_void || m_unproven) && !m_deciding)
        m_deciding = doubt;
}

Verdict LineTrust::verdict() const
{
    if (m_unproven)
        return Verdict::Unproven;
    if (m_void)
        return Verdict::Void;
    return m_suspect ? Verdict::Doubted : Verdict::Clean;
}

Gate LineTrust::gate(Nanos now, Nanos lastRxAt, Nanos waitingSince) const
{
    if (m_unusable)
        return {Gate::Unusable, now};
    if (!m_suspect)
        return {Gate::Go, now};
    const Nanos doubt = m_doubtLimit;
    // Every reply still owed has come and gone, or can no longer come ...
    const Nanos notBefore = m_lastFrameAt + m_policy.owedFactor * doubt;
    // ... and the line has been quiet for the limit in doubt.
    const Nanos quietAt = std::max(m_lastFrameAt, lastRxAt) + doubt;
    const Nanos readyAt = std::max(quietAt, notBefore);
    if (now >= readyAt)
        return {Gate::Go, now};
    const Nanos giveUpAt = std::max(waitingSince, notBefore) + m_policy.babbleFactor * doubt;
    if (now >= giveUpAt)
        return {Gate::Unusable, now};
    return {Gate::Wait, std::min(readyAt, giveUpAt)};
}

void LineTrust::waitedOut()
{
    m_suspect = false;
    m_doubtLimit = 0;
}

void LineTrust::gaveUp(Nanos now)
{
    m_unusable = true;
    m_doubts.push_back({Cause::BabblingLine, m_lastFrame, now});
    if (!m_deciding)
        m_deciding = m_doubts.back();
}

Nanos LineTrust::horizon() const
{
    const Nanos longest = m_replyTimes.empty() ? 0 : *std::max_element(m_replyTimes.begin(), m_replyTimes.end());
    return std::max(m_policy.watchMin, longest * m_policy.watchEighths / 8 + m_policy.watchSlack);
}

bool LineTrust::standsOut(Nanos replyTime, std::size_t of) const
{
    if (of < 2)
        return false;
    std::vector<Nanos> sorted(m_replyTimes.begin(), m_replyTimes.begin() + std::ptrdiff_t(of));
    const auto middle = sorted.begin() + std::ptrdiff_t((sorted.size() - 1) / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    return replyTime > m_policy.standOutFactor * *middle + m_policy.standOutSlack;
}

bool LineTrust::recentReplyStandsOut() const
{
    const std::size_t recent = std::size_t(std::max(0, m_policy.recentReplies));
    const std::size_t from = std::max(m_recentFrom, m_replyTimes.size() - std::min(recent, m_replyTimes.size()));
    Nanos longest = 0;
    for (std::size_t i = from; i < m_replyTimes.size(); ++i)
        longest = std::max(longest, m_replyTimes[i]);
    return standsOut(longest, m_replyTimes.size());
}

bool LineTrust::lastReplyStandsOut() const
{
    return !m_replyTimes.empty() && m_replyTimes.size() > m_recentFrom
        && standsOut(m_replyTimes.back(), m_replyTimes.size() - 1);
}

Nanos LineTrust::watchBeforeLastBlock() const
{
    if (recentReplyStandsOut())
        return m_lastReplyAt + m_policy.longWatch;
    return m_lastReplyFrameAt + horizon();
}

Nanos LineTrust::watchAfterEnd() const
{
    return m_lastReplyAt + (recentReplyStandsOut() ? m_policy.longWatch : horizon());
}

void LineTrust::watchedQuietly()
{
    if (recentReplyStandsOut())
        m_recentFrom = m_replyTimes.size();
}

}  // namespace trust
