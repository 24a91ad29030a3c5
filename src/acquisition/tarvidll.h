/* The camera library interface: ten functions with C linkage, loaded by name from
 * libtarvidll.so. Arguments and results are 32-bit integers or pointers. */
#ifndef TARVIDLL_H
#define TARVIDLL_H

#include <semaphore.h>

/* The names below are those every camera library exports; they follow C, not the program. */
/* NOLINTBEGIN(readability-identifier-naming) */

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
 * zero-terminated text for the user; "" when there is nothing to say. The text is the
 * library's copy for the calling thread: it stays as it is, whatever another thread does,
 * until the same thread calls CameraLastError again. */
int CameraOption(const char* key, const char* value);
const char* CameraLastError(void);

/* CameraFrameInfo: what the library knows of the exposure whose end it last signalled.
 * The program calls it on its acquisition thread once after each post of the semaphore,
 * before the next ThreadedExposure. The caller sets `size` to the bytes of the struct it
 * passes (sizeof as it was compiled); the library fills only the fields that lie wholly
 * within `size` and leaves the others as they are, so that either side may be older.
 * Returns 1 when it filled the struct, 0 when it knows nothing of the last exposure.
 *
 * A library without this entry point, or one that returns 0, gets: exposure good, start
 * time taken by the program as it called ThreadedExposure, 8 bits, the colour pattern the
 * user's choice implies. */
enum {
    TARVI_FRAME_GOOD = 1,   /* the buffer holds the whole exposure */
    TARVI_FRAME_FAILED = 0, /* the exposure failed: the buffer must not be used */
    /* colorPattern: the colour filter mosaic of the samples as stored in the buffer; the
     * values of the Bayer patterns are those of the SER format's ColorID. */
    TARVI_PATTERN_UNKNOWN = 0,
    TARVI_PATTERN_MONO = 1,
    TARVI_PATTERN_RGGB = 8,
    TARVI_PATTERN_GRBG = 9,
    TARVI_PATTERN_GBRG = 10,
    TARVI_PATTERN_BGGR = 11
};
typedef struct TarviFrameInfo {
    unsigned int size;     /* set by the caller: sizeof(TarviFrameInfo) as it knows it */
    int status;            /* TARVI_FRAME_GOOD or TARVI_FRAME_FAILED */
    long long startUnixUs; /* exposure start, microseconds since 1970-01-01 00:00 UTC;
                              0 = not known */
    int bitsPerSample;     /* significant bits of each sample in the buffer; 0 = not known */
    int colorPattern;      /* TARVI_PATTERN_... */
    /* Where the buffer's first pixel lies on the sensor: the sensor column of its left edge
     * (also when HorizontalFlip mirrors the rows) and the sensor row of its top, in full-frame
     * pixels. The caller sets both to -1 before the call; -1 after it = not known (a library
     * that does not fill them, or an older one). */
    int subframeLeft;
    int subframeTop;
} TarviFrameInfo;
int CameraFrameInfo(TarviFrameInfo* info);

/* SubframeOrigin: where the subframe of Subframe lies on the sensor, for cameras that can read
 * it out anywhere (a tracker moves it to follow its target). `left` and `top` are the sensor
 * column and row, in full-frame pixels, of the subframe's left edge and top row (the left
 * edge also while HorizontalFlip mirrors the rows), from the next exposure on; a negative
 * value centres the subframe in that direction, as it is after openUSB. The position is kept
 * as asked and placed at each exposure: a subframe that would reach past the sensor's edge is
 * moved inside it (left to at most sensor width - subframe width, top likewise), and both are
 * then rounded down to even, so that a Bayer mosaic keeps the pattern of the full frame. A
 * later Subframe keeps the position asked for. CameraFrameInfo reports where each frame lay
 * (subframeLeft, subframeTop). Called on the acquisition thread, between exposures, after
 * Subframe. Returns 1 when the position was taken (placed as above), 0 when the camera cannot
 * place a subframe now (no camera open).
 *
 * A library without this entry point reads out its subframes where it always has (centred,
 * for the cameras of this program). */
int SubframeOrigin(int left, int top);

/* CameraSampleDepth: the size of the samples in the buffers, for cameras that deliver more
 * than 8 bits. With 0 it returns the most significant bits per sample the camera can
 * deliver (8 for a camera of 8 bits only). With 8 or 16 the program says that the buffers
 * of the next exposures hold one byte or one 16-bit word (in the machine's byte order) per
 * sample, rows still padded to a multiple of 4 bytes; 16-bit words hold the samples as the
 * camera made them, unshifted (12-bit samples lie in 0..4095), and CameraFrameInfo reports
 * their significant bits. Returns 1 when accepted, 0 when the camera cannot fill such
 * buffers. Called on the acquisition thread, between exposures.
 *
 * A library without this entry point delivers 8-bit samples only. */
