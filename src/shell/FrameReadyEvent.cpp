#include "shell/FrameReadyEvent.h"

#include <QCoreApplication>

QEvent::Type FrameReadyEvent::eventType() {
    static const auto kRegistered = static_cast<QEvent::Type>(QEvent::registerEventType());
    return kRegistered;
}

void FramePostTarget::post(FramePtr frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!receiver_ || !QCoreApplication::instance()) return;
    waiting_.fetch_add(1, std::memory_order_acq_rel);
    QCoreApplication::postEvent(receiver_, new FrameReadyEvent(std::move(frame)));
}

void FramePostTarget::detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    receiver_ = nullptr;
}

PostFrameFn makeFramePoster(std::shared_ptr<FramePostTarget> target) {
    return [target = std::move(target)](FramePtr frame) { target->post(std::move(frame)); };
}
