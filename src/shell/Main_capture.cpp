// Capture commands of the main window: the capture group (count, pause, the capture and
// cancel buttons), the output format menus, the codec items, and the capture folder and
// base name.
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <limits>

#include "acquisition/CameraLib.h"
#include "acquisition/ImageList.h"
#include "acquisition/VideoCapture.h"
#include "controls/OutputNameDialog.h"
#include "display/FocusWindow.h"
#include "platform/Clock.h"
#include "platform/Message.h"
#include "recording/AVIExport.h"
#include "recording/AviWriter.h"
#include "recording/FileNames.h"
#include "shell/CapturePath.h"
#include "shell/Main.h"
#include "shell/TrackBar.h"

int32_t FramePause = 0;
uint32_t NextRecordTick = 0;

namespace {
bool IsBlank(QChar c) {
    return c.unicode() <= 32;
}
}  // namespace

QString TrimBlanks(const QString& text) {
    qsizetype first = 0, last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.mid(first, last - first);
}

void SplitPath(const QString& path, QString& directory, QString& baseName) {
    const qsizetype slash = path.lastIndexOf(u'/');
    directory = slash < 0 ? QString() : FolderOf(path.left(slash + 1));
    baseName = path.mid(slash + 1);
}

QString JoinPath(const QString& directory, const QString& baseName) {
    if (directory.isEmpty() || baseName.isEmpty()) return QString();
    return directory.endsWith(u'/') ? directory + baseName : directory + u'/' + baseName;
}

QString FolderOf(const QString& chosen) {
    return chosen.size() > 1 && chosen.endsWith(u'/') ? chosen.left(chosen.size() - 1) : chosen;
}

QString LastCaptureText(double durationSeconds, double framesPerSecond) {
    // snprintf follows LC_NUMERIC, which the application takes from the user's locale.
    return QString::fromStdString(
        FormatText(kLastCaptureTemplate, durationSeconds, framesPerSecond));
}

namespace {
// The main window's parts that show the recording's state.
class TCaptureView : public TExportView {
  public:
    explicit TCaptureView(TForm1* form) : form_(form) {}
    void SetProgressText(const std::string& text) override {
        form_->StatusPanel(0)->setText(QString::fromStdString(text));
    }
    void SetMemoryText(const std::string& text) override {
        form_->StatusPanel(2)->setText(QString::fromStdString(text));
    }
    void RecordingClosed() override {
        form_->CancelButton->hide();
        form_->SetCaptureLocked(false);
    }
    void ShowSummary(double durationSeconds, double framesPerSecond) override {
        form_->HTMLabel1->clear();
        form_->HTMLabel1->setText(LastCaptureText(durationSeconds, framesPerSecond));
        form_->Panel10->show();
        form_->HTMLabel1->show();
    }
    void ReportFailure(const std::string& text) override {
        // Shown once the frame hand-off that found the failure has returned: the message
        // box runs an event loop of its own.
        QTimer::singleShot(0, form_, [text] { ShowMessage(text); });
    }

  private:
    TForm1* form_;
};

void CutExposure() {
    if (Camera().CancelExposure) Camera().CancelExposure();
}

// A path as the file system spells it (the locale's encoding of file names).
std::string FileSystemName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

void ReleaseAllFrames() {
    while (FrameListHead) ReleaseHead();
}
}  // namespace

void TForm1::TCaptureDeleter::operator()(TAVIExport* p) const {
    delete p;
}
void TForm1::TCaptureDeleter::operator()(TExportView* p) const {
    delete p;
}

