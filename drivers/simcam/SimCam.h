/* Entry points of the simulated camera library beside the ten camera functions. The program
 * never calls SimCamConfigure; tests and demonstrations take it by name with dlsym. */
#ifndef SIMCAM_H
#define SIMCAM_H

#ifdef __cplusplus
extern "C" {
#endif
/* NOLINTBEGIN(readability-identifier-naming): the exported names */

/* Chooses what the simulated camera shows.
 *   scene  0: a banded planet with a spot, two moons and a few stars (the default), scaled to
 *             the sensor (min(width / 1280, height / 960) times its size at 1280 x 960, where
 *             the planet is 400 x 374 pixels, centred) and moved by the options drift and
 *             seeing, dimmed by clouds;
 *          1: a colour test card on black, fixed on the sensor: a red disk at (448, 400), a
 *             green disk at (640, 400) and a blue disk at (832, 400), radius 64, and a white
 *             square 600..679 x 700..779, all in full-frame sensor pixels, each at level 200
 *             for exposure 100 ms, gain 10 and a neutral white balance.
 *   seeing 1: sensor noise, a small bias and frame-to-frame image motion (the default);
 *          0: none of them, nor the blur and tilt of the option seeing, so that equal
 *             settings give identical frames (the drift and the clouds, which follow the
 *             clock, stay).
 * Returns 1, or 0 for an unknown scene. Holds from the next exposure. */
int SimCamConfigure(int scene, int seeing);

/* The camera options of the program's --camera-option: "sensor" with "WxH" (16 to 6248 by
 * 16 to 4176) sets the sensor size from the next openUSB on, "depth" with 8 to 16 the bits
 * of the sensor's samples, "render" with "live" (the default) or "cached" how the next
 * exposures get their picture: live renders each one after it ended; cached renders 16
 * consecutive frames once (again after an open or a change of the subframe, its place,
 * flip, depth, exposure, gain, balance, scene, seeing, drift or clouds) and copies them in
 * turn, one per exposure (the sky of the 16 frames one exposure length apart, from the
 * first on, then again).
 * The sky, from the next exposure on, each a function of the time since openUSB sampled at
 * the exposure's start: "drift" with "DX,DY" moves the whole planet scene by that many
 * pixels a second (decimals, either sign, up to 10000; default 0,0), also off the sensor;
 * "seeing" with S (0 to 10, decimals; 0 = off, the default; 1 average, 2 poor) blurs the
 * scene by a Gaussian of about S pixels sigma and shifts it by about S pixels, both changing
 * smoothly over about 50 ms (it takes the place of the small image motion of
 * SimCamConfigure); "clouds" with SECONDS (0 = none, the default, or more than 2) dims the
 * scene to 10 % and back over 2 s, every SECONDS from SECONDS after the open on.
 * "truth" with PATH appends one line per exposure of the planet scene to the file PATH
 * (made when missing; "" stops the record): exposure number since openUSB, exposure start
 * (microseconds since 1970 UTC, as CameraFrameInfo reports it), the planet's centre x and y
 * in sensor pixels as drawn (pixel (x, y) has its centre at x, y; the planet is pasted at
 * whole pixels), the blur's sigma in pixels and the share of the light the clouds let
 * through (1 = clear), separated by blanks; each open first writes a comment line starting
 * with "#". A line reaches the file as soon as the exposure's frame is made, written by a
 * thread of its own; exposures never wait for the file.
 * 1 = accepted, 0 = refused; CameraLastError then says why. */
int CameraOption(const char* key, const char* value);
/* Why the last camera option was refused; "" after one was accepted. */
const char* CameraLastError(void);

/* Where the subframe lies on the sensor: see SubframeOrigin in tarvidll.h. */
int SubframeOrigin(int left, int top);

/* NOLINTEND(readability-identifier-naming) */
#ifdef __cplusplus
}
#endif

#endif
