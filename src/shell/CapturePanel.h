#pragma once
// The capture group: frame count or duration, the pause between recorded frames, the
// capture buttons with their output format menu, the cancel button and the "Last Capture"
// summary; and the capture path (folder and base name) the recordings are written under.
// It starts and cancels recordings on the recording controller and shows their state.
#include <QFrame>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "recording/RecordingController.h"

class CaptureThread;
class FrameHandoff;
class OutputNameDialog;
class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class StatusPanels;

class CapturePanel : public QFrame {
    Q_OBJECT
  public:
    CapturePanel(CaptureThread& capture, RecordingController& recorder, FrameHandoff& handoff,
                 StatusPanels& status, QWidget* parent = nullptr);

    // The summary panel, placed by the main window below the capture group.
    QFrame* summaryPanel() const { return summary_; }
    // The four output format items of the capture buttons' pop-up, in one exclusive group.
    QList<QAction*> formatItems() const;
    // Puts the menu bar's own four format items into `menu`. Each menu has actions of its
    // own (assistive tools describe an action by the menu that shows it); this panel keeps
    // their checked and enabled states in step.
    void addFormatItems(QMenu* menu);
    CaptureFormat format() const { return format_; }
    // Chooses the output format (ignored while a recording runs): the button in view and
    // its caption follow.
    void selectFormat(CaptureFormat format);

    // The exposure length that recordings take, and whether frames are colour.
    void setExposureSource(std::function<int()> exposureMs) { exposureMs_ = std::move(exposureMs); }
    void setColorCamera(bool color) { colorCamera_ = color; }
    // The facts of a recording about to start (camera, settings, session details).
    std::function<RecordingFacts()> factsSource;

    QString countText() const;
    void setCountText(const QString& text);
    void setPauseText(const QString& text);

    // The capture path: folder + "/" + base name, without extension.
    QString capturePath() const { return capturePath_; }
    // The folder recordings go to; empty until known.
    QString captureDirectory() const { return captureDirectory_; }
    void setCapturePath(const QString& path);
    // "Set Capture Location": the folder dialog (replaceable for tests).
    void chooseLocation();
    std::function<QString(QWidget* owner)> chooseFolder;
    // "Set Capture Filename": the output-name dialog.
    void setOutputNameDialog(OutputNameDialog* dialog) { nameDialog_ = dialog; }
    void chooseFileName();

    // Starts a SER or AVI recording, or a FIT or BMP series (the two capture buttons).
    void startSequence();
    void startStillSeries();
    void cancelRecording();
    // A capture command given while the filter wheel turns waits for it: true meanwhile.
    bool waitingForWheel() const { return waiting_ != Waiting::None; }
    // Closes a recording still open (the exit procedure); false when it could not be
    // finished.
    bool closeForExit();

  signals:
    void recordingStarted();
    void capturePathChanged(const QString& path);
    void countChanged(const QString& text);

  private:
    // What the recording controller says.
    void endRecordingControls();
    void showSummary(double durationSeconds, double framesPerSecond);
    void reportFailure(const QString& text);

    void buildControls();
    void setLocked(bool locked);
    void updateButtons();
    bool readCount(bool absolute, int32_t& count);
    void showRecordingStarted();
    void cutExposure();
    int32_t pauseMs() const;
    void applyPause();
    void finishIfOver();
    void storePath(const QString& path);
    // The filter row: the wheel's filters, the one in the beam, a start that waited for it.
    void updateWheel();
    void chooseFilter(int index);
    bool waitForWheel(bool sequence);

    CaptureThread& capture_;
    RecordingController& recorder_;
    FrameHandoff& handoff_;
    StatusPanels& status_;
    OutputNameDialog* nameDialog_ = nullptr;
    std::function<int()> exposureMs_;
    bool colorCamera_ = true;
    CaptureFormat format_ = CaptureFormat::Fit;
    bool locked_ = false;
    // The first exposure a recording may take: the one after the exposure the capture
    // command cut short.
    uint64_t firstExposure_ = 0;
    // While a recording runs: ends it when it is over although no frame arrives (a camera
    // that stopped answering, a cancel, a timed end).
    QTimer* overTimer_ = nullptr;
    QString capturePath_;
    QString captureDirectory_;
    QString baseName_;

    QLineEdit* count_ = nullptr;
    QComboBox* countUnit_ = nullptr;
    QLineEdit* pause_ = nullptr;
    QComboBox* pauseUnit_ = nullptr;
    QPushButton* sequenceButton_ = nullptr;
    QPushButton* stillButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QMenu* formatMenu_ = nullptr;
    QActionGroup* formats_ = nullptr;      // the pop-up's items
    QActionGroup* menuFormats_ = nullptr;  // the menu bar's items
    QList<QAction*> allFormatItems() const;
    QFrame* summary_ = nullptr;
    QLabel* summaryText_ = nullptr;

    // The filter wheel of the camera, when it has one.
    QWidget* filterRow_ = nullptr;
    QLabel* filterLabel_ = nullptr;
    QComboBox* filter_ = nullptr;
    QTimer* wheelTimer_ = nullptr;
    std::vector<std::string> shownFilters_;
    int32_t recordedSlot_ = 0;  // the filter of the running recording, for its log
    enum class Waiting { None, Sequence, Stills } waiting_ = Waiting::None;
};
