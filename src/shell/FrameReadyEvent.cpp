#include "shell/FrameReadyEvent.h"

#include <QCoreApplication>

void FramePostTarget::post(FramePtr frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!receiver_ || !QCoreApplication::instance()) return;
    QCoreApplication::postEvent(receiver_, new FrameReadyEvent(std::move(frame)));
}

void FramePostTarget::detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    receiver_ = nullptr;
}

PostFrameFn MakeFramePoster(std::shared_ptr<FramePostTarget> target) {
    return [target = std::move(target)](FramePtr frame) { target->post(std::move(frame)); };
}
