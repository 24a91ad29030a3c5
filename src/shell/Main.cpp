// The main window's definition: caption, size limits, font, the left control column,
// the picture in its scroll box, the hidden right column, the menus and the status bar.
#include "shell/Main.h"

#include <QActionGroup>
#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QSlider>
#include <QStatusBar>

#include "acquisition/VideoCapture.h"
#include "display/Histogram.h"
#include "display/Picture.h"
#include "platform/Halt.h"
#include "shell/Colors.h"
#include "shell/FrameEvent.h"
#include "shell/TrackBar.h"

namespace {
QLabel* SmallLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setContentsMargins(0, 0, 0, 0);
    return label;
}

QFrame* Panel(const QString& name, QWidget* parent) {
    auto* frame = new QFrame(parent);
    frame->setObjectName(name);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    return frame;
}

// A numeric field: digits only, at most 5 of them, right-aligned, "0" as hint when empty.
QLineEdit* DigitsEdit(const QString& name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    edit->setMaxLength(5);
    edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    edit->setPlaceholderText(QStringLiteral("0"));
    edit->setFixedWidth(56);
    return edit;
}

QComboBox* UnitBox(const QString& name, const QStringList& units, int index, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->addItems(units);
    box->setCurrentIndex(index);
    return box;
}

// The pictures of the format items: 0 a strip of film (SER, AVI), 1 a single frame
// (FIT, BMP); 25 x 25 pixels.
QIcon FormatIcon(int picture) {
    QPixmap pm(25, 25);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (picture == 0) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 40, 40));
        p.drawRect(2, 5, 21, 15);
        p.setBrush(Qt::white);
        for (int x = 4; x < 22; x += 4) {
            p.drawRect(x, 6, 2, 2);
            p.drawRect(x, 17, 2, 2);
        }
        p.setBrush(QColor(120, 170, 230));
        p.drawRect(5, 9, 6, 7);
        p.drawRect(14, 9, 6, 7);
    } else {
        p.setPen(QPen(QColor(40, 40, 40), 1.5));
        p.setBrush(QColor(20, 20, 60));
        p.drawRect(QRectF(3.5, 4.5, 18, 16));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 250, 200));
        p.drawEllipse(QPointF(12.5, 12.5), 3, 3);
    }
    return QIcon(pm);
}

// The cancel button has no caption; a stop sign says what it does.
QIcon StopIcon() {
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 30, 30));
    p.drawRect(3, 3, 14, 14);
    return QIcon(pm);
}

QAction* Item(QMenu* menu, const QString& name, const QString& caption) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    return a;
}

QAction* RadioItem(QMenu* menu, QActionGroup* group, const QString& name, const QString& caption) {
    QAction* a = Item(menu, name, caption);
    a->setCheckable(true);
    group->addAction(a);
    return a;
}

// Balance sliders: the thumb coloured after the channel it sets.
void ColourThumb(TTrackBar* bar, const QColor& color) {
    bar->Slider->setStyleSheet(
        QStringLiteral("QSlider::groove:horizontal { height: 4px; background: #a0a0a0; }"
                       "QSlider::handle:horizontal { background: %1; border: 1px solid #404040;"
                       " width: 8px; margin: -6px 0; }")
            .arg(color.name()));
}
}  // namespace

bool ColorCamera = false;

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    // System menu and maximise box, no minimise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("TarviVideo "));
    setMinimumSize(1024, 750);
    setMaximumSize(9999, 9999);
    resize(1024, 750);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    font.setBold(true);
    setFont(font);

    // The acquisition thread exists as long as the window; it starts once the camera
    // has answered (FormCreate).
    postTarget_ = std::make_shared<TFramePostTarget>(this);
    Capture = std::make_unique<TVideoCapture>(MakeFramePoster(postTarget_));

    auto* central = new QWidget(this);
    auto* row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    setCentralWidget(central);

    BuildLeftColumn();
    row->addWidget(LeftPanel);

    ScrollBox1 = new QScrollArea(central);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setWidgetResizable(false);
    ScrollBox1->setBackgroundRole(QPalette::Dark);
    Image1 = new TPicture;
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->SetAutoSize(true);
    Image1->setCursor(Qt::CrossCursor);
    ScrollBox1->setWidget(Image1);
    row->addWidget(ScrollBox1, 1);

    RightPanel = Panel(QStringLiteral("RightPanel"), central);
    RightPanel->setFixedWidth(60);
    auto* levels = new QHBoxLayout(RightPanel);
    BlackLevelSlider = new QSlider(Qt::Vertical, RightPanel);
    BlackLevelSlider->setObjectName(QStringLiteral("BlackLevelSlider"));
    WhiteLevelSlider = new QSlider(Qt::Vertical, RightPanel);
    WhiteLevelSlider->setObjectName(QStringLiteral("WhiteLevelSlider"));
    for (QSlider* s : {BlackLevelSlider, WhiteLevelSlider}) {
        s->setRange(0, 255);
        levels->addWidget(s);
    }
    RightPanel->hide();
    row->addWidget(RightPanel);

    BuildMenus();
    BuildStatusBar();

    WireStartupHandlers();
    WireCameraControls();
    // Handlers of the display, capture, output-name and subframe roles are connected
    // here by their own Wire... functions as those files are added.
}

