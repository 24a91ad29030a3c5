#pragma once
// What the parts of the INDI camera library share: the state the INDI callbacks and the
// entry points both see, the settings of the entry points, and the helpers that talk to
// the server. Nothing here is exported from the library.
#include <libindi/baseclient.h>
#include <libindi/basedevice.h>
#include <libindi/indiproperty.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "FrameCopy.h"
#include "StreamWatch.h"

namespace indicam {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Exposures shorter than this use the video stream when the driver has one: below it a
// single exposure's fixed cost (FITS built, sent and decoded, measured at 60-100 ms per frame
// with the simulator) is larger than the exposure itself.
constexpr int kStreamBelowMs = 100;
constexpr auto kAnswerTimeout = 5s;    // device found, connected and its properties in
constexpr auto kListingTime = 2s;      // for the server to list its devices
constexpr auto kImageMargin = 10s;     // after the exposure time, before giving up on an image
constexpr int kPreviewPeriodMs = 10;   // polling period asked of the driver
constexpr auto kListingQuiet = 300ms;  // no new property for this long: the listing is complete
// A camera lost (server or device gone) is opened again, with the settings in force, on the
// first exposure asked for at least this long after the last try.
constexpr auto kReopenInterval = 2s;
// A stream turned off keeps its driver busy with the frame in hand for a while: the
// simulator's stream thread, told to stop and start again before it has finished that frame,
// sleeps for one over the exposure (100 s at 10 ms) and sends nothing meanwhile. A stream is
// started no sooner than this, plus one exposure, after it was last seen stopping.
constexpr auto kStreamSettle = 500ms;

enum class Kind { None, Single, Stream };

struct Options {
    std::string host = "localhost";
    int port = 7624;
    std::string device;  // empty: the first camera
    // The images come on a second connection of their own (blobs=separate), so that the
    // settings and states on the first are never queued behind megabytes of image text.
    bool separateBlobs = true;
    // The server's local socket (indiserver -u PATH) for the image connection, empty for
    // none: there the server hands the images over in shared memory instead of as text.
    std::string localSocket;
};

struct State {
    std::mutex mutex;
    std::condition_variable changed;

    // Everything the server told about, by device and property name.
    std::map<std::pair<std::string, std::string>, INDI::Property> props;
    std::vector<std::string> devices;  // in order of appearance
    Clock::time_point lastProperty;
    Clock::time_point lastDefined;  // the newest property definition
    bool serverUp = false;
    bool lost = false;          // server or device gone since openUSB
    bool blobsDefined = false;  // the image connection has the camera's BLOB properties
    // The thread that reads the stream's images (the image connection's), 0 before the first.
    pid_t readerTid = 0;
    std::string lastError;
    std::string lastPrinted;

    std::string device;
    int sensorWidth = 0, sensorHeight = 0, bitsPerPixel = 16;
    double pixelWidthUm = 0, pixelHeightUm = 0;  // CCD_INFO's pixel size; 0: not reported
    sem_t* done = nullptr;

    // The running exposure.
    Kind pending = Kind::None;
    uint8_t* buffer = nullptr;
    int width = 0, height = 0;
    int left = 0, top = 0;  // where the subframe lies on the sensor
    bool mirror = false;
    int depth = 8;  // bits of each buffer word: 8 or 16
    Clock::time_point deadline;
    unsigned generation = 0;         // settings changes; stream frames of older settings are stale
    bool exposureAnswered = false;   // the driver showed the single exposure busy
    int abortsUnanswered = 0;        // aborts sent whose CCD_EXPOSURE reply has not come
    long long streamExposureUs = 0;  // exposure of the stream frames asked for
    bool driverStreamOn = false;     // the driver's stream, as it last reported it
    // When the driver's stream was last seen turning off (sent by this library or reported
    // by the driver), and the exposure it then streamed; kept over a re-open.
    Clock::time_point streamStopped;
    long long stoppedExposureUs = 0;

    // What became of the exposure whose end was signalled last (CameraFrameInfo).
    bool lastKnown = false;
    bool lastGood = false;
    long long lastStartUs = 0;
    int lastBits = 0;               // significant bits of its samples
    int lastLeft = 0, lastTop = 0;  // where its subframe lay on the sensor
    std::string lastPattern;        // mosaic of its samples as stored; empty for mono

    // The newest stream frame not yet delivered, and the settings it was taken with.
    indicam::Image streamFrame;
    bool streamFrameFresh = false;
    unsigned streamFrameGeneration = 0;
    int streamWidth = 0, streamHeight = 0;  // the stream frame asked of the driver

    // The stream's arrival rate against the driver's, judged by the watchdog.
    StreamWatch watch;
    double madeFps = 0;  // the driver's rate as it last reported it while streaming

    // What CameraHealth reports: the trouble in force ("" for none), the troubles begun since
    // the camera was first opened, and the stream restarts and re-opens made meanwhile.
    std::string trouble;
    unsigned troubles = 0;
    unsigned restarts = 0;
    // The camera opened by openUSB is to be opened again when it is lost.
    bool reopenWanted = false;

