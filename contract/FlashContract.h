#pragma once
// What torvex-flash promises the programs that run it, the station among
// them: its exit statuses, the outcome word of each, the stage and doubt
// words, and the names of its JSON events and fields (doc/json-events.md).
// Both sides build against this one header, so that a name cannot drift on
// one side only; it needs nothing of the updater's code.

#include <QLatin1String>
#include <QString>

// The exit status: scripts depend on the numbers.
enum ExitCode : int {
    ExitOk = 0,               // written, write mode ended, reset acknowledged
    ExitUsage = 1,            // bad command line
    ExitImageRefused = 2,     // image refused or unreadable: nothing sent
    ExitPortUnusable = 3,     // the port cannot be opened
    ExitNoConnection = 4,     // identify or write mode not acknowledged
    ExitEraseFailed = 5,
    ExitWriteFailed = 6,      // a block failed its three attempts
    ExitEndWriteRefused = 7,  // written and reset, but the end of write mode was refused
    ExitResetRefused = 8,     // written, the reset not acknowledged
    ExitPortLost = 9,         // the device vanished or hung up during the update
    ExitUnproven = 10,        // written, but the line put the end in doubt
    ExitInterrupted = 130,    // stopped by a signal: 128 + its number (SIGINT here)
};

// The end event's "outcome": one word per exit status.
namespace outcome {
inline constexpr QLatin1String Ok("ok");
inline constexpr QLatin1String Usage("usage");
inline constexpr QLatin1String ImageRefused("image-refused");
inline constexpr QLatin1String PortUnusable("port-unusable");
inline constexpr QLatin1String NoConnection("no-connection");
inline constexpr QLatin1String EraseFailed("erase-failed");
inline constexpr QLatin1String WriteFailed("write-failed");
inline constexpr QLatin1String EndWriteRefused("end-write-refused");
inline constexpr QLatin1String ResetRefused("reset-refused");
inline constexpr QLatin1String PortLost("port-lost");
inline constexpr QLatin1String Unproven("unproven");
inline constexpr QLatin1String Interrupted("interrupted");  // any status above 128: a signal
inline constexpr QLatin1String Failed("failed");            // any other status
}  // namespace outcome

struct ExitMeaning {
    int code;
    const char *codes;  // as --help lists them
    QLatin1String outcome;
    const char *help;   // continuation lines indented by five spaces
};

// In the order --help lists them.
inline constexpr ExitMeaning ExitMeanings[] = {
    {ExitOk, "0", outcome::Ok, "updated: written, write mode ended, reset acknowledged"},
    {ExitUsage, "1", outcome::Usage, "usage error"},
    {ExitImageRefused, "2", outcome::ImageRefused, "image refused or unreadable (nothing sent)"},
    {ExitPortUnusable, "3", outcome::PortUnusable, "port unusable (cannot be opened)"},
    {ExitNoConnection, "4", outcome::NoConnection, "no connection (identify or write mode not acknowledged)"},
    {ExitEraseFailed, "5", outcome::EraseFailed, "erase failed"},
    {ExitWriteFailed, "6", outcome::WriteFailed,
     "write failed (a block not acknowledged in three attempts, or the line\n"
     "     unusable)"},
    {ExitEndWriteRefused, "7", outcome::EndWriteRefused, "end of write mode refused (written and reset)"},
    {ExitResetRefused, "8", outcome::ResetRefused, "reset refused (written)"},
    {ExitPortLost, "9", outcome::PortLost, "port lost: the device vanished or hung up during the update"},
    {ExitUnproven, "10", outcome::Unproven,
     "unproven: the line showed more replies than frames after the erase;\n"
     "     the flash may not hold the image (run the update again)"},
    {ExitInterrupted, "129, 130, 143", outcome::Interrupted,
     "stopped by SIGHUP, SIGINT, SIGTERM between two frames; the port\n"
     "     is closed properly and the indicator needs a new update (a second signal\n"
     "     ends at once)"},
};

inline QLatin1String outcomeWord(int exitCode)
{
    if (exitCode > 128)
        return outcome::Interrupted;
    for (const ExitMeaning &m : ExitMeanings)
        if (m.code == exitCode)
            return m.outcome;
    return outcome::Failed;
}

// The "Exit status:" section of --help.
inline QString exitStatusHelp()
{
    QString text = QStringLiteral("\nExit status:\n");
    for (const ExitMeaning &m : ExitMeanings)
        text += QStringLiteral("  %1  %2\n").arg(QLatin1String(m.codes), QLatin1String(m.help));
    return text;
}

