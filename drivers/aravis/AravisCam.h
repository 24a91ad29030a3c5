/* Extra entry points of the GenICam camera library (Aravis), beside the ten camera functions. */
#ifndef ARAVISCAM_H
#define ARAVISCAM_H

#ifdef __cplusplus
extern "C" {
#endif
/* NOLINTBEGIN(readability-identifier-naming): the exported names */

/* Called for each option before openUSB: "device" = the Aravis device id of the camera (as
 * CameraListDevices lists it, or its IP address; default: the first camera found), "format" =
 * a GenICam pixel format name (Mono8, Mono12, Mono12Packed, BayerRG8, BayerGR12p, ...; default:
 * the mono or Bayer family of the camera's own format, 8 bits for 8-bit buffers and its deepest
 * for 16-bit ones). 1 = accepted, 0 = unknown key or bad value, with the reason in
 * CameraLastError. */
int CameraOption(const char* key, const char* value);
const char* CameraLastError(void);

/* Each frame's start (the camera's own timestamp where it has one), its bits, its mosaic as
 * stored (the pixel format's, relabelled for the subframe's cut and the mirror) and where it lay
 * on the sensor. See tarvidll.h. */
struct TarviFrameInfo;
int CameraFrameInfo(struct TarviFrameInfo* info);
int SubframeOrigin(int left, int top);
int CameraSampleDepth(int bits);
int SetExposureMicroseconds(long long us);
struct TarviSensorInfo;
int CameraSensorInfo(struct TarviSensorInfo* info);
/* The GenICam cameras Aravis finds (`server` is not used), one device id a line. */
int CameraListDevices(const char* server, char* buffer, int size);
/* Frames that stopped coming, or the camera lost (opened again on the next exposure asked for,
 * every 2 s at most). See tarvidll.h. */
struct TarviCameraHealth;
int CameraHealth(struct TarviCameraHealth* health);

/* NOLINTEND(readability-identifier-naming) */
#ifdef __cplusplus
}
#endif

#endif
