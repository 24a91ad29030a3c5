/* Optional entry points of a camera library, beside the ten camera functions, that the SER
 * playback camera exports (besides those of drivers/common). */
#ifndef SERCAM_H
#define SERCAM_H

#ifdef __cplusplus
extern "C" {
#endif
/* NOLINTBEGIN(readability-identifier-naming): the exported names */

/* Called for each option before openUSB; 1 = accepted, 0 = unknown key or bad value.
 * The SER playback camera knows one key: "file", the path of the SER file to play. */
int CameraOption(const char* key, const char* value);
/* The reason of the last failure (e.g. why openUSB returned 0), or "". */
const char* CameraLastError(void);
/* Where the subframe lies in the file's frame: see SubframeOrigin in tarvidll.h. 0 while no
 * file is open. */
int SubframeOrigin(int left, int top);

/* NOLINTEND(readability-identifier-naming) */
#ifdef __cplusplus
}
#endif

#endif
