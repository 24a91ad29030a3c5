#pragma once
// The program's command line: which camera library to use and its options.
//   TarviVideo5X [--camera NAME|PATH] [--camera-option KEY=VALUE]... [--help] [--version]
// A camera choice is remembered in the settings file once that camera has opened, and used
// at the next start without one.
#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

#include "settings/CameraChoiceStore.h"

struct CommandLine {
    bool help = false;
    bool version = false;
    std::optional<std::string> camera;  // given with --camera
    std::vector<std::string> options;   // KEY=VALUE, in order
    std::string error;                  // not empty: the line cannot be used
};

// Reads our options and passes the toolkit's own (-platform NAME, -style NAME, ...) on to
// it; any other argument makes the line unusable.
CommandLine parseCommandLine(int argc, char** argv);
// The usage and the options, for --help and after a line that cannot be used.
std::string commandLineUsage();
// The text of --help: the usage and the camera libraries found.
std::string commandLineHelp(const std::vector<std::string>& cameras);

// The camera to use at this start: the one on the command line (with its options), else the
// one from readCameraChoice; options given without --camera go to that camera. A choice made
// in the program is used up here: when it does not open, the next start goes back to the
// camera that opened last.
CameraChoice resolveCameraChoice(const CommandLine& line);
// Loads the chosen camera library and hands it the choice's options, with the bytes the
// command line gave (loadChosenCamera, applyCameraOptions); false with the reason.
bool loadCameraChoice(const CameraChoice& choice, std::string* error);
// What to tell the user when the camera `tried` did not open: the cameras found and how to
// choose one, and which camera the next plain start uses.
std::string noCameraHint(const CameraChoice& tried, const CameraChoice& working,
                         const std::vector<std::string>& cameras);
