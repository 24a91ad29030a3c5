/* Extra entry point of the simulated camera library, beside the ten camera functions.
 * The program never calls it; tests and demonstrations take it by name with dlsym. */
#ifndef SIMCAM_H
#define SIMCAM_H

#ifdef __cplusplus
extern "C" {
#endif
/* NOLINTBEGIN(readability-identifier-naming): the exported names */

/* Chooses what the simulated camera shows.
 *   scene  0: a banded planet with a spot, two moons and a few stars (the default);
 *          1: a colour test card on black: a red disk at (448, 400), a green disk at
 *             (640, 400) and a blue disk at (832, 400), radius 64, and a white square
 *             600..679 x 700..779, all in full-frame sensor pixels, each at level 200
 *             for exposure 100 ms, gain 10 and a neutral white balance.
 *   seeing 1: sensor noise, a small bias and frame-to-frame image motion (the default);
 *          0: none of them, so that equal settings give identical frames.
 * Returns 1, or 0 for an unknown scene. Holds from the next exposure. */
int SimCamConfigure(int scene, int seeing);

/* The camera options of the program's --camera-option: "sensor" with "WxH" (16 to 6248 by
 * 16 to 4176) sets the sensor size from the next openUSB on, "depth" with 8 to 16 the bits
 * of the sensor's samples, "render" with "live" (the default) or "cached" how the next
 * exposures get their picture: live renders each one after it ended; cached renders 16
 * consecutive frames once (again after an open or a change of the subframe, flip, depth,
 * exposure, gain, balance, scene or seeing) and copies them in turn, one per exposure.
 * 1 = accepted, 0 = refused; CameraLastError then says why. */
int CameraOption(const char* key, const char* value);
/* Why the last camera option was refused; "" after one was accepted. */
const char* CameraLastError(void);

/* NOLINTEND(readability-identifier-naming) */
#ifdef __cplusplus
}
#endif

#endif
