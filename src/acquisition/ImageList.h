#pragma once
// Frame buffers: one FrameNode per exposure, and the frame list of the frames that have
// reached the window thread.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <opencv2/core.hpp>
#include <string>

#include "platform/Clock.h"

struct ImageLst {
    ImageLst* Next = nullptr;   // next newer node in the frame list
    TDateTime TimeStamp = 0.0;  // local clock when NewFrame created the node
    // 1 channel, 8 or 16 bits, each row padded to a multiple of 4 bytes (RawImage.step).
    cv::Mat RawImage;
    cv::Mat Image8;      // 8-bit view: RawImage itself at depth 8; empty until AppendFrame
    cv::Mat ColorImage;  // 8-bit BGR demosaic; empty until EnsureColorImage
    std::string StampText;
    bool Flipped = false;
    bool Posted = false;  // handed to the window thread (counted in FramesInFlight)
};
using FrameNode = ImageLst;

extern FrameNode* FrameListHead;  // oldest node, nullptr when the list is empty
extern FrameNode* FrameListTail;  // newest node, nullptr when the list is empty

// Frames posted to the window thread and not yet freed there. The acquisition thread
// waits before its next exposure while this is at its budget.
extern std::atomic<int> FramesInFlight;

// Row stride in bytes for a width and depth: padded to a multiple of 4.
size_t PaddedStride(int width, int depth);

FrameNode* NewFrame(int width, int height, const std::string& stampText, bool flipped, int depth);
void FreeFrame(FrameNode* node);
void AppendFrame(FrameNode* node);
void ReleaseHead();
void EnsureColorImage(FrameNode* node);
// Marks a node as handed over to the window thread (the acquisition thread calls this
// right before it posts).
void MarkPosted(FrameNode* node);

int FrameWidth(const FrameNode* node);
int FrameHeight(const FrameNode* node);
int FrameDepth(const FrameNode* node);        // bits per sample, 8 or 16
uint8_t* FrameData(FrameNode* node);          // first byte of the pixel memory
size_t FrameDataSize(const FrameNode* node);  // bytes of pixel memory, row padding included
size_t FrameStride(const FrameNode* node);    // bytes per row, padding included

// Available physical memory in bytes (64-bit: a 32-bit count wraps above 4 GiB).
uint64_t FreePhysicalMemory();

// Demosaic code for a node: flipped frames have their Bayer phase shifted by one column.
int DemosaicCode(bool flipped);