int CameraSampleDepth(int bits);

/* SetExposureMicroseconds: the exposure length in microseconds, 10 to 10000000, from the
 * next exposure on, for cameras that expose shorter than a millisecond or between whole
 * milliseconds. The program calls it in place of SetExposureLength whenever the library has
 * it; the last of the two called sets the length. Returns 1 when accepted, 0 when the camera
 * cannot take the length.
 *
 * A library without this entry point, or one that returned 0, gets SetExposureLength with
 * the length rounded to the nearest millisecond, at least 1. */
int SetExposureMicroseconds(long long us);

/* CameraSensorInfo: what the library knows of the sensor and its gain, for the files and the
 * window. Called on the acquisition thread once openUSB has opened the camera. The caller sets
 * `size` as with CameraFrameInfo; the library fills only the fields that lie wholly within
 * `size`. Returns 1 when it filled the struct, 0 when it knows nothing.
 *
 * A library without this entry point, or one that returns 0, reports neither pixel size nor
 * gain units. */
typedef struct TarviSensorInfo {
    unsigned int size;   /* set by the caller: sizeof(TarviSensorInfo) as it knows it */
    double pixelWidthUm; /* size of one pixel in micrometres; 0 = not known */
    double pixelHeightUm;
    double gainAtZero; /* the camera's own gain value at SetGain(0) and at SetGain(100),
                          linear between; equal values = not known */
    double gainAtFull;
} TarviSensorInfo;
int CameraSensorInfo(TarviSensorInfo* info);

/* The filter wheel: for a library that also turns a filter wheel in front of its camera.
 * Called on the acquisition thread, between exposures, once openUSB has opened the camera.
 * A library without these entry points, or whose FilterWheelState returns 0, has no wheel.
 *
 * FilterWheelState: the wheel as the library last heard of it, without waiting for it. The
 * caller sets `size` to the bytes of the struct it passes, as with CameraFrameInfo; the
 * library fills only the fields that lie wholly within `size`, so that either side may be
 * older. Returns 1 when there is a wheel, 0 when there is none. */
typedef struct TarviWheelState {
    unsigned int size;       /* set by the caller: sizeof(TarviWheelState) as it knows it */
    int slotCount;           /* filter positions, numbered 1..slotCount */
    int slot;                /* the position in the beam as the wheel last reported it; 0 = not
                                known */
    int moving;              /* 1 from a move asked for (by this program or anyone else) until
                                the wheel reports the position reached */
    long long settledUnixUs; /* when the library learnt that the wheel had reached its
                                position, microseconds since 1970-01-01 00:00 UTC, on the clock
                                of CameraFrameInfo's startUnixUs; 0 = not known */
    unsigned int names;      /* changes whenever a name of FilterWheelName does */
} TarviWheelState;
int FilterWheelState(TarviWheelState* state);

/* FilterWheelName: the name of filter position `slot` (1..slotCount), or with 0 the name of the
 * wheel itself, zero-terminated into buffer and cut to fit. Returns the length of the whole
 * name, or -1 when there is no such position. */
int FilterWheelName(int slot, char* buffer, int size);

/* FilterWheelMove: starts the move to position `slot` and returns at once: 1 = asked for
 * (FilterWheelState then says moving until the wheel reports the position reached), 0 =
 * refused (no wheel, no such position). */
int FilterWheelMove(int slot);

/* The focuser: for a library that also moves a focuser of the camera's telescope. Called on
 * the acquisition thread, between exposures, once openUSB has opened the camera. A library
 * without these entry points, or whose FocuserState returns 0, has no focuser.
 *
 * FocuserState: the focuser as the library last heard of it, without waiting for it. The
 * caller sets `size` as with FilterWheelState; the library fills only the fields that lie
 * wholly within `size`. Returns 1 when there is a focuser, 0 when there is none. */
typedef struct TarviFocuserState {
    unsigned int size; /* set by the caller: sizeof(TarviFocuserState) as it knows it */
    int position;      /* the absolute position, in the focuser's steps */
    int minimum;       /* the positions it can reach */
    int maximum;
    int moving; /* 1 from a move asked for (by this program or anyone else) until the
                   focuser reports the position reached */
} TarviFocuserState;
int FocuserState(TarviFocuserState* state);