void TForm1::BuildLeftColumn() {
    LeftPanel = new QFrame(this);
    LeftPanel->setObjectName(QStringLiteral("LeftPanel"));
    LeftPanel->setFixedWidth(kLeftColumnWidth);
    auto* column = new QVBoxLayout(LeftPanel);
    column->setContentsMargins(1, 2, 1, 2);
    column->setSpacing(3);
    BuildExposureControls(column);
    BuildSubframeControls(column);
    BuildHistogramControls(column);
    BuildCaptureControls(column);

    Panel10 = Panel(QStringLiteral("Panel10"), LeftPanel);
    auto* summary = new QVBoxLayout(Panel10);
    summary->setContentsMargins(2, 2, 2, 2);
    HTMLabel1 = new QLabel(Panel10);
    HTMLabel1->setObjectName(QStringLiteral("HTMLabel1"));
    HTMLabel1->setTextFormat(Qt::RichText);
    HTMLabel1->setWordWrap(true);
    HTMLabel1->setText(QString::fromLatin1(kLastCaptureTemplate));
    summary->addWidget(HTMLabel1);
    Panel10->hide();  // shown with the summary of the first finished recording
    column->addWidget(Panel10);
    column->addStretch(1);
}

void TForm1::BuildExposureControls(QVBoxLayout* column) {
    column->addWidget(SmallLabel(QStringLiteral("Exposure"), LeftPanel));
    _expot = new TTrackBar(Qt::Horizontal, 1, 100, 1, QStringLiteral("%d ms"), LeftPanel);
    _expot->setObjectName(QStringLiteral("_expot"));
    _expot->SetTickInterval(_expot->Max() / 10);
    column->addWidget(_expot);

    expopup = new QMenu(this);
    expopup->setObjectName(QStringLiteral("expopup"));
    MenuItem3 = Item(expopup, QStringLiteral("MenuItem3"), QStringLiteral("100ms"));
    MenuItem4 = Item(expopup, QStringLiteral("MenuItem4"), QStringLiteral("500ms"));
    MenuItem5 = Item(expopup, QStringLiteral("MenuItem5"), QStringLiteral("1000ms"));
    MenuItem6 = Item(expopup, QStringLiteral("MenuItem6"), QStringLiteral("2500ms"));
    MenuItem7 = Item(expopup, QStringLiteral("MenuItem7"), QStringLiteral("5000ms"));
    MenuItem8 = Item(expopup, QStringLiteral("MenuItem8"), QStringLiteral("10000ms"));
    _expot->Slider->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(_expot->Slider, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { expopup->popup(_expot->Slider->mapToGlobal(p)); });

    column->addWidget(SmallLabel(QStringLiteral("Gain"), LeftPanel));
    gain = new TTrackBar(Qt::Horizontal, 0, 100, 10, QStringLiteral("%d %%"), LeftPanel);
    gain->setObjectName(QStringLiteral("gain"));
    column->addWidget(gain);

    Balance = Panel(QStringLiteral("Balance"), LeftPanel);
    auto* wb = new QVBoxLayout(Balance);
    wb->setContentsMargins(2, 1, 2, 1);
    wb->setSpacing(0);
    const struct {
        TTrackBar** bar;
        const char* name;
        QColor color;
    } balances[] = {{&redbalance, "redbalance", QColor(220, 30, 30)},
                    {&greenbalance, "greenbalance", QColor(30, 170, 30)},
                    {&bluebalance, "bluebalance", QColor(40, 70, 230)}};
    for (const auto& b : balances) {
        *b.bar = new TTrackBar(Qt::Horizontal, -127, 128, 0, QStringLiteral("%d"), Balance);
        (*b.bar)->setObjectName(QString::fromLatin1(b.name));
        ColourThumb(*b.bar, b.color);
        wb->addWidget(*b.bar);
    }
    column->addWidget(Balance);
}