    bool stopWatchdog = false;
};

// Settings of the entry points, owned by the acquisition thread (under apiMutex).
struct Settings {
    long long exposureUs = 100'000;  // microseconds
    int gain = -1;                   // not set: the driver's own
    int width = 0, height = 0;
    // The subframe's origin as SubframeOrigin asked for it; negative: centred.
    int originLeft = -1, originTop = -1;
    bool flip = false;
    bool driverFlips = false;
    bool streamOn = false;
    double streamExposure = -1;
    int frameX = -1, frameY = -1, frameW = -1, frameH = -1;
    int streamFrameW = -1, streamFrameH = -1, streamFrameX = -1, streamFrameY = -1;
    bool lostReported = false;
};

inline State& state() {
    static State* s = new State;  // never destroyed: the client thread may outlive exit
    return *s;
}

// The library's globals live until the process ends (never destroyed: the unload hook
// below still uses them after static destruction has begun).
struct Globals {
    std::mutex apiMutex;
    Options options;
    Settings settings;
    std::string cameraName;
    std::thread watchdog;
    bool reopening = false;  // a lost camera is being opened again: its failures are quiet
};
inline Globals& globals() {
    static Globals* g = new Globals;
    return *g;
}
inline std::mutex& g_apiMutex = globals().apiMutex;
inline Options& g_options = globals().options;
inline Settings& g_settings = globals().settings;
inline std::string& g_cameraName = globals().cameraName;
inline std::thread& g_watchdog = globals().watchdog;
inline bool& g_reopening = globals().reopening;

// The connection to the server (never destroyed at exit: the client thread may outlive it),
// and the one that takes only the camera's images when they come apart (null otherwise).
inline std::unique_ptr<INDI::BaseClient>& g_client = *new std::unique_ptr<INDI::BaseClient>;
inline std::unique_ptr<INDI::BaseClient>& g_imageClient = *new std::unique_ptr<INDI::BaseClient>;
enum class Role { Control, Images };
std::unique_ptr<INDI::BaseClient> makeClient(Role role = Role::Control);
// Opens the image connection when the options ask for one and the server serves it, and sets
// which connection takes the camera's BLOBs; the control connection takes them otherwise.
// Under apiMutex, with the device connected and its properties listed.
void connectImages(const std::string& device);
// Leaves the image connection, if any; at exit (atExit) its client stays in memory.
void closeImages(bool atExit = false);

// Property and state helpers (IndiClient.cpp).
void report(std::unique_lock<std::mutex>& lock, const std::string& message);
void postDone(sem_t* done);
void endPending(State& s, bool filled = false, long long startUs = 0);
// Copies an image into the running exposure's buffer (with s.mutex held) and notes its depth
// and mosaic for CameraFrameInfo; false when it does not fit (IndiCam.cpp).
bool copyImage(State& s, const indicam::Image& image);
long long unixNowUs();
INDI::Property find(State& s, const char* name);
INDI::WidgetView<INumber>* numberOf(const INDI::Property& p, const char* element);
bool switchIsOn(const INDI::Property& p, const char* element);
std::string driverPattern(State& s);
bool usable();
bool setNumbers(const char* name, std::initializer_list<std::pair<const char*, double>> values);
bool ensureNumbers(const char* name, std::initializer_list<std::pair<const char*, double>> values);
bool ensureSwitch(const char* name, const char* element);
bool setSwitch(const char* name, const char* element, bool on = true);
bool hasProperty(const char* name);
bool rangeOf(const char* name, const char* element, double* min, double* max);
std::string controlElement(std::initializer_list<const char*> candidates);
bool setScaled(const char* name, const std::string& element, int value, int top);
void stopStream();
void noteStreamStopped(State& s);
void awaitStreamSettled();

// The session with the server and the device (IndiSession.cpp).
void watchdogLoop();
void close(bool atExit = false);
int fail(const std::string& message);
std::string chooseDevice();
bool switchIsOnNow(const char* name, const char* element);
int openCamera();
void settingsChanged();
// Where a w x h subframe lies on the sensor: the origin SubframeOrigin asked for (centred
// where negative), moved inside the sensor and rounded down to even.
struct Placement {
    int left = 0;
    int top = 0;
};
Placement placeSubframe(int w, int h);
void prepareStream(int w, int h);
void prepareSingle(int w, int h);
void assertSessionSettings();
void assertStreamSettings();
void restartSlowStream();
// Notes a trouble begun or ended for CameraHealth (with s.mutex held): "" ends it.
void noteTrouble(State& s, const std::string& text);
// "HOST:PORT" into its parts; false with the reason in *why for anything else.
bool parseServer(const std::string& v, std::string* host, int* port, std::string* why = nullptr);

// Sends with SIGPIPE held back on this thread, so a server that has just gone away does not
// end the program; the write error itself is the client library's to notice.
template <typename Fn>
void send(Fn&& send) {
    sigset_t pipe, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    send();
    const timespec zero{0, 0};
    while (sigtimedwait(&pipe, nullptr, &zero) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

// Waits for pred (under the state lock) until the timeout; true when it held.
template <typename Pred>
bool waitFor(Clock::duration timeout, Pred pred) {
    State& s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    return s.changed.wait_for(lock, timeout, [&] { return pred(s); });
}

}  // namespace indicam
