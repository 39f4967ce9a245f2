#include "Options.h"

#include <cctype>
#include <charconv>

namespace torvexsim {

namespace {

bool fail(std::string *error, std::string why)
{
    if (error)
        *error = std::move(why);
    return false;
}

// Decimal, or hexadecimal with 0x.
std::optional<long> number(std::string_view s)
{
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v < 0)
        return std::nullopt;
    return v;
}

bool parseTarget(std::string_view t, FaultTarget &out, std::string *error)
{
    if (t == "end") {
        out.kind = FaultTarget::Kind::End;
        return true;
    }
    if (t == "any") {
        out.kind = FaultTarget::Kind::Any;
        return true;
    }
    std::string_view digits = t;
    if (digits.substr(0, 5) == "block")
        digits.remove_prefix(5);
    if (!digits.empty() && std::isdigit(static_cast<unsigned char>(digits[0]))) {
        const auto k = number(digits);
        if (!k)
            return fail(error, "bad block index \"" + std::string(t) + "\"");
        out.kind = FaultTarget::Kind::Block;
        out.block = static_cast<unsigned>(*k);
        return true;
    }
    if (t.size() == 1 && std::isupper(static_cast<unsigned char>(t[0])) && t[0] != DataLetter) {
        out.kind = FaultTarget::Kind::Command;
        out.letter = t[0];
        return true;
    }
    return fail(error, "unknown target \"" + std::string(t) + "\" (a command letter, end, or blockK)");
}

}  // namespace

std::optional<FaultRule> parseFaultRule(std::string_view text, std::string *error)
{
    FaultRule rule;
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        fail(error, "expected TARGET:KIND");
        return std::nullopt;
    }
    if (!parseTarget(text.substr(0, colon), rule.target, error))
        return std::nullopt;

    std::string_view rest = text.substr(colon + 1);
    if (const auto star = rest.rfind('*'); star != std::string_view::npos) {
        const auto times = number(rest.substr(star + 1));
        if (!times || *times == 0) {
            fail(error, "bad repeat count in \"" + std::string(text) + "\"");
            return std::nullopt;
        }
        rule.times = static_cast<int>(*times);
        rest = rest.substr(0, star);
    }
    std::string_view kind = rest;
    std::optional<long> arg;
    if (const auto eq = rest.find('='); eq != std::string_view::npos) {
        kind = rest.substr(0, eq);
        arg = number(rest.substr(eq + 1));
        if (!arg) {
            fail(error, "bad argument in \"" + std::string(text) + "\"");
            return std::nullopt;
        }
    }

    auto needArg = [&]() {
        if (arg)
            return true;
        return fail(error, std::string(kind) + " needs =N");
    };
    if (kind == "silence" || kind == "silent") {
        rule.kind = FaultKind::Silence;
    } else if (kind == "refuse" || kind == "nak") {
        rule.kind = FaultKind::Refuse;
        if (arg) {
            if (*arg == 0) {
                fail(error, "refuse=0 refuses nothing");
                return std::nullopt;
            }
            rule.times = static_cast<int>(*arg);
        }
    } else if (kind == "bad-checksum" || kind == "badsum") {
        rule.kind = FaultKind::BadChecksum;
    } else if (kind == "code" || kind == "wrong-code") {
        rule.kind = FaultKind::WrongCode;
        rule.param = arg ? static_cast<int>(*arg) : 0x07;
        if (rule.param > 0xFF) {
            fail(error, "a reply code is one byte");
            return std::nullopt;
        }
    } else if (kind == "truncate") {
        if (!needArg())
            return std::nullopt;
        rule.kind = FaultKind::Truncate;
        rule.param = static_cast<int>(*arg);
    } else if (kind == "delay") {
        if (!needArg())
            return std::nullopt;
        rule.kind = FaultKind::Delay;
        rule.param = static_cast<int>(*arg);
    } else if (kind == "lose" || kind == "lose-reply") {
        rule.kind = FaultKind::LoseReply;
    } else if (kind == "twice" || kind == "stray-before" || kind == "stray-after" || kind == "repeat") {
        if (!needArg())
            return std::nullopt;
        rule.kind = kind == "twice"          ? FaultKind::Twice
                    : kind == "stray-before" ? FaultKind::StrayBefore
                    : kind == "stray-after"  ? FaultKind::StrayAfter
                                             : FaultKind::Repeat;
        rule.param = static_cast<int>(*arg);
        if (rule.kind == FaultKind::Repeat && rule.param == 0) {
            fail(error, "repeat=0 would flood the line");
            return std::nullopt;
        }
    } else {
        fail(error, "unknown fault \"" + std::string(kind) + "\"");
        return std::nullopt;
    }
    return rule;
}

std::optional<EraseOutcome> parseEraseOutcome(std::string_view text)
{
    if (text == "ack")
        return EraseOutcome::Ack;
    if (text == "nak")
        return EraseOutcome::Nak;
    if (text == "silent")
        return EraseOutcome::Silent;
    if (text == "bad-checksum")
        return EraseOutcome::BadChecksum;
    if (text == "wrong-code")
        return EraseOutcome::WrongCode;
    return std::nullopt;
}

std::size_t chipFlashSize(std::string_view manufacturer, std::string_view device)
{
    auto same = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (std::toupper(static_cast<unsigned char>(a[i])) != b[i])
                return false;
        return true;
    };
    if (same(manufacturer, "0020") && same(device, "22CB"))
        return 4u << 20;  // M29W320DB
    return 2u << 20;      // M29W160EB, and the guess for anything unknown
}

}  // namespace torvexsim