// The stages of an update in their order: the "stage" field's words.
inline constexpr QLatin1String StageWords[] = {
    QLatin1String("wake-up"), QLatin1String("identify"), QLatin1String("erase"),
    QLatin1String("write mode"), QLatin1String("write"), QLatin1String("end of write"),
    QLatin1String("reset"),
};

// Why a reply or the line was doubted: the "doubt" field's words.
namespace doubt {
inline constexpr QLatin1String NoReply("no-reply");
inline constexpr QLatin1String DamagedReply("damaged-reply");
inline constexpr QLatin1String UnknownCode("unknown-code");
inline constexpr QLatin1String ExtraReply("extra-reply");
inline constexpr QLatin1String BabblingLine("babbling-line");
inline constexpr QLatin1String EarlierRun("earlier-run");
}  // namespace doubt

struct DoubtMeaning {
    QLatin1String cause;
    const char *meaning;  // what the line did, one line for users
    const char *action;   // what to do about it, one line for users
};

// In the order of the doubt namespace.
inline constexpr DoubtMeaning DoubtMeanings[] = {
    {doubt::NoReply, "a reply did not come within its time limit",
     "check the cable and that the indicator is on, then run the update again"},
    {doubt::DamagedReply, "a reply came with a wrong checksum",
     "check the cable and its screening, then run the update again"},
    {doubt::UnknownCode, "a reply code was neither acknowledge nor refuse",
     "check that nothing else talks on the line, then run the update again"},
    {doubt::ExtraReply, "the line showed more replies than frames sent: a copy, a stray or a late reply",
     "run the update again; if it recurs, use another adapter or cable"},
    {doubt::BabblingLine, "the line never went quiet",
     "check that nothing else talks on the line and that the indicator is in its boot loader"},
    {doubt::EarlierRun, "an earlier update on this port left the line in doubt",
     "run the update again once the line has been quiet"},
};

// The entry of a cause word, or nullptr.
inline const DoubtMeaning *doubtMeaning(QLatin1String cause)
{
    for (const DoubtMeaning &d : DoubtMeanings)
        if (d.cause == cause)
            return &d;
    return nullptr;
}

// --json: the "event" of each line.
namespace event {
inline constexpr QLatin1String Start("start");
inline constexpr QLatin1String Stage("stage");
inline constexpr QLatin1String Indicator("indicator");
inline constexpr QLatin1String Progress("progress");
inline constexpr QLatin1String Status("status");
inline constexpr QLatin1String Message("message");
inline constexpr QLatin1String Waiting("waiting");
inline constexpr QLatin1String Doubt("doubt");  // a suspect event: cause, stage, t
inline constexpr QLatin1String End("end");
}  // namespace event

// --json and --log: the fields of the events.
namespace field {
inline constexpr QLatin1String Event("event");
inline constexpr QLatin1String T("t");  // seconds since the program started
inline constexpr QLatin1String Port("port");
inline constexpr QLatin1String Device("device");
inline constexpr QLatin1String Image("image");
inline constexpr QLatin1String Size("size");
inline constexpr QLatin1String Sha256("sha256");
inline constexpr QLatin1String Version("version");
inline constexpr QLatin1String Model("model");
inline constexpr QLatin1String Lab("lab");
inline constexpr QLatin1String Time("time");
inline constexpr QLatin1String Stage("stage");
inline constexpr QLatin1String Chip("chip");
inline constexpr QLatin1String Sent("sent");
inline constexpr QLatin1String Total("total");
inline constexpr QLatin1String Retries("retries");
inline constexpr QLatin1String Text("text");
inline constexpr QLatin1String Icon("icon");
inline constexpr QLatin1String Outcome("outcome");
inline constexpr QLatin1String Exit("exit");
inline constexpr QLatin1String Duration("duration");
inline constexpr QLatin1String Blocks("blocks");
inline constexpr QLatin1String Indicator("indicator");
inline constexpr QLatin1String Message("message");
inline constexpr QLatin1String Error("error");
inline constexpr QLatin1String Doubt("doubt");            // a doubt's cause word; on the end: the one that decided it
inline constexpr QLatin1String DoubtStage("doubtStage");  // the stage word where that doubt showed
inline constexpr QLatin1String Cause("cause");            // the doubt event's cause word
inline constexpr QLatin1String Started("started");  // --log only
inline constexpr QLatin1String Host("host");        // --log only
}  // namespace field