void TForm1::BuildSubframeControls(QVBoxLayout* column) {
    Panel11 = Panel(QStringLiteral("Panel11"), LeftPanel);
    auto* grid = new QVBoxLayout(Panel11);
    grid->setContentsMargins(3, 2, 3, 2);
    grid->setSpacing(2);

    auto* counters = new QHBoxLayout;
    auto lcd = [this](const QString& name, int value) {
        auto* n = new QLCDNumber(4, Panel11);
        n->setObjectName(name);
        n->setSegmentStyle(QLCDNumber::Flat);
        n->setFixedSize(56, 22);
        n->display(value);
        return n;
    };
    HRES = lcd(QStringLiteral("HRES"), 2000);
    Label8 = new QLabel(QStringLiteral("x"), Panel11);
    Label8->setObjectName(QStringLiteral("Label8"));
    VRES = lcd(QStringLiteral("VRES"), 1024);
    counters->addWidget(HRES);
    counters->addWidget(Label8);
    counters->addWidget(VRES);
    counters->addStretch(1);
    grid->addLayout(counters);

    auto* sensorRow = new QHBoxLayout;
    sensorRow->setSpacing(2);
    full = new QFrame(Panel11);
    full->setObjectName(QStringLiteral("full"));
    full->setFixedSize(106, 85);
    full->setAutoFillBackground(true);
    QPalette dark = full->palette();
    dark.setColor(QPalette::Window, QColor(30, 30, 40));
    full->setPalette(dark);
    subframe = new QWidget(full);
    subframe->setObjectName(QStringLiteral("subframe"));
    subframe->setAutoFillBackground(true);
    QPalette blue = subframe->palette();
    blue.setColor(QPalette::Window, kSkyBlue);
    subframe->setPalette(blue);
    subframe->setGeometry(0, 0, 106, 85);
    sensorRow->addWidget(full);
    SliderHeight = new TTrackBar(Qt::Vertical, 100, 2000, 999, QString(), Panel11);
    SliderHeight->setObjectName(QStringLiteral("SliderHeight"));
    SliderHeight->Slider->setInvertedAppearance(true);  // smallest height at the top
    SliderHeight->setFixedHeight(85);
    sensorRow->addWidget(SliderHeight);
    sensorRow->addStretch(1);
    grid->addLayout(sensorRow);

    SliderWidth = new TTrackBar(Qt::Horizontal, 100, 2000, 2000, QString(), Panel11);
    SliderWidth->setObjectName(QStringLiteral("SliderWidth"));
    SliderWidth->setFixedWidth(106);
    grid->addWidget(SliderWidth);
    column->addWidget(Panel11);
}

void TForm1::BuildHistogramControls(QVBoxLayout* column) {
    auto* boxes = new QVBoxLayout;
    boxes->setSpacing(0);
    HGram = new QCheckBox(QStringLiteral("Histogram"), LeftPanel);
    HGram->setObjectName(QStringLiteral("HGram"));
    HGram->setChecked(true);
    loga = new QCheckBox(QStringLiteral("Logarithmic"), LeftPanel);
    loga->setObjectName(QStringLiteral("loga"));
    boxes->addWidget(HGram);
    boxes->addWidget(loga);
    column->addLayout(boxes);
    Panel6 = CreateHistogramPanel(LeftPanel, &H1, &sat, &lAvg);
    column->addWidget(Panel6);
}

