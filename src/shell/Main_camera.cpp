// Camera controls of the main window: exposure, gain, white balance, colour and the
// frame count field.
#include <QAction>
#include <QFrame>
#include <QLineEdit>

#include "acquisition/VideoCapture.h"
#include "shell/Main.h"
#include "shell/TrackBar.h"

void TForm1::WireCameraControls() {
    connect(gain, &TTrackBar::Changed, this, [this] { GAINChange(); });
    for (TTrackBar* b : {redbalance, greenbalance, bluebalance})
        connect(b, &TTrackBar::Changed, this, [this] { balancePositionChanged(); });
    connect(Col1, &QAction::triggered, this, [this] { Col1Click(); });
    connect(expos, &QLineEdit::textChanged, this, [this] { exposChange(); });
}

void TForm1::GAINChange() {
    Capture->Gain = gain->Position();
    Saved.GAIN = QString::number(gain->Position());
}

void TForm1::Col1Click() {
    ColorCamera = Col1->isChecked();
    Balance->setVisible(ColorCamera);
}

void TForm1::balancePositionChanged() {
    Capture->RequestWhiteBalance(bluebalance->Position() + 127, greenbalance->Position() + 127,
                                 redbalance->Position() + 127);
}

void TForm1::exposChange() {
    Saved.EXPOCOUNT = expos->text();
}
