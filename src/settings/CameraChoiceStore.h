#pragma once
#include <QString>
#include <QStringList>
#include <string>

// The camera choice kept in the settings file (group "Camera"): the camera that opened last,
// and a choice made in the program ("Select Camera...") for the next start.
struct CameraChoice {
    QString name;  // "" for the default camera library
    QStringList options;
    bool operator==(const CameraChoice&) const = default;
};
// A camera name or option is bytes as the command line gave them, which need not be UTF-8 (a
// file name may hold byte 0xE9 alone). A choice keeps them as text that gives the same bytes
// back: well-formed UTF-8 decoded, any other byte B as the lone surrogate U+DC00 + B, which
// decoding never gives. The settings file keeps such a text as its bytes.
QString textOfBytes(const std::string& bytes);
std::string bytesOfText(const QString& text);

// The camera the next start without --camera uses: the one chosen in the program when there
// is one, else the one that opened last.
CameraChoice readCameraChoice();
// The camera that opened last (the default camera when none has).
CameraChoice readWorkingCameraChoice();
// Keeps a choice made in the program for the next start; it is tried once, and remembered
// when it opens.
bool writeCameraChoice(const CameraChoice& choice);
// Remembers the camera that has just opened for the next starts.
bool rememberWorkingCamera(const CameraChoice& choice);
// Forgets a choice made in the program once it has been tried (see resolveCameraChoice).
void forgetNextCameraChoice();
