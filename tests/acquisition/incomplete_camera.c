/* A camera library that lacks HorizontalFlip: loading it must count as no camera. */
#include "tarvidll.h"

int openUSB(int reserved) {
    return reserved == 0;
}
const char* GetCameraInfo(int* width, int* height) {
    *width = 64;
    *height = 48;
    return "Incomplete";
}
int ExposureSemaphore(sem_t* done) {
    return done != 0;
}
int ThreadedExposure(void* buffer, int reserved, int mode) {
    return buffer && !reserved && mode;
}
int CancelExposure(void) {
    return 0;
}
int SetExposureLength(int ms) {
    return ms > 0;
}
int SetGain(int gain) {
    return gain >= 0;
}
int SetWhiteBalance(int blue, int green, int red) {
    return blue + green + red >= 0;
}
int Subframe(int width, int height) {
    return width > 0 && height > 0;
}
