#include "check_options.h"

#include "check_line.h"
#include "check_rules.h"
#include "frame_matcher.h"
#include "stream_check.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QtMath>

#include <initializer_list>
#include <optional>
#include <utility>

namespace {

// The line of a run told nothing else about it: the window's.
constexpr LineSettings kDefaultLine;

// A year: longer than anyone waits for a run, and far inside the
// nanoseconds a run's clock counts.
constexpr double kLongestStreamSeconds = 366.0 * 24 * 3600;

// What the options list cannot say: how ports are named, what is sent, how
// a frame is judged, and what a script gets back.
QString Details()
{
    return QStringLiteral(R"(
A COM number N (3 or COM3) leads where it leads in the comloop window: to
the device the link ~/.config/comloop/comN points to ($XDG_CONFIG_HOME
instead of ~/.config when set), else to the built-in UART /dev/ttyS<N-1>.
A path (it has a slash) names the device itself. Unless told otherwise
(below), both ports run at %1 baud, %2 data bits, no parity, 1 stop bit,
no flow control.

The line, for both ports: --baud takes any rate from 1 up; one that is
not a standard rate is asked of the driver as a number, and a driver that
cannot make it refuses the open (status 2) or runs at a rate of its own,
a setting not taken. --data-bits 7 sends the very same frames: all their
bytes are ASCII, below 0x80, so they fit in 7 bits. With --flow rtscts a
port sends only while its CTS is raised, wired to the other side's RTS.
The timeout, the timing and the nominal byte rate follow the line asked
for: a byte takes 1 start bit, the data bits, a parity bit if any and the
stop bits at the line's rate, a frame %3 bytes, and the default timeout
is ten frame times, but never below %11 ms, for a USB adapter's latency.
A pseudo-terminal keeps the rate, the stop bits and flow control, but
always carries 8 data bits without parity: there --data-bits 7 or
--parity is a setting not taken.

Each frame is the window's %3 bytes: "%4%5" and the value as %6
upper-case hex digits, within 0..32000. The values of 32001 frames in a
row all differ, and any 16 in a row put each hex digit on the lowest
place. Each run starts at a point of that sequence picked by chance, its
seed, shown first (and as "seed" in JSON), so frames an earlier run left
in a buffer or a relay are wrong frames, not this run's: only runs whose
seeds fall within their frame counts of each other share values (two runs
of 100 frames, about 1 in 160); --seed N sends the same frames again, byte
for byte. One frame is awaited at a time: the
next goes out once the one before has left SLAVE and has come back or its
timeout (default %7 ms at %10, ten times the %8 ms a frame
takes on the line) has passed. Nothing else found at MASTER lets a
frame go sooner. With --both, as many frames then go from MASTER to
SLAVE, on the same two open ports, the values going on where the first
direction's ended; every problem and the summary name the direction, a
direction that carries nothing fails the run, and one verdict covers
both. --until-ber RATE sends the frames that, all intact, put the bit
error rate's 95% bound below RATE (96 bits a frame at 8 data bits; 1e-6 takes 31251
frames), says so first, and ends at the first fault.
With --stream SECONDS frames go out instead as fast as
SLAVE's driver takes them, for that long: it is kept fed with %12 frames'
worth, no more, and a frame's timeout runs from when the line could have
carried it and all queued before it. Each frame is still told by its
value, so a frame that comes after one sent later counts as reordered (a
fault) besides received or late, the round trip includes the wait in
SLAVE's queue, and the rate in the summary is what the line carried at
full speed.
MASTER compares every byte that arrives with what was sent. A frame of
the right shape (the preamble, the marker, %6 upper-case hex digits)
marks where frames lie, so one lost or extra byte costs only the frame it
hit; a frame whose bytes began to come before its timeout is matched once
they are all here, and at the end every byte read is matched before the
summary. Each frame sent is
  received  it came back intact while it was awaited
  late      it came back intact after its timeout
  corrupt   its bytes came with any of them wrong, or cut short
  missing   nothing of it came
and besides them
  wrong     a frame nobody awaited: a value this run never sent (a digit
            turned into another, a frame of an earlier run), or a frame
            that came again
  stray     bytes that belong to no frame
  reordered received or late, after a frame sent later
One line is printed per problem, for the first 100; the summary counts
them all. On a terminal a progress line shows during long runs. The
summary gives the counts, the round trip (median and maximum) and the byte
rate at MASTER against the line's nominal rate (%9 B/s at %10),
and then:
  timing    virtual (bytes moved faster than the line allows: a
            pseudo-terminal, an emulated UART, or a rate not applied),
            consistent with the line, or slow (adapter latency, or another
            rate), from the fastest round trip; with --require-wire,
            anything but consistent is a fault
  bit error rate  every byte that came is compared with the one that
            should have: 96 bits a frame, 84 at 7 data bits (a stray
            byte, or a frame that came again, counts as at least one wrong
            bit). With no bit wrong, the
            bound at 95% confidence (the rule of three); else the rate seen

Beyond the frames, from what only a real port's driver tells:
  settings  read back after opening; any the device did not take is a fault
  counters  the driver's framing, parity, overrun, buffer overrun and break
            counts before and after the run: any error counted is a fault,
            even if every frame came back; "not available on this device"
            where the driver keeps none (a pseudo-terminal)
  adapter   each port's line names its kernel driver and, for a USB
            adapter, its ids, product and latency timer
  --lines   drops and raises RTS and DTR on each side and watches CTS, DSR
            and DCD on the other: follows, stuck on, stuck off or inverted
            (a fault). Without it, RTS and DTR stay as opening left them
  --isolate each port first sends frames to itself through its UART's own
            loopback: passes, fails, or not available on this device; when
            both pass and the frames across fail, the cable is at fault
--json writes one JSON object per line instead of the text; the first has
"schema": 2, each a "type" (run, port, problem, counters, lines,
isolation, summary), and the summary holds the seed, the line ("9600
8N1"), the mode ("stop and wait"), the counts, rtt_ms, bytes_per_s,
timing, bits_compared, bit_errors and ber_below_95 of all directions, the
same for each under "directions" with its "direction", each check
with its outcome (passed, failed, could not run) and reason, why the run
ended, verdict (pass, fail, setup, lost, interrupted) and exit, which is
always the exit status. --junit FILE writes one JUnit test suite,
comloop-check, with a test case per check asked for (setup, settings,
isolation, lines, frames, counters, timing, output; with --both, frames
for each direction, as "frames slave to master"): a failure for a check that
failed, an error for one that could not run and for a run that did not get
to its end, so it holds a failure or an error exactly when the exit status
is not 0. FILE is opened when the run starts, without waiting: a FIFO
nobody reads is refused at once.

Ctrl-C (INT), TERM or HUP, or a reader of the output that goes away (as
| head does; noticed within a second even when nothing more is written),
ends the run early: the summary covers the frames settled so far, and the
ports close, which removes their locks and puts their line settings back.
Such a run never passes.

Exit status:
  0  every check asked for passed and the run got to its end: every frame
     came back intact (late ones included) and in order, and nothing came
     that was not sent
  1  a link fault: a frame went missing, came corrupt or out of order, a
     frame nobody awaited or a stray byte came, the slave's line took nothing, a
     setting was not taken, the driver counted an error, a handshake line
     did not follow, a port failed its loopback, no frame was checked,
     or (--require-wire) the timing was not consistent with the line
  2  the arguments are wrong, a port could not be opened, standard output
     or error is closed, the output or the JUnit report cannot be opened or
     written (a full disk, /dev/full, a FIFO nobody reads), or a check
     asked for cannot run on these devices (--lines or --isolate on a
     pseudo-terminal)
  3  a port was lost during the run
  4  interrupted: INT, TERM or HUP before the frames planned were settled,
     or the reader of the output went away before the summary was out;
     and no fault found so far
)")
        .arg(kLineBaud)
        .arg(kLineDataBits)
        .arg(kFrameBytes)
        .arg(QLatin1String(kFramePreamble), QString(QLatin1Char(kFrameMarker)))
        .arg(kFrameDigits)
        .arg(DefaultTimeoutMs(kDefaultLine))
        .arg(FrameOnLineMs(kDefaultLine), 0, 'f', 1)
        .arg(NominalBytesPerSecond(kDefaultLine), 0, 'f', 0)
        .arg(LineName(kDefaultLine))
        .arg(kLeastTimeoutMs)
        .arg(kStreamQueuedFrames);
}

std::optional<PortName> ParsePort(const QString &argument)
{
    static const QRegularExpression number(QStringLiteral("^(?:COM)?([0-9]+)$"),
                                           QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch match = number.match(argument); match.hasMatch()) {
        bool ok = false;
        const int value = match.captured(1).toInt(&ok);
        return ok ? std::optional(PortName{value, {}}) : std::nullopt;
    }
    if (argument.contains(QLatin1Char('/')))
        return PortName{0, argument};
    return std::nullopt;
}

CheckRequest Wrong(const QString &text)
{
    return {CheckRequest::Wrong, {}, text};
}

// The value whose word is `given`, whatever its case; nothing when no word is.
template <class Value>
std::optional<Value> OneOf(const QString &given, std::initializer_list<std::pair<const char *, Value>> words)
{
    for (const auto &[word, value] : words)
        if (given.compare(QLatin1String(word), Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

} // namespace

CheckRequest ParseCheckArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Tests a serial link from a script: sends measurement frames from SLAVE,\n"
                       "checks what arrives at MASTER, and ends with a summary and an exit status."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption frames({QStringLiteral("n"), QStringLiteral("frames")},
                                    QStringLiteral("Send <N> frames (default 100)."), QStringLiteral("N"),
                                    QStringLiteral("100"));
    const QCommandLineOption timeout({QStringLiteral("t"), QStringLiteral("timeout")},
                                     QStringLiteral("Count a frame missing after <MS> milliseconds (default ten "
                                                    "frame times, at least %1 ms: %2 at %3).")
                                         .arg(kLeastTimeoutMs)
                                         .arg(DefaultTimeoutMs(kDefaultLine))
                                         .arg(LineName(kDefaultLine)),
                                     QStringLiteral("MS"));
    const QCommandLineOption stream(QStringLiteral("stream"),
                                    QStringLiteral("Send frames at full speed for <SECONDS>, many on their way at "
                                                   "once, instead of one at a time."),
                                    QStringLiteral("SECONDS"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Start the frames' values at <N> (0 to %1) instead of a point "
                                                 "picked by chance, to repeat a run byte for byte.")
                                      .arg(kFrameValues - 1),
                                  QStringLiteral("N"));
    const QCommandLineOption lines(QStringLiteral("lines"),
                                   QStringLiteral("Test the handshake lines of a null-modem cable too: RTS to CTS, "
                                                  "DTR to DSR and DCD, both ways."));
    const QCommandLineOption isolate(QStringLiteral("isolate"),
                                     QStringLiteral("Try each port on its own UART loopback first, to tell a bad "
                                                    "port from a bad cable."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Write JSON lines to standard output instead of text."));
    const QCommandLineOption junit(QStringLiteral("junit"),
                                   QStringLiteral("Write a JUnit XML report of the checks that ran to <FILE>."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption baud(QStringLiteral("baud"),
                                  QStringLiteral("Run the line at <N> baud, any rate the driver takes (default %1).")
                                      .arg(kDefaultLine.baud),
                                  QStringLiteral("N"), QString::number(kDefaultLine.baud));
    const QCommandLineOption dataBits(QStringLiteral("data-bits"),
                                      QStringLiteral("Send <BITS> data bits a character, 7 or 8 (default %1).")
                                          .arg(kDefaultLine.dataBits),
                                      QStringLiteral("BITS"), QString::number(kDefaultLine.dataBits));
    const QCommandLineOption parity(QStringLiteral("parity"),
                                    QStringLiteral("Add a parity bit to each character: none, even or odd "
                                                   "(default none)."),
                                    QStringLiteral("PARITY"), QStringLiteral("none"));
    const QCommandLineOption stopBits(QStringLiteral("stop-bits"),
                                      QStringLiteral("End each character with <BITS> stop bits, 1 or 2 "
                                                     "(default %1).").arg(kDefaultLine.stopBits),
                                      QStringLiteral("BITS"), QString::number(kDefaultLine.stopBits));
    const QCommandLineOption flow(QStringLiteral("flow"),
                                  QStringLiteral("Flow control: none, or rtscts for RTS/CTS (default none)."),
                                  QStringLiteral("FLOW"), QStringLiteral("none"));
    const QCommandLineOption untilBer(QStringLiteral("until-ber"),
                                      QStringLiteral("Instead of -n, send as many frames as put the bit error rate's "
                                                     "95% bound below <RATE> (as 1e-6), ending at the first fault."),
                                      QStringLiteral("RATE"));
    const QCommandLineOption both(QStringLiteral("both"),
                                  QStringLiteral("Test both directions: after the frames from SLAVE to MASTER, as "
                                                 "many from MASTER to SLAVE."));
    const QCommandLineOption requireWire(QStringLiteral("require-wire"),
                                         QStringLiteral("Fail the run unless its timing is consistent with the line "
                                                        "asked for: a virtual or slow pace is a fault."));
    parser.addOptions({frames, stream, untilBer, timeout, seed, baud, dataBits, parity, stopBits, flow, both, lines,
                       isolate, requireWire, json, junit});
    parser.addPositionalArgument(QStringLiteral("MASTER"),
                                 QStringLiteral("The port that receives: a COM number or a device path."));
    parser.addPositionalArgument(QStringLiteral("SLAVE"),
                                 QStringLiteral("The port that sends: a COM number or a device path."));

    if (!parser.parse(arguments))
        return Wrong(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")))
        return {CheckRequest::Help, {}, parser.helpText() + Details()};
    if (parser.isSet(version))
        return {CheckRequest::Version, {}, QStringLiteral("comloop-check " COMLOOP_VERSION "\n")};

    const QStringList ports = parser.positionalArguments();
    if (ports.size() != 2)
        return Wrong(QStringLiteral("give two ports, MASTER and SLAVE (for example: 3 4)"));
    const std::optional<PortName> master = ParsePort(ports[0]);
    const std::optional<PortName> slave = ParsePort(ports[1]);
    if (!master || !slave)
        return Wrong(QStringLiteral("\"%1\" is neither a COM number nor a device path "
                                    "(a path has a slash, as in /dev/ttyUSB0)")
                         .arg(master ? ports[1] : ports[0]));
    CheckOptions options{*master, *slave};

    bool ok = false;
    options.frames = parser.value(frames).toLongLong(&ok);
    if (!ok || options.frames < 1)
        return Wrong(QStringLiteral("--frames wants a whole number from 1 up, not \"%1\"")
                         .arg(parser.value(frames)));
    if (int(parser.isSet(frames)) + int(parser.isSet(stream)) + int(parser.isSet(untilBer)) > 1)
        return Wrong(QStringLiteral("--frames, --stream and --until-ber each set how long a run lasts: give one"));
    if (parser.isSet(stream)) {
        options.streamSeconds = parser.value(stream).toDouble(&ok);
        if (!ok || !(options.streamSeconds > 0) || options.streamSeconds > kLongestStreamSeconds)
            return Wrong(QStringLiteral("--stream wants seconds, more than 0 and up to %1, not \"%2\"")
                             .arg(kLongestStreamSeconds, 0, 'f', 0)
                             .arg(parser.value(stream)));
        options.frames = 0;
    }
    options.both = parser.isSet(both);
    options.requireWire = parser.isSet(requireWire);
    LineSettings &line = options.line;
    line.baud = parser.value(baud).toInt(&ok);
    if (!ok || line.baud < 1)
        return Wrong(QStringLiteral("--baud wants a rate in bits a second from 1 up, not \"%1\"")
                         .arg(parser.value(baud)));
    const std::optional<int> bits = OneOf<int>(parser.value(dataBits), {{"7", 7}, {"8", 8}});
    if (!bits)
        return Wrong(QStringLiteral("--data-bits wants 7 or 8, not \"%1\"").arg(parser.value(dataBits)));
    line.dataBits = *bits;
    const std::optional<Parity> parityGiven =
        OneOf<Parity>(parser.value(parity), {{"none", Parity::None}, {"even", Parity::Even}, {"odd", Parity::Odd}});
    if (!parityGiven)
        return Wrong(QStringLiteral("--parity wants none, even or odd, not \"%1\"").arg(parser.value(parity)));
    line.parity = *parityGiven;
    const std::optional<int> stops = OneOf<int>(parser.value(stopBits), {{"1", 1}, {"2", 2}});
    if (!stops)
        return Wrong(QStringLiteral("--stop-bits wants 1 or 2, not \"%1\"").arg(parser.value(stopBits)));
    line.stopBits = *stops;
    const std::optional<Flow> flowGiven =
        OneOf<Flow>(parser.value(flow), {{"none", Flow::None}, {"rtscts", Flow::RtsCts}});
    if (!flowGiven)
        return Wrong(QStringLiteral("--flow wants none or rtscts, not \"%1\"").arg(parser.value(flow)));
    line.flow = *flowGiven;
    // Counted in the bits the line carries, which 7 data bits make fewer.
    if (parser.isSet(untilBer)) {
        options.untilBer = parser.value(untilBer).toDouble(&ok);
        if (!ok || !(options.untilBer > 0 && options.untilBer < 1))
            return Wrong(QStringLiteral("--until-ber wants a rate above 0 and below 1, as 1e-6, not \"%1\"")
                             .arg(parser.value(untilBer)));
        options.frames = FramesForBound(options.untilBer, options.line.dataBits * kFrameBytes);
    }

    options.timeoutMs = parser.isSet(timeout) ? parser.value(timeout).toInt(&ok) : DefaultTimeoutMs(line);
    if (!ok || options.timeoutMs < 1)
        return Wrong(QStringLiteral("--timeout wants milliseconds from 1 up, not \"%1\"")
                         .arg(parser.value(timeout)));
    if (parser.isSet(seed)) {
        options.seed = parser.value(seed).toLongLong(&ok);
        if (!ok || options.seed < 0 || options.seed >= kFrameValues)
            return Wrong(QStringLiteral("--seed wants a whole number from 0 to %1, not \"%2\"")
                             .arg(kFrameValues - 1)
                             .arg(parser.value(seed)));
    }
    options.lines = parser.isSet(lines);
    options.isolate = parser.isSet(isolate);
    options.json = parser.isSet(json);
    options.junit = parser.value(junit);
    if (parser.isSet(junit) && options.junit.isEmpty())
        return Wrong(QStringLiteral("--junit wants a file to write"));
    return {CheckRequest::Run, options, {}};
}

QString RunPlan(const CheckOptions &options)
{
    if (options.untilBer <= 0)
        return {};
    const qint64 frames = options.FramesInAll();
    const double seconds = double(frames) * FrameOnLineMs(options.line) / 1000;
    return QStringLiteral("until the bit error rate's 95% bound is below %1: %2 frames (%3 bits), at least %4 on "
                          "the line at %5")
        .arg(options.untilBer, 0, 'g', 3)
        .arg(frames)
        .arg(frames * options.line.dataBits * kFrameBytes)
        .arg(seconds < 120 ? QStringLiteral("%1 s").arg(qCeil(seconds)) : QStringLiteral("%1 min").arg(qCeil(seconds / 60)))
        .arg(LineName(options.line));
}
