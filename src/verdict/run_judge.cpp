#include "run_judge.h"

#include <algorithm>

Verdict Judge(const RunRecord &record)
{
    const auto any = [&record](CheckResult::Outcome outcome) {
        return std::any_of(record.checks.begin(), record.checks.end(),
                           [outcome](const CheckResult &check) { return check.outcome == outcome; });
    };
    if (record.end == RunEnd::PortLost)
        return {3, QStringLiteral("lost")};
    if (any(CheckResult::Failed))
        return {1, QStringLiteral("fail")};
    if (record.end == RunEnd::Interrupted)
        return {4, QStringLiteral("interrupted")};
    if (any(CheckResult::CouldNotRun) || record.end == RunEnd::SetupFailed
        || record.end == RunEnd::OutputFailed)
        return {2, QStringLiteral("setup")};
    return {0, QStringLiteral("pass")};
}
