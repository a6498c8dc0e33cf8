#include "caption_batch.h"

TCaptionBatch::~TCaptionBatch()
{
    if (--depth_ > 0)
        return;
    // Taken out first: applying a caption may start a batch of its own.
    auto deferred = std::exchange(deferred_, {});
    for (auto &[owner, apply] : deferred) {
        if (owner)
            apply();
    }
}

void TCaptionBatch::Defer(QObject *owner, std::function<void()> apply)
{
    deferred_.emplace_back(owner, std::move(apply));
}
