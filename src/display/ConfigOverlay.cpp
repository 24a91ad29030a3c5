#include "display/ConfigOverlay.h"

#include <QButtonGroup>
#include <QEventLoop>
#include <QGroupBox>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <opencv2/imgproc.hpp>

#include "controls/VKEY.h"
#include "platform/DateTime.h"


std::function<void(QWidget*, QLineEdit*)> OverlayKeyboardToggle;
std::function<void()> OverlayKeyboardHide;

void PutStampText(cv::Mat& image, const std::string& text) {
    if (image.empty() || text.empty()) return;
    cv::putText(image, text, cv::Point(20, 20), cv::FONT_HERSHEY_PLAIN, 1.0,
                cv::Scalar(255, 255, 255, 0), 1, cv::LINE_8, false);
}


QString StampItemCaption(const char* label, const char* format, TDateTime moment) {
    const QString text = QString::fromUtf8(label);
    if (!format || !*format) return text;
    return text + " (" + QString::fromStdString(FormatDateTime(format, moment)) + ")";
}

QPoint ConfTextPosition(const QRect& mainFrame, int dialogWidth) {
    return QPoint(mainFrame.left() + (mainFrame.width() - dialogWidth) / 2, mainFrame.top() + 55);
}

TConfText::TConfText(QWidget* parent, TDateTime moment)
    : QFrame(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("ConfText");
    setWindowTitle("Text Overlay Properties");
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setFixedSize(353, 202);

    RadioGroup1 = new QGroupBox("Date/Time format select", this);
    RadioGroup1->setObjectName("RadioGroup1");
    RadioGroup1->setGeometry(7, 6, 339, 129);
    RadioItems = new QButtonGroup(this);
    RadioItems->setExclusive(true);

    Label2 = new QLabel("Text Prefix", this);
    Label2->setObjectName("Label2");
    Label2->setGeometry(8, 142, 120, 16);

    fixed = new QLineEdit(this);
    fixed->setObjectName("fixed");
    fixed->setGeometry(8, 162, 273, 26);

    AdvGlassButton1 = new QToolButton(this);
    AdvGlassButton1->setObjectName("AdvGlassButton1");
    AdvGlassButton1->setGeometry(247, 137, 34, 23);
    AdvGlassButton1->setIcon(KeyboardButtonIcon());
    AdvGlassButton1->setIconSize(QSize(24, 16));
    AdvGlassButton1->setToolTip("On-screen keyboard");
    AdvGlassButton1->setFocusPolicy(Qt::NoFocus);

    Button1 = new QPushButton("OK", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(290, 160, 56, 30);

    // FormCreate: hidden, the five formats with samples of this moment, item 3 selected.
    hide();
    for (size_t i = 0; i < kStampFormats.size(); ++i) StampFormats[i] = kStampFormats[i];
    for (size_t i = 0; i < kStampFormats.size(); ++i)
        Additem(kStampLabels[i], kStampFormats[i], moment);
    SetItemIndex(kDefaultStampItem);

    connect(RadioItems, &QButtonGroup::idClicked, this, [this](int) { RadioGroup1Click(); });
    connect(fixed, &QLineEdit::textChanged, this, [this](const QString&) { fixedChange(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(AdvGlassButton1, &QToolButton::clicked, this, [this] { BitBtn1Click(); });
}

void TConfText::Additem(const char* label, const char* format, TDateTime moment) {
    const int index = static_cast<int>(RadioItems->buttons().size());
    auto* item = new QRadioButton(StampItemCaption(label, format, moment), RadioGroup1);
    item->setGeometry(10, 22 + index * 20, 320, 20);
    RadioItems->addButton(item, index);
}

int TConfText::ItemIndex() const {
    return RadioItems->checkedId();
}

void TConfText::SetItemIndex(int index) {
    if (QAbstractButton* b = RadioItems->button(index)) b->setChecked(true);
}

void TConfText::RadioGroup1Click() {
    const int index = ItemIndex();
    if (index < 0 || index >= static_cast<int>(StampFormats.size())) return;
    if (OnFormatChosen) OnFormatChosen(StampFormats[static_cast<size_t>(index)]);
}

void TConfText::fixedChange() {
    if (OnPrefixChanged) OnPrefixChanged(fixed->text().toStdString());
}

void TConfText::Button1Click() {
    hide();
}

void TConfText::BitBtn1Click() {
    if (OverlayKeyboardToggle) OverlayKeyboardToggle(this, fixed);
    // The keyboard's keys go to the focused widget: the prefix box.
    activateWindow();
    fixed->setFocus(Qt::OtherFocusReason);
}

void TConfText::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    if (event->spontaneous()) return;  // minimised by the desktop, not hidden by us
    if (OverlayKeyboardHide) OverlayKeyboardHide();
    emit Hidden();
}

void ShowConfTextAndWait(TConfText* dialog, QWidget* mainWindow) {
    if (!dialog) return;
    if (mainWindow) dialog->move(ConfTextPosition(mainWindow->frameGeometry(), dialog->width()));
    if (dialog->isVisible()) {
        dialog->raise();
        dialog->activateWindow();
        return;
    }
    QEventLoop loop;
    QPointer<TConfText> guard(dialog);
    QObject::connect(dialog, &TConfText::Hidden, &loop, &QEventLoop::quit);
    QObject::connect(dialog, &QObject::destroyed, &loop, &QEventLoop::quit);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    if (guard && dialog->isVisible()) loop.exec();
}