void TForm1::BuildCaptureControls(QVBoxLayout* column) {
    CapturePanel = Panel(QStringLiteral("CapturePanel"), LeftPanel);
    auto* box = new QVBoxLayout(CapturePanel);
    box->setContentsMargins(3, 2, 3, 3);
    box->setSpacing(2);

    Label4 = SmallLabel(QStringLiteral("Frame Count/Duration"), CapturePanel);
    Label4->setObjectName(QStringLiteral("Label4"));
    box->addWidget(Label4);
    auto* countRow = new QHBoxLayout;
    expos = DigitsEdit(QStringLiteral("expos"), CapturePanel);
    expos->setText(QStringLiteral("1"));
    exposUnit = UnitBox(QStringLiteral("exposUnit"),
                        {QStringLiteral(" expo(s)"), QStringLiteral(" sec(s)")}, 0, CapturePanel);
    countRow->addWidget(expos);
    countRow->addWidget(exposUnit, 1);
    box->addLayout(countRow);

    CountPopup = new QMenu(this);
    CountPopup->setObjectName(QStringLiteral("CountPopup"));
    N12 = Item(CountPopup, QStringLiteral("N12"), QStringLiteral("1"));
    N51 = Item(CountPopup, QStringLiteral("N51"), QStringLiteral("5"));
    N102 = Item(CountPopup, QStringLiteral("N102"), QStringLiteral("10"));
    N201 = Item(CountPopup, QStringLiteral("N201"), QStringLiteral("20"));
    MenuItem1 = Item(CountPopup, QStringLiteral("MenuItem1"), QStringLiteral("50"));
    MenuItem2 = Item(CountPopup, QStringLiteral("MenuItem2"), QStringLiteral("100"));
    expos->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(expos, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { CountPopup->popup(expos->mapToGlobal(p)); });

    auto* pauseRow = new QHBoxLayout;
    Pause = SmallLabel(QStringLiteral("Pause"), CapturePanel);
    Pause->setObjectName(QStringLiteral("Pause"));
    pse = DigitsEdit(QStringLiteral("pse"), CapturePanel);
    pse->setFixedWidth(48);
    pseUnit = UnitBox(QStringLiteral("pseUnit"), {QStringLiteral(" ms"), QStringLiteral(" sec")}, 1,
                      CapturePanel);
    pauseRow->addWidget(Pause);
    pauseRow->addWidget(pse);
    pauseRow->addWidget(pseUnit, 1);
    box->addLayout(pauseRow);

    // The two capture buttons and the cancel button share one place; the cancel button,
    // when shown, lies over both.
    ButtonPlace = new QWidget(CapturePanel);
    ButtonPlace->setObjectName(QStringLiteral("ButtonPlace"));
    ButtonPlace->setFixedSize(165, 35);
    butCapture = new QPushButton(QStringLiteral("SER"), ButtonPlace);
    butCapture->setObjectName(QStringLiteral("butCapture"));
    Button3 = new QPushButton(QStringLiteral("FIT"), ButtonPlace);
    Button3->setObjectName(QStringLiteral("Button3"));
    CancelButton = new QPushButton(ButtonPlace);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setIcon(StopIcon());
    CancelButton->setToolTip(QStringLiteral("Cancel"));
    for (QPushButton* b : {butCapture, Button3, CancelButton}) {
        b->setGeometry(0, 0, 165, 35);
        b->raise();
    }
    CancelButton->hide();
    box->addWidget(ButtonPlace, 0, Qt::AlignHCenter);

    SERAVI = new QMenu(this);
    SERAVI->setObjectName(QStringLiteral("SERAVI"));
    auto* formats = new QActionGroup(SERAVI);
    SER8bit1 = RadioItem(SERAVI, formats, QStringLiteral("SER8bit1"), QStringLiteral("    SER"));
    AVI2 = RadioItem(SERAVI, formats, QStringLiteral("AVI2"), QStringLiteral("    AVI"));
    FIT1 = RadioItem(SERAVI, formats, QStringLiteral("FIT1"), QStringLiteral("    FIT"));
    BMP1 = RadioItem(SERAVI, formats, QStringLiteral("BMP1"), QStringLiteral("    BMP"));
    SER8bit1->setIcon(FormatIcon(0));
    AVI2->setIcon(FormatIcon(0));
    FIT1->setIcon(FormatIcon(1));
    BMP1->setIcon(FormatIcon(1));
    FIT1->setChecked(true);
    for (QPushButton* b : {butCapture, Button3}) {
        b->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(b, &QWidget::customContextMenuRequested, this,
                [this, b](const QPoint& p) { SERAVI->popup(b->mapToGlobal(p)); });
    }
    column->addWidget(CapturePanel);
}

