/* Extra entry points of the INDI camera library, beside the ten camera functions. */
#ifndef INDICAM_H
#define INDICAM_H

#ifdef __cplusplus
extern "C" {
#endif
/* NOLINTBEGIN(readability-identifier-naming): the exported names */

/* Called for each option before openUSB: "server" = HOST:PORT (default localhost:7624),
 * "device" = the INDI device name (default: the first camera), "wheel" = the INDI device of
 * the filter wheel (default: the first one the server offers; "none" for none). 1 = accepted,
 * 0 = unknown key or bad value, with the reason in CameraLastError. The wheel's entry points
 * FilterWheelState, FilterWheelName and FilterWheelMove are those of tarvidll.h. */
int CameraOption(const char* key, const char* value);

/* Why the last openUSB failed or the camera stopped, as one line; empty when all is well. */
const char* CameraLastError(void);

/* What became of the exposure whose end was signalled last: good only when its image was
 * copied into its buffer, with the exposure start (DATE-OBS of a single exposure's FITS, the
 * arrival of a stream frame less its exposure), the bits per sample (8 in 8-bit buffers; in
 * 16-bit ones the driver's bits per pixel) and the mosaic of the samples as stored (the FITS
 * BAYERPAT or the driver's CCD_CFA, relabelled for the crop and the mirror; mono when the
 * driver names none) and where its subframe lay on the sensor. See tarvidll.h. */
struct TarviFrameInfo;
int CameraFrameInfo(struct TarviFrameInfo* info);

/* Where the subframe lies on the sensor: see SubframeOrigin in tarvidll.h. Sent as CCD_FRAME
 * X and Y for single exposures and CCD_STREAM_FRAME X and Y while streaming; a driver that
 * sends the whole sensor instead has its image cut at that place. CameraFrameInfo reports the
 * place of each frame. 0 while no camera is open. */
int SubframeOrigin(int left, int top);

/* 0: the driver's bits per pixel once the camera is open, 8 before. 8 or 16: the words of
 * the next buffers; 16 only for a driver of more than 8 bits. Exposures into 16-bit buffers
 * are single FITS exposures, the stream's frames holding 8 bits only. See tarvidll.h. */
int CameraSampleDepth(int bits);

/* The cameras offered by the INDI server at HOST:PORT ("" for the default localhost:7624),
 * one a line; -1 with the reason when the server cannot be reached. See tarvidll.h. */
int CameraListDevices(const char* server, char* buffer, int size);

/* A stream far below the driver's rate (restarted by the library, with a back-off) or the
 * server lost (opened again on the next exposure asked for, every 2 s at most). See
 * tarvidll.h. */
struct TarviCameraHealth;
int CameraHealth(struct TarviCameraHealth* health);

/* NOLINTEND(readability-identifier-naming) */
#ifdef __cplusplus
}
#endif

#endif