/* FocuserMove: starts the move to the absolute position and returns at once: 1 = asked for
 * (FocuserState then says moving until the focuser reports the position reached), 0 =
 * refused (no focuser, a position out of its range). */
int FocuserMove(int position);

/* CameraListDevices: the cameras a library can reach behind a server, for the camera choice,
 * for a library that talks to one (such as the INDI camera). `server` is the library's
 * address, HOST:PORT ("" for its default). Asks on a connection of its own, so that the
 * camera in use (if any) is not disturbed, and may be called on any thread, before openUSB
 * or without it. Writes the device names, one a line, zero-terminated, into buffer and
 * returns how many there are; -1 when the server cannot be reached or the address is bad,
 * with the reason in buffer instead. Names that do not fit are left out. Takes up to a few
 * seconds.
 *
 * A library without this entry point offers no list; the user names the device. */
int CameraListDevices(const char* server, char* buffer, int size);

/* CameraHealth: how the camera is doing beyond each exposure's own result, for a library
 * that can tell (such as one whose frames come over a network): frames coming far slower
 * than the camera makes them, or the camera lost while the library tries to get it back. The
 * caller sets `size` to the bytes of the struct it passes, as with CameraFrameInfo; the
 * library fills only the fields that lie wholly within `size`, so that either side may be
 * older. Returns 1 when it filled the struct, 0 while no camera was opened. Never waits; may
 * be called on any thread.
 *
 * A library that restarts a slow stream or opens a lost camera again does so by itself,
 * with the settings in force; an exposure asked for meanwhile is refused (ThreadedExposure
 * returns 0) until the camera is back.
 *
 * A library without this entry point, or one that returns 0, is taken to be well whenever
 * its exposures end. */
enum {
    TARVI_HEALTH_GOOD = 0, /* frames come as the camera makes them */
    TARVI_HEALTH_SLOW = 1, /* frames come, far slower than the camera makes them */
    TARVI_HEALTH_LOST = 2  /* the camera cannot be reached; the library tries again */
};
typedef struct TarviCameraHealth {
    unsigned int size;     /* set by the caller: sizeof(TarviCameraHealth) as it knows it */
    int state;             /* TARVI_HEALTH_... */
    unsigned int troubles; /* counts each time the state left GOOD since the library was
                              loaded: a caller that looks seldom still learns of a trouble
                              that came and went */
    unsigned int restarts; /* the library's restarts of the stream and re-opens of the camera */
    char text[128];        /* the trouble in force in one line for the user, zero-terminated
                              ("INDI stream stalled: 0.1 fps of 23"); "" when GOOD */
} TarviCameraHealth;
int CameraHealth(TarviCameraHealth* health);

/* Camera controls: every setting of the camera beside the ten functions (offset, binning, a
 * cooler, USB bandwidth, ...) as data the library lists, so that a new control needs no new
 * entry point. All five entry points, or none; a library without them has no controls beyond
 * the ten functions. All are called on the acquisition thread, between exposures, once openUSB
 * has opened the camera.
 *
 * CameraControlCount: how many controls the camera has now, numbered 0..count-1 for
 * CameraControlInfo. When `generation` is not null it receives a number that changes whenever
 * the list or any control's description changes (a control added or removed, a range or a
 * choice name changed, a control turned read-only), never for a change of a value alone: the
 * program reads the list again when it changes. Returns 0 while no camera is open.
 *
 * CameraControlInfo: the description of control `index` (0..count-1). The caller sets `size`
 * as with CameraFrameInfo; the library fills only the fields that lie wholly within `size`.
 * Returns 1 when it filled the struct, 0 for no such control.
 *
 * CameraControlChoice: the name of value `choice` (0..choiceCount-1) of a TARVI_CONTROL_CHOICE
 * control, zero-terminated into buffer and cut to fit. Returns the length of the whole name, or
 * -1 when there is no such control or value.
 *
 * CameraControlGet: the value of the control in force, as the library last heard of it,
 * answered quickly (from what the library keeps where it can). The program reads every value
 * after the open, after a change of the list and after each CameraControlSet (a change of one
 * control may change others), and those marked TARVI_CONTROL_VOLATILE again every second or
 * so. A choice gives the number of its value, a switch 0 or 1, an action 1 while what it
 * started still runs, else 0. Returns 1 when it wrote *value, 0 when there is no such control
 * or its value is not known yet.
 *
 * CameraControlSet: sets the control from the next exposure on (a cooler's target temperature:
 * the cooler starts towards it), or starts an action (the value is then ignored). Integer,
 * choice and switch values are whole numbers. Returns 1 when accepted, 0 when refused (no such
 * control, read-only, outside its range, or the camera said no; CameraLastError then says
 * why). The value in force afterwards is what CameraControlGet gives; a library may move it
 * onto the camera's step. The program never sets a control during a recording unless it has
 * TARVI_CONTROL_WHILE_RECORDING. */
