/* Extra entry points of the INDI camera library, beside the ten camera functions. */
#ifndef INDICAM_H
#define INDICAM_H

#ifdef __cplusplus
extern "C" {
#endif

/* Called for each option before openUSB: "server" = HOST:PORT (default localhost:7624),
 * "device" = the INDI device name (default: the first camera). 1 = accepted, 0 = unknown
 * key or bad value. */
int CameraOption(const char* key, const char* value);

/* Why the last openUSB failed or the camera stopped, as one line; empty when all is well. */
const char* CameraLastError(void);

#ifdef __cplusplus
}
#endif

#endif