void TForm1::WireCaptureHandlers() {
    AviExport.reset(new TAVIExport);
    ExportView.reset(new TCaptureView(this));
    AviExport->View = ExportView.get();
    AviExport->Capture = Capture.get();
    RecordStepHook = [this] { AviExport->RecordStep(); };
    StatusPanel(2)->setToolTip(QStringLiteral("Free memory in MiB"));
    ChooseFolder = [](QWidget* owner) {
        return QFileDialog::getExistingDirectory(owner, QStringLiteral("Select save directory"),
                                                 QString(), QFileDialog::ShowDirsOnly);
    };

    connect(butCapture, &QPushButton::clicked, this, [this] { butCaptureClick(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
    connect(pse, &QLineEdit::textChanged, this, [this] { pseChange(); });
    connect(pseUnit, &QComboBox::currentIndexChanged, this, [this] { pseUnitChanged(); });
    for (QAction* item : {N12, N51, N102, N201, MenuItem1, MenuItem2})
        connect(item, &QAction::triggered, this, [this, item] { N12Click(item); });

    for (QAction* item : {SER8bit1, SER1})
        connect(item, &QAction::triggered, this, [this] { SER8bit1Click(); });
    for (QAction* item : {AVI2, AVI1})
        connect(item, &QAction::triggered, this, [this] { AVI2Click(); });
    for (QAction* item : {FIT1, FIT2})
        connect(item, &QAction::triggered, this, [this] { FIT1Click(); });
    for (QAction* item : {BMP1, BMP2})
        connect(item, &QAction::triggered, this, [this] { BMP1Click(); });
    connect(IRAW, &QAction::triggered, this, [this] { IRAWClick(); });
    connect(Askwhenopening1, &QAction::triggered, this, [this] { Askwhenopening1Click(); });

    connect(SetCaptureLocation1, &QAction::triggered, this, [this] { SetCaptureLocation1Click(); });
    connect(SetCaptureFilename1, &QAction::triggered, this, [this] { SetCaptureFilename1Click(); });
}

void TForm1::SetCaptureLocked(bool locked) {
    captureLocked_ = locked;
    const bool canCapture = !locked && !CapturePath.isEmpty();
    butCapture->setEnabled(canCapture);
    Button3->setEnabled(canCapture);
    for (QAction* item : {SER8bit1, AVI2, FIT1, BMP1, SER1, AVI1, FIT2, BMP2})
        item->setEnabled(!locked);
}

void TForm1::EnableCaptureButtons() {
    if (captureLocked_) return;  // given back when the recording ends
    butCapture->setEnabled(true);
    Button3->setEnabled(true);
}

bool TForm1::ReadCount(bool absolute, int32_t& count) {
    std::string error;
    if (!ParseCount(expos->text().toStdString(), count, error)) {
        ShowMessage(error);
        return false;
    }
    if (absolute && count < 0)
        count = count == std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::max()
                                                             : -count;
    return true;
}

void TForm1::StartRecording(int32_t count) {
    AviExport->SetMode(count, exposUnit->currentIndex() == 1);
    SetCaptureLocked(true);
    CancelButton->show();
    CancelButton->raise();
    if (FocusForm) FocusForm->hide();
    Capture->Recording = 1;
    AviExport->FramesDone = 0;
    CaptureStartTime = timeGetTime();
    FramesWritten = 0;
    HTMLabel1->hide();
}

void TForm1::butCaptureClick() {
    if (AviExport->Busy()) return;  // one recording at a time
    NextRecordTick = 0;
    CutExposure();
    AviExport->ColorFrames = Col1->isChecked();
    const std::string ext = AviExport->CaptureFormat == FormatSer ? ".SER" : ".AVI";
    if (CapturePath.isEmpty()) {
        ShowMessage("Error opening AVI/SER file");
        return;
    }
    ReleaseAllFrames();
    Capture->ExposureMs = _expot->Position();
    int32_t count = 0;
    if (!ReadCount(true, count)) return;
    const std::string base = FileSystemName(CapturePath) + ext;
    const std::string path = NumberedName(base, NextRecordingNumber(base));
    StatusPanel(2)->clear();
    if (AviExport->OpenRecording(path, Capture->ActiveWidth, Capture->ActiveHeight,
                                 ColorCamera ? 1 : 0, ActiveDepth)) {
        // The fixed text first, then what the writer found out.
        const std::string& reason = LastWriterError();
        ShowMessage("Error opening AVI/SER file" + (reason.empty() ? "" : "\n\n" + reason));
        return;
    }
    StartRecording(count);
}

void TForm1::Button3Click() {
    if (AviExport->Busy()) return;
    CutExposure();
    AviExport->ColorFrames = Col1->isChecked();
    NextRecordTick = 0;
    if (CapturePath.isEmpty()) {
        ShowMessage("Please set file parameters first");
        return;
    }
    // The count is read before the series is set up, so a field that cannot be converted
    // leaves nothing half prepared.
    int32_t count = 0;
    if (!ReadCount(false, count)) return;
    AviExport->StillPath =
        FileSystemName(CapturePath) + (AviExport->CaptureFormat == FormatFit ? ".FIT" : ".BMP");
    AviExport->WriterState = WriterStills;
    Capture->ExposureMs = _expot->Position();
    ReleaseAllFrames();
    StatusPanel(2)->clear();
    StartRecording(count);
}

void TForm1::CancelButtonClick() {
    NextRecordTick = 0;
    CutExposure();
    AviExport->FramesToGo = 0;
}

void TForm1::pseChange() {
    FramePause = PauseMs(pse->text().toStdString(), pseUnit->currentIndex() == 1);
}

void TForm1::pseUnitChanged() {
    pseChange();
}

void TForm1::N12Click(QAction* item) {
    QString caption = item->text();
    const qsizetype amp = caption.indexOf(u'&');
    if (amp >= 0) caption.remove(amp, 1);
    expos->setText(caption);
}

void TForm1::SelectFormat(int32_t format) {
    // The output of a running recording must be finished by the writer that began it.
    if (AviExport->Busy()) return;
    const bool sequence = format == FormatSer || format == FormatAvi;
    QPushButton* shown = sequence ? butCapture : Button3;
    switch (format) {
        case FormatSer:
            shown->setText(QStringLiteral("SER"));
            SER8bit1->setChecked(true);
            SER1->setChecked(true);
            break;
        case FormatAvi:
            shown->setText(QStringLiteral("AVI"));
            AVI2->setChecked(true);
            AVI1->setChecked(true);
            break;
        case FormatFit:
            shown->setText(QStringLiteral("FIT"));
            FIT1->setChecked(true);
            FIT2->setChecked(true);
            break;
        default:
            shown->setText(QStringLiteral("BMP"));
            BMP1->setChecked(true);
            BMP2->setChecked(true);
            break;
    }
    butCapture->setVisible(sequence);
    Button3->setVisible(!sequence);
    AviExport->CaptureFormat = format;
}

void TForm1::SER8bit1Click() {
    SelectFormat(FormatSer);
}
void TForm1::AVI2Click() {
    SelectFormat(FormatAvi);
}
void TForm1::FIT1Click() {
    SelectFormat(FormatFit);
}
void TForm1::BMP1Click() {
    SelectFormat(FormatBmp);
}

void TForm1::IRAWClick() {
    SetCodecFourCC('I', 'Y', 'U', 'V');
    IRAW->setChecked(true);
}

void TForm1::Askwhenopening1Click() {
    CodecFourCC = CodecAsk;
    IRAW->setChecked(false);
}

void TForm1::SplitCapturePath() {
    if (!Form5) return;  // made by FormCreate
    CapturePath = TrimBlanks(CapturePath);
    if (CapturePath.isEmpty()) return;
    QString base;
    SplitPath(CapturePath, CaptureDirectory, base);
    Form5->setBaseName(base);
}

void TForm1::JoinCapturePath() {
    if (!Form5) return;
    const QString joined = JoinPath(CaptureDirectory, Form5->baseName());
    if (joined.isEmpty()) return;
    CapturePath = joined;
    Saved.FILENAME = CapturePath;
    EnableCaptureButtons();
}

void TForm1::SetCaptureLocation1Click() {
    const QString chosen = ChooseFolder ? ChooseFolder(this) : QString();
    if (chosen.isEmpty()) return;  // cancelled
    CaptureDirectory = FolderOf(chosen);
    if (!Form5 || Form5->baseName().isEmpty()) return;
    CapturePath = JoinPath(CaptureDirectory, Form5->baseName());
    Saved.FILENAME = CapturePath;
    EnableCaptureButtons();
}

void TForm1::SetCaptureFilename1Click() {
    if (!Form5) return;
    SplitCapturePath();
    Form5->execOver(this);
    JoinCapturePath();
}

bool TForm1::CloseRecordingForExit() {
    if (!AviExport || !AviExport->Busy()) return true;
    if (AviExport->CloseRecording()) return true;
    std::fprintf(stderr, "%s\n", LastWriterError().c_str());
    return false;
}
