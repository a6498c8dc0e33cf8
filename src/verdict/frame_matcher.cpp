#include "frame_matcher.h"

#include "frame.h"

#include <algorithm>
#include <bit>
#include <string_view>
#include <utility>

namespace {

// The first 16 frames' values. Their four digits step by 3, 9, 5 and 1
// from one frame to the next, so they put each hex digit on each of the
// three low places and 0 to 7 on the top one, and neighbours differ in
// every digit. The top digit is 7 only where the next is 0 or 8, so the
// value stays below 0x7D00.
std::int32_t FirstValue(int n)
{
    const auto digit = [n](int step, int offset, int base) { return std::int32_t((n * step + offset) % base); };
    return digit(3, 0, 8) << 12 | digit(9, 3, 16) << 8 | digit(5, 10, 16) << 4 | digit(1, 0, 16);
}

constexpr std::string_view kPreambleAndMarker{"Bizzard?"};
static_assert(kPreambleAndMarker.size() == sizeof kFramePreamble && kPreambleAndMarker.back() == kFrameMarker);

bool IsDigit(char ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F');
}

int WrongBits(const QByteArray &got, const QByteArray &expected)
{
    int wrong = 0;
    for (qsizetype i = 0; i < expected.size(); ++i)
        wrong += i < got.size() ? std::popcount(unsigned(static_cast<unsigned char>(got[i] ^ expected[i]))) : 8;
    return wrong;
}

} // namespace

// Below 32000 a value is its low digit and one of 2000 highs. Frame m
// keeps the low digit of the first sixteen's m % 16 and moves its high on
// by m / 16, so the 32000 frames from 0 take every value below 32000 once;
// the next takes 32000, and then they begin again. A run starts at `seed`.
std::int32_t FrameValue(qint64 seed, qint64 n)
{
    const qint64 m = (seed + n) % kFrameValues;
    if (m == kFrameValues - 1)
        return std::int32_t(kFrameValues - 1);
    const int low = int(m % 16);
    const qint64 highs = (kFrameValues - 1) / 16;
    return std::int32_t((FirstValue(low) / 16 + m / 16) % highs * 16 + low);
}

QByteArray FrameBytes(std::int32_t value)
{
    struct Into
    {
        QByteArray bytes;
        void PutString(const char *text) { bytes += text; }
        void PutChar(char ch) { bytes += ch; }
    } into;
    PutFrame(into, value);
    return into.bytes;
}

FrameMatcher::Frame FrameMatcher::Send(qint64 ns)
{
    const Frame frame{next_ + 1, FrameValue(seed_, next_), ns};
    ++next_;
    // A frame a whole round of values older carries this value too; it can
    // no longer be told from this one, and stays missing.
    if (const auto older = sent_.find(frame.value); older != sent_.end()) {
        if (Awaits(older->second)) {
            ++tally_.sent;
            ++tally_.missing;
            inFlight_.erase(older->second);
        }
        owed_.erase(older->second);
    }
    settled_.erase(frame.value);
    sent_[frame.value] = frame.number;
    inFlight_[frame.number] = frame;
    newest_ = frame;
    return frame;
}

std::vector<FrameMatcher::Event> FrameMatcher::Arrived(const QByteArray &bytes, qint64 ns)
{
    pending_ += bytes;
    return Settle(ns, false);
}

std::vector<FrameMatcher::Event> FrameMatcher::TimedOut(qint64 ns)
{
    std::vector<Event> events;
    if (inFlight_.empty())
        return events;
    const Frame frame = inFlight_.begin()->second;
    inFlight_.erase(inFlight_.begin());
    ++tally_.sent;
    ++tally_.missing;
    owed_[frame.number] = frame;
    // Twelve bytes came while it was the oldest awaited and none of them is
    // a frame: they were this one.
    if (pending_.size() >= kFrameBytes && NextShaped(0) < 0) {
        Corrupt(events, frame, pending_.left(kFrameBytes));
        pending_.remove(0, kFrameBytes);
    }
    for (Event &event : Settle(ns, false))
        events.push_back(std::move(event));
    return events;
}

std::vector<FrameMatcher::Event> FrameMatcher::Finish(qint64 ns)
{
    return Settle(ns, true);
}

