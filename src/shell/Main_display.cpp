// The display side of the main window: the frame hand-off, the zoom, the centring of the
// picture, the histogram, the timestamp overlay, the focus aid and the status of the
// camera (frame rate, a camera that stopped answering).
#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include "acquisition/VideoCapture.h"
#include "display/OverlayDialog.h"
#include "display/FocusWindow.h"
#include "display/Histogram.h"
#include "display/Measure.h"
#include "display/Picture.h"
#include "platform/Clock.h"
#include "shell/FrameDispatch.h"
#include "shell/Main.h"

namespace {
// Calls `onResize` after a watched widget has been resized, once the widget has handled
// the resize itself (a scroll area places its contents then; the centring comes after).
class ResizeWatcher : public QObject {
  public:
    ResizeWatcher(QObject* parent, std::function<void()> onResize)
        : QObject(parent), onResize_(std::move(onResize)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) QTimer::singleShot(0, this, [this] { onResize_(); });
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> onResize_;
};
}  // namespace

void TForm1::WireDisplayHandlers() {
    connect(N251, &QAction::triggered, this, [this] { N251Click(); });
    connect(N501, &QAction::triggered, this, [this] { N501Click(); });
    connect(N1001, &QAction::triggered, this, [this] { N1001Click(); });
    connect(N2001, &QAction::triggered, this, [this] { N2001Click(); });
    ScrollBox1->installEventFilter(new ResizeWatcher(this, [this] { ScrollBox1Resize(); }));
    connect(HGram, &QCheckBox::clicked, this, [this] { HGramClick(); });
    connect(Visible1, &QAction::triggered, this, [this] { Visible1Click(); });
    connect(Configure1, &QAction::triggered, this, [this] { Configure1Click(); });
    connect(Image1, &TPicture::MouseDown, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
                Image1MouseDown(button, shift, x, y);
            });

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    Timer1->start();
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(500);
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });
    Timer2->start();
}

// ---- the frame hand-off

void TForm1::FrameReady(FrameNode* node) {
    ++FramesReceived;
    FrameFlags flags;
    flags.recording = Capture->Recording.load();
    flags.previewDuringCapture = PreviewDuringCapture1->isChecked();
    flags.colorCamera = ColorCamera;
    flags.histogram = HGram->isChecked();

    FrameActions actions;
    actions.preview = [this](cv::Mat& image) {
        if (RenderPreview(image, Image1->Bitmap(), FocusForm, &Stamp)) Image1->Repaint();
    };
    actions.histogram = [this](const cv::Mat& image8) {
        UpdateHistogram(image8, HistogramView{H1, sat, lAvg, loga->isChecked()});
    };
    actions.recordStep = [this] {
        if (RecordStepHook) RecordStepHook();
    };
    DispatchFrame(node, flags, actions, NextRecordTick, FramePause);
}

// ---- zoom and centring

void TForm1::ZoomClick(int percent) {
    if (!ApplyZoom(percent)) return;
    // The next rendered frame takes the new size; the view goes back to the top left.
    ScrollBox1->horizontalScrollBar()->setValue(0);
    ScrollBox1->verticalScrollBar()->setValue(0);
}

void TForm1::N251Click() {
    ZoomClick(25);
}
void TForm1::N501Click() {
    ZoomClick(50);
}
void TForm1::N1001Click() {
    ZoomClick(100);
}
void TForm1::N2001Click() {
    ZoomClick(200);
}

void TForm1::positionImage() {
    // Only where the picture is smaller than the box: in a direction where it is larger
    // the scroll area places it at its scroll position.
    const QPoint p = PositionImage(Image1->Bitmap().size(), ScrollBox1->size());
    const QSize view = ScrollBox1->viewport()->size();
    const int left = Image1->width() < view.width() ? p.x() : Image1->x();
    const int top = Image1->height() < view.height() ? p.y() : Image1->y();
    if (QPoint(left, top) != Image1->pos()) Image1->move(left, top);
}

void TForm1::ScrollBox1Resize() {
    positionImage();
}

void TForm1::Timer2Timer() {
    const QPoint p = Timer2Position(ScrollBox1->viewport()->size(), Image1->size(), Image1->pos());
    if (p != Image1->pos()) Image1->move(p);
    if (Capture->Recording.load() == 0) CancelButton->hide();
}

// ---- status: frame rate and camera state

void TForm1::Timer1Timer() {
    const uint32_t now = timeGetTime();
    const int32_t frames = Capture->FrameCount.exchange(0);
    const uint32_t elapsed = now - Capture->FpsStart.exchange(now);
    // While a recording runs, panel 0 shows its progress.
    if (Capture->Recording.load() == 0)
        StatusPanel(0)->setText(QString::asprintf("%2d FPS", FramesPerSecond(frames, elapsed)));
    StatusPanel(1)->setText(QString::fromLatin1(CameraStateText(Capture->State())));
}

// ---- histogram

void TForm1::HGramClick() {
    ::HGramClick(HGram->isChecked(), Panel6, loga);
}

// ---- timestamp overlay

void TForm1::Visible1Click() {
    Stamp.setVisible(Visible1->isChecked());
}

void TForm1::Configure1Click() {
    // Returns once the dialog is hidden again; frames keep arriving meanwhile.
    if (ConfText) ConfText->execOver(this);
}

// ---- focus aid

void TForm1::Image1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y) {
    if (!FocusForm) return;
    FocusForm->Image1MouseDown(button, x, y, Image1->size(), ZoomPercent,
                               Capture->Recording.load() != 0, this);
}
