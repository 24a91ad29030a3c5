#pragma once
// The program's command line: which camera library to use and its options.
//   TarviVideo5X [--camera NAME|PATH] [--camera-option KEY=VALUE]... [--help] [--version]
// The choice is remembered in the settings file and used at the next start without one.
#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

struct CommandLine {
    bool help = false;
    bool version = false;
    std::optional<std::string> camera;  // given with --camera
    std::vector<std::string> options;   // KEY=VALUE, in order
    std::string error;                  // not empty: the line cannot be used
};

// Reads our options; arguments it does not know are left to the toolkit.
CommandLine ParseCommandLine(int argc, char** argv);
// The text of --help: usage, options and the camera libraries found.
std::string CommandLineHelp(const std::vector<std::string>& cameras);

// The camera choice kept in the settings file (group "Camera").
struct CameraChoice {
    QString name;  // "" for the default camera library
    QStringList options;
};
CameraChoice ReadCameraChoice();
bool WriteCameraChoice(const CameraChoice& choice);
// The camera to use at this start: the one on the command line (with its options), else the
// remembered one; options given without --camera go to the remembered camera. A choice made
// on the command line is remembered for the next start.
CameraChoice ResolveCameraChoice(const CommandLine& line);
