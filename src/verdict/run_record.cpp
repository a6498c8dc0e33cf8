#include "run_record.h"

#include <algorithm>

CheckResult &RunRecord::Check(const QString &name)
{
    if (const CheckResult *found = Find(name))
        return const_cast<CheckResult &>(*found);
    checks.push_back({name, CheckResult::NotAsked, {}, {}});
    return checks.back();
}

const CheckResult *RunRecord::Find(const QString &name) const
{
    const auto found = std::find_if(checks.begin(), checks.end(), [&](const CheckResult &check) { return check.name == name; });
    return found != checks.end() ? &*found : nullptr;
}

CheckTally RunRecord::Total() const
{
    CheckTally total;
    for (const DirectionRun &direction : directions) {
        const CheckTally &tally = direction.tally;
        for (auto [into, from] : {std::pair{&total.sent, tally.sent}, std::pair{&total.received, tally.received},
                                  std::pair{&total.late, tally.late}, std::pair{&total.corrupt, tally.corrupt},
                                  std::pair{&total.missing, tally.missing},
                                  std::pair{&total.reordered, tally.reordered}, std::pair{&total.wrong, tally.wrong},
                                  std::pair{&total.strayBytes, tally.strayBytes},
                                  std::pair{&total.bitsCompared, tally.bitsCompared},
                                  std::pair{&total.bitErrors, tally.bitErrors}, std::pair{&total.bytes, tally.bytes}})
            *into += from;
        total.roundTrips.Add(tally.roundTrips);
        total.seconds += tally.seconds;
    }
    return total;
}