void TForm1::BuildMenus() {
    QMenuBar* bar = menuBar();

    File1 = bar->addMenu(QStringLiteral("File"));
    File1->setObjectName(QStringLiteral("File1"));
    Exit1 = Item(File1, QStringLiteral("Exit1"), QStringLiteral("Exit"));

    CaptureFiles1 = bar->addMenu(QStringLiteral("Capture Files"));
    CaptureFiles1->setObjectName(QStringLiteral("CaptureFiles1"));
    SetCaptureLocation1 = Item(CaptureFiles1, QStringLiteral("SetCaptureLocation1"),
                               QStringLiteral("Set Capture Location"));
    SetCaptureFilename1 = Item(CaptureFiles1, QStringLiteral("SetCaptureFilename1"),
                               QStringLiteral("Set Capture Filename"));
    SetCaptureFormat1 = CaptureFiles1->addMenu(QStringLiteral("Set Capture Format"));
    SetCaptureFormat1->setObjectName(QStringLiteral("SetCaptureFormat1"));
    auto* formats = new QActionGroup(SetCaptureFormat1);
    AVI1 = RadioItem(SetCaptureFormat1, formats, QStringLiteral("AVI1"), QStringLiteral("AVI"));
    BMP2 = RadioItem(SetCaptureFormat1, formats, QStringLiteral("BMP2"), QStringLiteral("BMP"));
    FIT2 = RadioItem(SetCaptureFormat1, formats, QStringLiteral("FIT2"), QStringLiteral("FIT"));
    SER1 = RadioItem(SetCaptureFormat1, formats, QStringLiteral("SER1"), QStringLiteral("SER"));
    SetCaptureFormat1->menuAction()->setVisible(false);
    Compression1 = CaptureFiles1->addMenu(QStringLiteral("Compression"));
    Compression1->setObjectName(QStringLiteral("Compression1"));
    IRAW = Item(Compression1, QStringLiteral("IRAW"), QStringLiteral("IYUV codec (Registax)"));
    IRAW->setCheckable(true);
    IRAW->setChecked(true);
    Askwhenopening1 =
        Item(Compression1, QStringLiteral("Askwhenopening1"), QStringLiteral("Ask when opening"));
    Compression1->menuAction()->setVisible(false);

    CameraSetup1 = bar->addMenu(QStringLiteral("Camera Setup"));
    CameraSetup1->setObjectName(QStringLiteral("CameraSetup1"));
    AddDateTime1 = CameraSetup1->addMenu(QStringLiteral("TimeStamp Overlay"));
    AddDateTime1->setObjectName(QStringLiteral("AddDateTime1"));
    Visible1 = Item(AddDateTime1, QStringLiteral("Visible1"), QStringLiteral("Visible"));
    Visible1->setCheckable(true);
    Configure1 = Item(AddDateTime1, QStringLiteral("Configure1"), QStringLiteral("Configure"));
    PreviewDuringCapture1 = Item(CameraSetup1, QStringLiteral("PreviewDuringCapture1"),
                                 QStringLiteral("Preview During Capture"));
    PreviewDuringCapture1->setCheckable(true);
    HorizontalFlip1 =
        Item(CameraSetup1, QStringLiteral("HorizontalFlip1"), QStringLiteral("Horizontal Flip"));
    HorizontalFlip1->setCheckable(true);
    Col1 = Item(CameraSetup1, QStringLiteral("Col1"), QStringLiteral("Color Camera"));
    Col1->setCheckable(true);
    Col1->setChecked(true);

    ZOOM1 = bar->addMenu(QStringLiteral("ZOOM"));
    ZOOM1->setObjectName(QStringLiteral("ZOOM1"));
    ZoomGroup = new QActionGroup(ZOOM1);
    N251 = RadioItem(ZOOM1, ZoomGroup, QStringLiteral("N251"), QStringLiteral("25%"));
    N501 = RadioItem(ZOOM1, ZoomGroup, QStringLiteral("N501"), QStringLiteral("50%"));
    N1001 = RadioItem(ZOOM1, ZoomGroup, QStringLiteral("N1001"), QStringLiteral("100%"));
    N2001 = RadioItem(ZOOM1, ZoomGroup, QStringLiteral("N2001"), QStringLiteral("200%"));
    N4001 = RadioItem(ZOOM1, ZoomGroup, QStringLiteral("N4001"), QStringLiteral("400%"));
    N4001->setVisible(false);
}

void TForm1::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFixedWidth(kStatusWidths[i]);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        bar->addWidget(panel);
        statusPanels_[i] = panel;
    }
}

QLabel* TForm1::StatusPanel(int index) const {
    return index >= 0 && index < 3 ? statusPanels_[index] : nullptr;
}