qsizetype FrameMatcher::NextShaped(qsizetype from) const
{
    const QByteArrayView start(kPreambleAndMarker.data(), qsizetype(kPreambleAndMarker.size()));
    for (qsizetype at = pending_.indexOf(start, from); at >= 0 && at + kFrameBytes <= pending_.size();
         at = pending_.indexOf(start, at + 1)) {
        const char *digits = pending_.constData() + at + start.size();
        if (!IsDigit(digits[0]) || !IsDigit(digits[1]) || !IsDigit(digits[2]) || !IsDigit(digits[3]))
            continue;
        // The preamble begins with B, a hex digit: a frame cut short by its
        // last digit takes the next one's B in its place.
        if (pending_.mid(at + kFrameBytes - 1, start.size()) == start)
            continue;
        return at;
    }
    return -1;
}

// Whether a frame's shape may begin at or after `from` and be made whole by
// bytes still to come.
bool FrameMatcher::ShapeMayStart(qsizetype from) const
{
    for (qsizetype at = from; at < pending_.size(); ++at) {
        const qsizetype have = std::min<qsizetype>(pending_.size() - at, kFrameBytes);
        if (have == kFrameBytes)
            continue; // whole, and not a frame: NextShaped said so
        qsizetype i = 0;
        while (i < have && (i < qsizetype(kPreambleAndMarker.size()) ? pending_[at + i] == kPreambleAndMarker[size_t(i)]
                                                                     : IsDigit(pending_[at + i])))
            ++i;
        if (i == have)
            return true;
    }
    return false;
}

std::vector<FrameMatcher::Event> FrameMatcher::Settle(qint64 ns, bool final)
{
    std::vector<Event> events;
    while (!pending_.isEmpty()) {
        if (const qsizetype at = NextShaped(0); at >= 0) {
            const QByteArray got = pending_.mid(at, kFrameBytes);
            if (at > 0) {
                // Cut short or garbled before a whole frame: the remains of
                // a frame sent before that one. A frame nobody sent stands
                // in for the oldest awaited.
                const auto number = sent_.find(DecodeHex4(got.constData() + kPreambleAndMarker.size()));
                const qint64 before = number != sent_.end() ? number->second
                                      : inFlight_.empty()   ? newest_.number + 1
                                                            : inFlight_.begin()->first;
                Debris(events, pending_.left(at), before);
            }
            pending_.remove(0, at + kFrameBytes);
            Match(events, got, ns);
            continue;
        }
        if (final) {
            // A frame still awaited was cut short by the end of the run, not
            // by the line: what came of it is left out with it.
            if (inFlight_.empty())
                Debris(events, pending_, newest_.number + 1);
            pending_.clear();
            break;
        }
        // Twelve bytes like the oldest frame awaited, and no frame can begin
        // among them: they were that frame, garbled, and it is judged now
        // rather than at its timeout. Bytes unlike it wait for the timeout,
        // since they may be noise before the frame itself.
        if (pending_.size() >= kFrameBytes && !inFlight_.empty() && !ShapeMayStart(1)) {
            const Frame frame = Awaited();
            const QByteArray expected = FrameBytes(frame.value);
            qsizetype alike = 0;
            for (qsizetype i = 0; i < kFrameBytes; ++i)
                alike += pending_[i] == expected[i];
            if (2 * alike >= kFrameBytes) {
                Corrupt(events, frame, pending_.left(kFrameBytes));
                pending_.remove(0, kFrameBytes);
                continue;
            }
        }
        // Two frames' worth and not one of them whole: nothing more that
        // comes can make a frame of the first twelve.
        if (pending_.size() < 2 * kFrameBytes)
            break;
        Debris(events, pending_.left(kFrameBytes), -1);
        pending_.remove(0, kFrameBytes);
    }
    return events;
}

