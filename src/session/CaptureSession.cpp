#include "session/CaptureSession.h"

HandoffReport CaptureSession::frameArrived(FramePtr frame, bool paced, int newerWaiting) {
    ++framesArrived_;
    FrameFlags flags = flags_ ? flags_() : FrameFlags{};
    flags.stampVisible = stampVisible_;
    flags.newerFrameWaiting = newerWaiting > 0;
    flags.paced = paced;
    return handoff_.handle(std::move(frame), flags, consumers_);
}
