#pragma once
// The capture group: frame count or duration, the pause between recorded frames, the
// capture buttons with their output format menu, the cancel button and the "Last Capture"
// summary; and the capture path (folder and base name) the recordings are written under.
// It gives capture commands to the recording controller, which owns the recording from
// there on (the wait for the wheel, the pause, its end), and shows what the controller says.
#include <QFrame>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "recording/RecordingController.h"

class CaptureThread;
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
    // `exposureUs`: the exposure length that recordings take (the exposure slider's).
    CapturePanel(CaptureThread& capture, RecordingController& recorder, StatusPanels& status,
                 std::function<int64_t()> exposureUs, QWidget* parent = nullptr);

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

    // Whether frames are colour.
    void setColorCamera(bool color) { colorCamera_ = color; }

    QString countText() const;
    void setCountText(const QString& text);
    void setPauseText(const QString& text);

    // The capture path: folder + "/" + base name, without extension.
    QString capturePath() const { return capturePath_; }
    // The folder recordings go to; empty until known.
    QString captureDirectory() const { return captureDirectory_; }
    void setCapturePath(const QString& path);
    // "Set Capture Location": the folder dialog, or what replaces it (a test's answer).
    void chooseLocation();
    using FolderChooser = std::function<QString(QWidget* owner)>;
    void setFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }
    // "Set Capture Filename": the output-name dialog.
    void setOutputNameDialog(OutputNameDialog* dialog) { nameDialog_ = dialog; }
    void chooseFileName();

    // Starts a SER or AVI recording, or a FIT or BMP series (the two capture buttons).
    void startSequence();
    void startStillSeries();
    void cancelRecording();
    // The capture command of a script, in the panel's words: the format ("SER", "AVI",
    // "FIT", "BMP", in either case), the count and its unit (" expo(s)" or " sec(s)"; blanks around
    // it do not count) are chosen in the panel as the user would choose them, then the capture
    // starts as with the button. Nothing is asked: a recording that cannot be made crash-safe is
    // made, and the log says why. "" when it started or waits, else why not.
    QString startCaptureAs(const QString& format, int64_t count, const QString& unit);
    // The cancel command of a script: "" when a recording ran or waited, else why not.
    QString cancelCaptureAs();
    // While a sequence runs (`cancel` set): the capture controls stay locked and Cancel in
    // view between its recordings, and Cancel calls `cancel` instead of ending the recording
    // itself. An empty function gives the controls back.
    void holdForSequence(std::function<void()> cancel);
    // A capture command waits (for the filter wheel to stop, for sharp seeing): true
    // meanwhile.
    bool waiting() const { return recorder_.waiting(); }
    // Closes a recording still open (the exit procedure); false when it could not be
    // finished.
    bool closeForExit();

  signals:
    void recordingStarted();
    // The "Last Capture" summary shown at a recording's end (rich text).
    void summaryShown(const QString& text);
    void capturePathChanged(const QString& path);
    void countChanged(const QString& text);

  private:
    // What the recording controller says.
    void showRecordingControls();
    void endRecordingControls();
    void showSummary(double durationSeconds, double framesPerSecond);
    void reportFailure(const QString& text);

    void buildControls();
    void describeControls();
    void setLocked(bool locked);
    void updateButtons();
    bool readCount(bool absolute, int32_t& count, std::string& error) const;
    // What a capture command did: it started or waits, or why not.
    struct CaptureOutcome {
        enum class Kind { Accepted, Running, NoPath, Refused };
        Kind kind = Kind::Accepted;
        QString reason;  // in words; "" when accepted, or when the user declined
    };
    // Why a capture command cannot start now (a recording runs or waits, no capture path).
    CaptureOutcome captureRefusal() const;
    // The capture command of either button, or of a script (`interactive` false: nothing
    // is asked), for the format chosen.
    CaptureOutcome requestCapture(bool sequence, bool interactive);
    // A refusal of a button's command, as the window says it.
    void showRefusal(const CaptureOutcome& outcome, bool sequence);
    int32_t pauseMs() const;
    void applyPause();
    void storePath(const QString& path);
    // The filter row: the wheel's filters and the one in the beam.
    void updateWheel();
    void chooseFilter(int index);

    CaptureThread& capture_;
    RecordingController& recorder_;
    StatusPanels& status_;
    OutputNameDialog* nameDialog_ = nullptr;
    std::function<int64_t()> exposureUs_;
    std::function<void()> sequenceCancel_;
    bool colorCamera_ = true;
    CaptureFormat format_ = CaptureFormat::Fit;
    bool locked_ = false;
    FolderChooser chooseFolder_;
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
};