void FrameMatcher::Match(std::vector<Event> &events, const QByteArray &got, qint64 ns)
{
    const std::int32_t value = DecodeHex4(got.constData() + kPreambleAndMarker.size());
    const auto number = sent_.find(value);
    if (number != sent_.end()) {
        if (const auto awaited = inFlight_.find(number->second); awaited != inFlight_.end()) {
            const Frame frame = awaited->second;
            inFlight_.erase(awaited);
            const double ms = double(ns - frame.sentNs) / 1e6;
            ++tally_.sent;
            ++tally_.received;
            tally_.roundTrips.Add(ms);
            Event event{Kind::Received, frame, got, ms, 0};
            Came(event);
            events.push_back(event);
            return;
        }
        if (const auto owed = owed_.find(number->second); owed != owed_.end()) {
            const Frame frame = owed->second;
            owed_.erase(owed);
            --tally_.missing;
            ++tally_.late;
            // Its round trip too: a link whose every frame is late has a
            // pace, and the timing reads it.
            const double ms = double(ns - frame.sentNs) / 1e6;
            tally_.roundTrips.Add(ms);
            Event event{Kind::Late, frame, got, ms, 0};
            Came(event);
            events.push_back(event);
            return;
        }
        // Sent in this run and settled already: it came once more. No bit
        // of it is wrong, but a frame that should not be there is at least
        // one wrong bit on the line.
        ++tally_.wrong;
        tally_.bitsCompared += dataBits_ * kFrameBytes;
        ++tally_.bitErrors;
        const auto settled = settled_.find(value);
        events.push_back({Kind::Again, settled != settled_.end() ? settled->second : Frame{number->second, value, 0},
                          got, 0, 1});
        return;
    }
    // A value this run never sent: a frame garbled into another value, or
    // one held over from an earlier run. Compared with the frame it stood
    // in for.
    ++tally_.wrong;
    Event event{Kind::Wrong, inFlight_.empty() ? newest_ : inFlight_.begin()->second, got, 0, 0};
    Compared(event, event.frame.number > 0 ? FrameBytes(event.frame.value) : QByteArray());
    events.push_back(event);
}

void FrameMatcher::Came(Event &event)
{
    // Intact, and compared whole.
    tally_.bitsCompared += dataBits_ * kFrameBytes;
    settled_[event.frame.value] = event.frame;
    if (event.frame.number < newestCame_) {
        ++tally_.reordered;
        event.after = newestCame_;
    }
    newestCame_ = std::max(newestCame_, event.frame.number);
}

const FrameMatcher::Frame *FrameMatcher::Outstanding(qint64 before) const
{
    const Frame *newest = nullptr;
    for (const std::map<qint64, Frame> *ledger : {&inFlight_, &owed_})
        if (const auto next = ledger->lower_bound(before); next != ledger->begin())
            if (!newest || std::prev(next)->first > newest->number)
                newest = &std::prev(next)->second;
    return newest;
}

void FrameMatcher::Debris(std::vector<Event> &events, const QByteArray &bytes, qint64 before)
{
    // The newest frame awaited or owed that was sent before the next whole
    // one is the one these bytes began.
    if (const Frame *began = before > 0 ? Outstanding(before) : nullptr) {
        Corrupt(events, *began, bytes.left(kFrameBytes));
        if (bytes.size() <= kFrameBytes)
            return;
        Debris(events, bytes.mid(kFrameBytes), -1);
        return;
    }
    // A byte where the line should have been quiet is at least one wrong bit.
    tally_.strayBytes += bytes.size();
    Event event{Kind::Noise, Awaited(), bytes, 0, int(bytes.size())};
    tally_.bitsCompared += dataBits_ * bytes.size();
    tally_.bitErrors += bytes.size();
    events.push_back(event);
}

void FrameMatcher::Corrupt(std::vector<Event> &events, Frame frame, const QByteArray &got)
{
    // Settled before its time was up, or owed and counted missing till now.
    if (inFlight_.erase(frame.number) > 0)
        ++tally_.sent;
    else if (owed_.erase(frame.number) > 0)
        --tally_.missing;
    ++tally_.corrupt;
    settled_[frame.value] = frame;
    Event event{Kind::Corrupt, frame, got, 0, 0};
    Compared(event, FrameBytes(frame.value));
    events.push_back(event);
}

void FrameMatcher::Compared(Event &event, const QByteArray &expected)
{
    // Nothing to compare with, before the first frame: every byte is at
    // least one wrong bit.
    event.wrongBits = expected.isEmpty() ? int(event.got.size()) : WrongBits(event.got, expected);
    tally_.bitsCompared += dataBits_ * (expected.isEmpty() ? event.got.size() : expected.size());
    tally_.bitErrors += event.wrongBits;
}
