#include "BootLoader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace torvexsim {

const char *stateName(State s)
{
    switch (s) {
    case State::Firmware: return "running firmware";
    case State::BootLoader: return "boot loader";
    case State::Writing: return "write mode";
    case State::HungUp: return "hung up";
    }
    return "?";
}

namespace {

std::size_t flashSizeOf(const Options &o)
{
    return o.flashSize ? o.flashSize : chipFlashSize(o.manufacturerCode, o.deviceCode);
}

void putText(Bytes &out, const std::string &s, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i)
        out.push_back(i < s.size() ? std::uint8_t(s[i]) : std::uint8_t(' '));
}

// Four hex digits as the boot loader sends them: nibble characters, or the
// digits themselves for a loader that does not.
void putCode(Bytes &out, const std::string &hex, bool plain)
{
    for (std::size_t i = 0; i < 4; ++i) {
        const char c = i < hex.size() ? hex[i] : '0';
        if (plain) {
            out.push_back(std::uint8_t(std::toupper(static_cast<unsigned char>(c))));
            continue;
        }
        const int v = std::isdigit(static_cast<unsigned char>(c))
            ? c - '0'
            : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
        out.push_back(nibbleChar(unsigned(v)));
    }
}

std::string hex8(std::uint32_t v)
{
    char buf[12];
    std::snprintf(buf, sizeof buf, "%08X", v);
    return buf;
}

}  // namespace

BootLoader::BootLoader(const Options &options)
    : opt_(options),
      flash_(flashSizeOf(options), options.initialFlash),
      state_(options.startInBootLoader ? State::BootLoader : State::Firmware)
{
    for (const FaultRule &r : opt_.faults)
        rules_.push_back({r, 0});
}

bool BootLoader::wakeByte(std::uint8_t b)
{
    wakeWindow_ = ((wakeWindow_ << 8) | b) & 0xFFFFFF;
    if (state_ != State::Firmware || wakeWindow_ != ((std::uint32_t('B') << 16) | ('L' << 8) | CR))
        return false;
    state_ = State::BootLoader;
    wakeWindow_ = 0;
    return true;
}

Bytes BootLoader::identifyReply() const
{
    Bytes payload;
    putCode(payload, opt_.manufacturerCode, opt_.plainHexCodes);
    putCode(payload, opt_.deviceCode, opt_.plainHexCodes);
    putText(payload, opt_.softwareVersion, 8);
    putText(payload, opt_.modelCode, 3);
    payload.insert(payload.end(), opt_.identifyExtra.begin(), opt_.identifyExtra.end());
    return makeReply(ACK, payload);
}

Outcome BootLoader::nak(std::string why) const
{
    Outcome o;
    o.reply = makeReply(NAK);
    o.note = std::move(why);
    return o;
}

std::optional<FaultTarget> BootLoader::targetOf(const Frame &f) const
{
    FaultTarget t;
    if (f.kind == Frame::Kind::Command) {
        t.kind = FaultTarget::Kind::Command;
        t.letter = char(f.letter);
        return t;
    }
    if (f.length == 0) {
        t.kind = FaultTarget::Kind::End;
        return t;
    }
    if (state_ != State::Writing)
        return std::nullopt;
    t.kind = FaultTarget::Kind::Block;
    if (f.seq == expectedSeq_)
        t.block = accepted_;
    else if (haveLast_ && f.seq == lastSeq_)
        t.block = accepted_ - 1;
    else
        return std::nullopt;
    return t;
}

std::vector<const FaultRule *> BootLoader::activeRules(const FaultTarget &t)
{
    std::vector<const FaultRule *> hit;
    for (Rule &r : rules_) {
        const FaultTarget &rt = r.rule.target;
        if (rt.kind != t.kind)
            continue;
        if ((t.kind == FaultTarget::Kind::Command && rt.letter != t.letter)
            || (t.kind == FaultTarget::Kind::Block && rt.block != t.block))
            continue;
        if (r.rule.times >= 0 && r.hits >= r.rule.times)
            continue;
        ++r.hits;
        hit.push_back(&r.rule);
    }
    return hit;
}