enum {
    TARVI_CONTROL_INTEGER = 1, /* whole numbers minimum..maximum in steps of step */
    TARVI_CONTROL_NUMBER = 2,  /* any number minimum..maximum; step a sensible increment */
    TARVI_CONTROL_CHOICE = 3,  /* one of choiceCount named values 0..choiceCount-1 */
    TARVI_CONTROL_SWITCH = 4,  /* off 0 or on 1 */
    TARVI_CONTROL_ACTION = 5   /* a command without a value ("Abort cooling") */
};
enum {
    /* flags: */
    TARVI_CONTROL_READ_ONLY = 1,       /* shown, never set (a sensor temperature) */
    TARVI_CONTROL_WHILE_RECORDING = 2, /* may change while a recording runs */
    TARVI_CONTROL_GEOMETRY = 4,        /* a change may change the sensor size of GetCameraInfo
                                          (binning: the size in binned pixels): the program asks
                                          for it again afterwards and sets the subframe anew */
    TARVI_CONTROL_VOLATILE = 8         /* the value changes by itself (a temperature, a cooler's
                                          power): read again every second or so */
};
/* role: what the control means to the program, beyond its caption. The program reaches the
 * first six through its own entry points and leaves them out of its control panel; it writes
 * the values of the others into its files (offset, binning, temperatures). */
enum {
    TARVI_ROLE_NONE = 0,
    TARVI_ROLE_EXPOSURE = 1, /* the length of SetExposureLength */
    TARVI_ROLE_GAIN = 2,     /* the gain of SetGain */
    TARVI_ROLE_WHITE_BALANCE = 3,
    TARVI_ROLE_FLIP = 4,
    TARVI_ROLE_SUBFRAME = 5, /* size or place of the subframe */
    TARVI_ROLE_SAMPLE_DEPTH = 6,
    TARVI_ROLE_OFFSET = 20,             /* the black level added to each sample, camera units */
    TARVI_ROLE_BINNING = 21,            /* pixels binned in each direction, 1, 2, ... */
    TARVI_ROLE_SENSOR_TEMPERATURE = 22, /* degrees Celsius, read-only */
    TARVI_ROLE_TARGET_TEMPERATURE = 23, /* the cooler's set point, degrees Celsius */
    TARVI_ROLE_COOLER = 24              /* switch: the cooler on */
};
typedef struct TarviControlInfo {
    unsigned int size; /* set by the caller: sizeof(TarviControlInfo) as it knows it */
    char id[64];       /* the library's name of the control, unique and the same from one open to
                          the next, zero-terminated ("CCD_CONTROLS.Offset") */
    char caption[64];  /* the text for the user, zero-terminated ("Offset") */
    char unit[16];     /* of the values, zero-terminated; "" for none ("C", "%") */
    int kind;          /* TARVI_CONTROL_INTEGER ... TARVI_CONTROL_ACTION */
    int flags;         /* TARVI_CONTROL_READ_ONLY | ... */
    int role;          /* TARVI_ROLE_... */
    int choiceCount;   /* the values of a choice; 0 for the other kinds */
    double minimum;    /* the range of an integer or number, both included */
    double maximum;
    double step; /* 0 = any */
} TarviControlInfo;
int CameraControlCount(unsigned int* generation);
int CameraControlInfo(int index, TarviControlInfo* info);
int CameraControlChoice(const char* id, int choice, char* buffer, int size);
int CameraControlGet(const char* id, double* value);
int CameraControlSet(const char* id, double value);

/* CameraClose: ends the use of the camera, for a program that changes camera while it runs:
 * stops what runs on the camera (an exposure, a stream, a cooler left as it is), closes it,
 * and ends every thread the library started, so that none of the library's code runs once it
 * returns and the program may unload the library. Called on the acquisition thread once the
 * last exposure has ended or been cancelled; openUSB may open the camera again afterwards.
 * Returns 1 when closed, 0 when a thread of the library could not be ended (the program then
 * keeps the library loaded).
 *
 * A library without this entry point stays loaded after a change of camera (its threads may
 * still run); the program stops using it and never calls it again unless it is chosen anew. */
int CameraClose(void);

#ifdef __cplusplus
}
#endif

/* NOLINTEND(readability-identifier-naming) */

#endif
