#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <utility>
#include <vector>

// While one lives, labels keep only the last caption they are given and lay
// it out once, when the outermost batch ends. A burst of input that sets the
// same label a thousand times then costs one layout instead of a thousand,
// and nothing outside the batch can tell: the window is only painted, and
// read by anyone else, after the batch is over.
class TCaptionBatch
{
public:
    TCaptionBatch() { ++depth_; }
    ~TCaptionBatch();
    TCaptionBatch(const TCaptionBatch &) = delete;
    TCaptionBatch &operator=(const TCaptionBatch &) = delete;

    static bool Active() { return depth_ > 0; }
    // Runs `apply` when the outermost batch ends, unless `owner` is gone.
    static void Defer(QObject *owner, std::function<void()> apply);

private:
    static inline int depth_ = 0;
    static inline std::vector<std::pair<QPointer<QObject>, std::function<void()>>> deferred_;
};