Outcome BootLoader::handle(const Frame &f)
{
    if (!f.ok())
        return nak(!f.endOk ? "bad frame: no CR at the end"
                   : !f.fieldsOk ? "bad frame: value is not nibble characters"
                                 : "bad frame: checksum");

    std::vector<const FaultRule *> active;
    if (const auto t = targetOf(f))
        active = activeRules(*t);
    const auto anyRules = activeRules(FaultTarget{FaultTarget::Kind::Any, 0, 0});
    active.insert(active.end(), anyRules.begin(), anyRules.end());
    for (const FaultRule *r : active) {
        if (r->kind == FaultKind::Silence) {
            Outcome o;
            o.silenced = true;
            o.note = "ignored (fault rule)";
            return o;
        }
    }
    for (const FaultRule *r : active)
        if (r->kind == FaultKind::Refuse)
            return nak("refused (fault rule)");

    Outcome o = f.kind == Frame::Kind::Command ? handleCommand(f) : handleData(f);

    auto has = [&](FaultKind k) -> const FaultRule * {
        for (const FaultRule *r : active)
            if (r->kind == k)
                return r;
        return nullptr;
    };
    if (o.reply.size() >= ShortReplySize) {
        if (const FaultRule *r = has(FaultKind::WrongCode)) {
            o.reply[1] = std::uint8_t(r->param);
            resealReply(o.reply);
        }
        if (has(FaultKind::BadChecksum))
            o.reply[o.reply.size() - 2] ^= 0xFF;
    }
    if (const FaultRule *r = has(FaultKind::Truncate))
        o.reply.resize(std::min(o.reply.size(), std::size_t(r->param)));
    if (const FaultRule *r = has(FaultKind::Delay))
        o.busy += std::chrono::milliseconds(r->param);
    if (!o.reply.empty()) {
        // Garbage that can never pass for a reply: no STX, no CR.
        auto garbage = [](int n, unsigned seed) {
            Bytes g;
            for (int i = 0; i < n; ++i, seed = seed * 1103515245u + 12345u)
                g.push_back(std::uint8_t(0x80 | ((seed >> 16) & 0x7F)));
            return g;
        };
        if (const FaultRule *r = has(FaultKind::StrayBefore))
            o.strayBefore = garbage(r->param, unsigned(accepted_) + 7);
        if (const FaultRule *r = has(FaultKind::StrayAfter))
            o.strayAfter = garbage(r->param, unsigned(accepted_) + 11);
        if (const FaultRule *r = has(FaultKind::Twice))
            o.copyAfterMs = r->param;
        if (const FaultRule *r = has(FaultKind::Repeat))
            o.repeatEveryMs = r->param;
    }
    if (has(FaultKind::LoseReply)) {
        o.reply.clear();
        o.note += o.note.empty() ? "reply lost (fault rule)" : "; reply lost (fault rule)";
    }
    return o;
}

Outcome BootLoader::handleCommand(const Frame &f)
{
    switch (f.letter) {
    case 'I': {
        Outcome o;
        o.reply = identifyReply();
        return o;
    }
    case 'E': {
        if (f.value32 != GuardValue)
            return nak("erase: wrong guard " + hex8(f.value32));
        Outcome o;
        o.busy = opt_.eraseTime;
        o.background = opt_.eraseInBackground;
        if (opt_.eraseOutcome == EraseOutcome::Nak) {
            o.reply = makeReply(NAK);
            o.note = "erase failed (erase outcome)";
            return o;
        }
        state_ = State::BootLoader;
        if (opt_.eraseInBackground) {
            o.wipeWhenDone = true;
            o.note = "erase started in the background";
        } else {
            flash_.erase();
            o.erased = true;
            o.note = "flash erased";
        }
        o.reply = makeReply(ACK);
        if (opt_.eraseOutcome == EraseOutcome::Silent)
            o.reply.clear();
        else if (opt_.eraseOutcome == EraseOutcome::BadChecksum)
            o.reply[3] ^= 0xFF;
        else if (opt_.eraseOutcome == EraseOutcome::WrongCode) {
            o.reply[1] = 0x07;
            resealReply(o.reply);
        }
        return o;
    }
    case 'W': {
        state_ = State::Writing;
        writePtr_ = 0;
        expectedSeq_ = 0;
        haveLast_ = false;
        accepted_ = 0;
        Outcome o = ack();
        o.note = "write mode";
        return o;
    }
    case 'S': {
        if (f.value32 != GuardValue)
            return nak("reset: wrong guard " + hex8(f.value32));
        Outcome o = ack();
        state_ = State::Firmware;
        wakeWindow_ = 0;
        o.reset = true;
        o.note = "reset to the firmware";
        return o;
    }
    default:
        return nak("unknown command");
    }
}

Outcome BootLoader::handleData(const Frame &f)
{
    if (f.length == 0) {
        Outcome o = ack();
        if (state_ == State::Writing) {
            state_ = State::BootLoader;
            o.writeModeEnded = true;
            o.note = "write mode ended: " + std::to_string(accepted_) + " blocks, "
                + std::to_string(flash_.extent()) + " bytes";
        }
        return o;
    }
    if (state_ != State::Writing)
        return nak("data outside write mode");

    Outcome o = ack();
    o.busy = opt_.programTime;
    if (f.seq == expectedSeq_) {
        if (!flash_.program(writePtr_, f.data.data(), f.length))
            return nak("block " + std::to_string(accepted_) + " overruns the flash");
        haveLast_ = true;
        lastSeq_ = f.seq;
        lastOffset_ = writePtr_;
        lastLength_ = f.length;
        writePtr_ += f.length;
        expectedSeq_ = std::uint8_t(f.seq + 1);
        o.blockWritten = true;
        o.note = "block " + std::to_string(accepted_) + " at " + std::to_string(lastOffset_);
        if (opt_.hangUpAfterBlock == accepted_ && !hungUp_) {
            hungUp_ = true;
            o.hangUpAfter = true;
        }
        ++accepted_;
        return o;
    }
    if (haveLast_ && f.seq == lastSeq_) {
        if (f.length != lastLength_)
            return nak("retransmission with another length");
        flash_.program(lastOffset_, f.data.data(), f.length);
        o.retransmission = true;
        o.note = "block " + std::to_string(accepted_ - 1) + " again at " + std::to_string(lastOffset_);
        return o;
    }
    return nak("sequence " + std::to_string(f.seq) + ", expected " + std::to_string(expectedSeq_));
}

}  // namespace torvexsim
