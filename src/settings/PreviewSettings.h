#pragma once
// What the user chose for the live picture and the automatic exposure, and where the main
// window was: group "Preview" of the settings file, each written when it changes (the window's
// place when the program ends). Missing or damaged values give the defaults.
#include <QByteArray>
#include <cstdint>

struct PreviewChoices {
    // The display stretch on the histogram's 8-bit scale, and its gamma.
    int black = 0;
    int white = 255;
    double gamma = 1.0;
    bool autoStretch = false;
    bool showClipped = false;
    int reticle = 0;  // 0 off, 1 cross, 2 circles
};
PreviewChoices readPreviewChoices();
bool writePreviewChoices(const PreviewChoices& choices);

struct AutoExposureChoices {
    bool on = false;
    int targetPercent = 75;       // of full scale
    int64_t longestUs = 100'000;  // the longest exposure it may set
    int highestGain = 100;        // the highest gain it may set (0..100)
    bool gainFirst = false;       // raise the gain before the exposure
};
AutoExposureChoices readAutoExposureChoices();
bool writeAutoExposureChoices(const AutoExposureChoices& choices);

// The main window's size and place (QWidget::saveGeometry); empty when none is stored.
QByteArray readWindowGeometry();
bool writeWindowGeometry(const QByteArray& geometry);
