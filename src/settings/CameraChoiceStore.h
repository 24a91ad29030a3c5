#pragma once
#include <QString>
#include <QStringList>

// The camera choice kept in the settings file (group "Camera"): the camera that opened last,
// and a choice made in the program ("Select Camera...") for the next start.
struct CameraChoice {
    QString name;  // "" for the default camera library
    QStringList options;
    bool operator==(const CameraChoice&) const = default;
};
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
