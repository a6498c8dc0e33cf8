#include "frame_ledger.h"

#include <utility>

namespace {

// The values the frames take: 0..32000, one of them 32000 itself.
constexpr qint64 kValues = 32001;

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

} // namespace

// Below 32000 a value is its low digit and one of 2000 highs. Frame n
// keeps the low digit of the first sixteen's n % 16 and moves its high on
// by n / 16, so the 32000 frames from 0 take every value below 32000 once;
// the next takes 32000, and then they begin again.
std::int32_t FrameValue(qint64 n)
{
    const qint64 m = n % kValues;
    if (m == kValues - 1)
        return std::int32_t(kValues - 1);
    const int low = int(m % 16);
    const qint64 highs = (kValues - 1) / 16;
    return std::int32_t((FirstValue(low) / 16 + m / 16) % highs * 16 + low);
}

FrameLedger::Frame FrameLedger::Send(qint64 ns)
{
    awaited_ = {next_ + 1, FrameValue(next_), ns};
    ++next_;
    // A frame as old as the values' round carries this value too; it can
    // no longer be told from this one, and stays missing.
    owed_.erase(awaited_.value);
    return awaited_;
}

FrameLedger::Match FrameLedger::Found(std::int32_t value, qint64 ns)
{
    if (awaited_.number > 0 && value == awaited_.value) {
        const Frame frame = std::exchange(awaited_, {});
        const double ms = double(ns - frame.sentNs) / 1e6;
        ++tally_.sent;
        ++tally_.received;
        tally_.roundTripsMs.push_back(ms);
        return {Kind::Received, frame, ms};
    }
    if (const auto owed = owed_.find(value); owed != owed_.end()) {
        const Frame frame = owed->second;
        owed_.erase(owed);
        --tally_.missing;
        ++tally_.late;
        return {Kind::Late, frame, double(ns - frame.sentNs) / 1e6};
    }
    ++tally_.wrong;
    return {Kind::Wrong, awaited_, 0};
}

FrameLedger::Frame FrameLedger::TimedOut()
{
    const Frame frame = std::exchange(awaited_, {});
    if (frame.number > 0) {
        ++tally_.sent;
        ++tally_.missing;
        owed_[frame.value] = frame;
    }
    return frame;
}
