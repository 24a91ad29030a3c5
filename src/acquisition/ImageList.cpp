#include "acquisition/ImageList.h"

#include <new>
#include <opencv2/imgproc.hpp>

#include "platform/Memory.h"

FrameNode* FrameListHead = nullptr;
FrameNode* FrameListTail = nullptr;
std::atomic<int> FramesInFlight{0};

size_t PaddedStride(int width, int depth) {
    const size_t bytes = static_cast<size_t>(width) * (depth == 16 ? 2 : 1);
    return (bytes + 3) & ~static_cast<size_t>(3);
}

FrameNode* NewFrame(int width, int height, const std::string& stampText, bool flipped, int depth) {
    if (width <= 0 || height <= 0) return nullptr;
    FrameNode* node = new (std::nothrow) FrameNode;
    if (!node) return nullptr;
    try {
        node->StampText = stampText;
        node->Flipped = flipped;
        node->TimeStamp = Now();
        const size_t stride = PaddedStride(width, depth);
        // One padded buffer; RawImage is the width x height view of it, so its step
        // keeps the padding the camera library writes.
        if (depth == 16) {
            cv::Mat buffer(height, static_cast<int>(stride / 2), CV_16UC1);
            node->RawImage = buffer(cv::Rect(0, 0, width, height));
        } else {
            cv::Mat buffer(height, static_cast<int>(stride), CV_8UC1);
            node->RawImage = buffer(cv::Rect(0, 0, width, height));
        }
    } catch (...) {
        delete node;
        return nullptr;
    }
    return node;
}

void FreeFrame(FrameNode* node) {
    if (!node) return;
    if (node->Posted) FramesInFlight.fetch_sub(1, std::memory_order_relaxed);
    delete node;  // the images go with it; Image8 shares RawImage's buffer when 8-bit
}

void MarkPosted(FrameNode* node) {
    if (!node || node->Posted) return;
    node->Posted = true;
    FramesInFlight.fetch_add(1, std::memory_order_relaxed);
}

void AppendFrame(FrameNode* node) {
    if (!node) return;
    node->Next = nullptr;
    if (!FrameListHead) FrameListHead = node;
    if (FrameListTail) FrameListTail->Next = node;
    if (FrameDepth(node) == 16) {
        node->RawImage.convertTo(node->Image8, CV_8U, 1.0 / 256.0, 0.0);
    } else {
        node->Image8 = node->RawImage;
    }
    FrameListTail = node;
}

void ReleaseHead() {
    FrameNode* head = FrameListHead;
    if (!head) return;
    FrameListHead = head->Next;
    if (!FrameListHead) FrameListTail = nullptr;
    FreeFrame(head);
}

int DemosaicCode(bool flipped) {
    return flipped ? cv::COLOR_BayerGR2BGR : cv::COLOR_BayerRG2BGR;
}

void EnsureColorImage(FrameNode* node) {
    if (!node || !node->ColorImage.empty()) return;
    const cv::Mat& src = node->Image8.empty() ? node->RawImage : node->Image8;
    if (src.depth() != CV_8U) {
        cv::Mat eight;
        src.convertTo(eight, CV_8U, 1.0 / 256.0, 0.0);
        cv::cvtColor(eight, node->ColorImage, DemosaicCode(node->Flipped));
    } else {
        cv::cvtColor(src, node->ColorImage, DemosaicCode(node->Flipped));
    }
}

int FrameWidth(const FrameNode* node) {
    return node ? node->RawImage.cols : 0;
}
int FrameHeight(const FrameNode* node) {
    return node ? node->RawImage.rows : 0;
}
int FrameDepth(const FrameNode* node) {
    return node && node->RawImage.depth() == CV_16U ? 16 : 8;
}
uint8_t* FrameData(FrameNode* node) {
    return node ? node->RawImage.data : nullptr;
}
size_t FrameStride(const FrameNode* node) {
    return node ? node->RawImage.step[0] : 0;
}
size_t FrameDataSize(const FrameNode* node) {
    return node ? FrameStride(node) * static_cast<size_t>(node->RawImage.rows) : 0;
}

uint64_t FreePhysicalMemory() {
    return AvailablePhysicalMemory();
}
