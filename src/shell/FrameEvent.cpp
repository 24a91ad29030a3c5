#include "shell/FrameEvent.h"

#include <QCoreApplication>

bool TFramePostTarget::Post(FrameNode* node) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!receiver_ || !QCoreApplication::instance()) return false;
    QCoreApplication::postEvent(receiver_, new TFrameReadyEvent(node));
    return true;
}

void TFramePostTarget::Detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    receiver_ = nullptr;
}

PostFrameFn MakeFramePoster(std::shared_ptr<TFramePostTarget> target) {
    return [target = std::move(target)](FrameNode* node) { return target->Post(node); };
}
