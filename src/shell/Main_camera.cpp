// Camera controls of the main window: exposure, gain, white balance, flip, colour, the
// subframe and the frame count field. None of them talks to the camera for exposure
// length, subframe, flip or white balance: they leave pending values that the acquisition
// thread brings into force between two exposures. The two direct calls are CancelExposure
// (a new exposure length while a long one runs) and SetGain (the gain slider released).
#include <QAction>
#include <QFrame>
#include <QLCDNumber>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>

#include "acquisition/CameraLib.h"
#include "acquisition/VideoCapture.h"
#include "display/FocusWindow.h"
#include "shell/ControlMath.h"
#include "shell/Main.h"
#include "shell/TrackBar.h"

void TForm1::WireCameraControls() {
    connect(_expot, &TTrackBar::KeyUp, this, [this] { _expotKeyUp(); });
    connect(_expot, &TTrackBar::MouseUp, this, [this] { _expotMouseUp(); });
    connect(expopup, &QMenu::triggered, this, [this](QAction* item) { MenuItem8Click(item); });
    connect(gain, &TTrackBar::Changed, this, [this] { GAINChange(); });
    connect(gain, &TTrackBar::KeyUp, this, [this] { gainKeyUp(); });
    connect(gain, &TTrackBar::MouseUp, this, [this] { gainMouseUp(); });
    for (TTrackBar* b : {redbalance, greenbalance, bluebalance})
        connect(b, &TTrackBar::Changed, this, [this] { balancePositionChanged(); });
    connect(HorizontalFlip1, &QAction::triggered, this, [this] { HorizontalFlip1Click(); });
    connect(Col1, &QAction::triggered, this, [this] { Col1Click(); });
    connect(expos, &QLineEdit::textChanged, this, [this] { exposChange(); });
    WireSubframeControls();
    WireDisplayHandlers();
}

// ---- exposure

void TForm1::_expotKeyUp() {
    const int32_t previous = Capture->ExposureMs.load();
    Capture->ExposureMs = _expot->Position();
    // A long exposure still running would keep the new length waiting for its old end.
    if (CommitCancelsExposure(previous) && Camera().CancelExposure) Camera().CancelExposure();
    Saved.EXPOLENGTH = QString::number(Capture->ExposureMs.load());
}

void TForm1::_expotMouseUp() {
    _expotKeyUp();
}

void TForm1::MenuItem8Click(QAction* item) {
    int32_t preset = 0;
    if (!item || !PresetFromCaption(item->text(), preset)) return;
    const ExposureRange range = ExposurePresetRange(_expot->Position(), preset);
    // The camera keeps its length until the next commit, even when the thumb moved.
    _expot->SetPosition(range.position);
    _expot->SetMax(range.max);
    _expot->SetTickInterval(range.tickInterval);
}

// ---- gain

void TForm1::GAINChange() {
    Capture->Gain = gain->Position();
    Saved.GAIN = QString::number(gain->Position());
}

void TForm1::gainKeyUp() {
    if (Camera().SetGain) Camera().SetGain(gain->Position());
}

void TForm1::gainMouseUp() {
    gainKeyUp();
}

// ---- white balance, flip, colour

void TForm1::balancePositionChanged() {
    Capture->RequestWhiteBalance(BalanceValue(bluebalance->Position()),
                                 BalanceValue(greenbalance->Position()),
                                 BalanceValue(redbalance->Position()));
}

void TForm1::HorizontalFlip1Click() {
    RequestedFlip = HorizontalFlip1->isChecked();
}

void TForm1::Col1Click() {
    ColorCamera = Col1->isChecked();
    Balance->setVisible(ColorCamera);
}

void TForm1::exposChange() {
    Saved.EXPOCOUNT = expos->text();
}

// ---- subframe

void TForm1::WireSubframeControls() {
    connect(SliderWidth, &TTrackBar::Changed, this, [this] { SliderWidthChange(); });
    connect(SliderWidth, &TTrackBar::KeyUp, this, [this] { SliderWidthKeyUp(); });
    connect(SliderWidth, &TTrackBar::MouseUp, this, [this] { SliderWidthMouseUp(); });
    connect(SliderHeight, &TTrackBar::Changed, this, [this] { SliderHeightChange(); });
    connect(SliderHeight, &TTrackBar::KeyUp, this, [this] { SliderHeightKeyUp(); });
    connect(SliderHeight, &TTrackBar::MouseUp, this, [this] { SliderHeightMouseUp(); });
}

void TForm1::SliderWidthChange() {
    // The focus point was clamped to the old frame size: the window closes with it.
    if (FocusForm) FocusForm->hide();
    const int32_t aligned = AlignedSize(SliderWidth->Position());
    const Span span = SubframeSpan(aligned, SliderWidth->Max(), kFullWidth);
    subframe->setGeometry(span.offset, subframe->y(), span.length, subframe->height());
    HRES->display(aligned);
    Capture->RequestedWidth = aligned;
}

void TForm1::SliderHeightChange() {
    if (FocusForm) FocusForm->hide();
    const int32_t aligned = AlignedSize(SliderHeight->Position());
    // The drawing follows the raw position, the request the aligned one.
    const Span span = SubframeSpan(SliderHeight->Position(), SliderHeight->Max(), kFullHeight);
    subframe->setGeometry(subframe->x(), span.offset, subframe->width(), span.length);
    VRES->display(aligned);
    Capture->RequestedHeight = aligned;
}

void TForm1::SliderWidthKeyUp() {
    Capture->RequestedWidth = AlignedSize(SliderWidth->Position());
}

void TForm1::SliderWidthMouseUp() {
    SliderWidthKeyUp();
}

void TForm1::SliderHeightKeyUp() {
    Capture->RequestedHeight = AlignedSize(SliderHeight->Position());
}

void TForm1::SliderHeightMouseUp() {
    SliderHeightKeyUp();
}
