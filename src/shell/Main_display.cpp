// The frame hand-off on the window thread.
#include "shell/Main.h"

void TForm1::FrameReady(FrameNode* node) {
    AppendFrame(node);
    ++FramesReceived;
    // Hook (display, recording): preview, histogram and the recording gate work on the
    // frame here, while it is the head of the frame list.
    ReleaseHead();
}
