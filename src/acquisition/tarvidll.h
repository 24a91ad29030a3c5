/* The camera library interface: ten functions with C linkage, loaded by name from
 * libtarvidll.so. Arguments and results are 32-bit integers or pointers. */
#ifndef TARVIDLL_H
#define TARVIDLL_H

#include <semaphore.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the camera; 1 = camera opened, anything else = no camera. Called first, with 0. */
int openUSB(int reserved);
/* Full frame width and height in pixels; returns the zero-terminated camera name. */
const char* GetCameraInfo(int* width, int* height);
/* The semaphore the library posts once whenever an exposure ends. */
int ExposureSemaphore(sem_t* done);
/* Starts an exposure into buffer (rows padded to a multiple of 4 bytes, current subframe
 * size); may return before the exposure ends. mode is 1 while no recording runs, else 0. */
int ThreadedExposure(void* buffer, int reserved, int mode);
/* Ends the running exposure early; the semaphore is still posted. */
int CancelExposure(void);
/* 1 to 10000 milliseconds, from the next exposure on. */
int SetExposureLength(int ms);
/* 0 to 100, from the next exposure on. */
int SetGain(int gain);
/* Each 0 to 255, from the next exposure on. */
int SetWhiteBalance(int blue, int green, int red);
/* The next buffers have this size. */
int Subframe(int width, int height);
/* 1 = next frames mirrored left to right. */
int HorizontalFlip(int on);

/* Optional entry points; a library without them keeps working.
 *
 * CameraOption: one setting of the library (for example "server" = "host:7624"), given
 * by the user with --camera-option KEY=VALUE. The program calls it once per option, in
 * the order given, before openUSB. Returns 1 when accepted, 0 for an unknown key or a bad
 * value (the program then reports the option and does not open the camera).
 *
 * CameraLastError: why the last call failed (for example why openUSB returned 0), as a
 * zero-terminated text for the user; "" when there is nothing to say. */
int CameraOption(const char* key, const char* value);
const char* CameraLastError(void);

#ifdef __cplusplus
}
#endif

#endif
