#include "widgets/OverlayDialog.h"

#include <qdrawutil.h>

#include <QButtonGroup>
#include <QCoreApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>

#include "platform/DateTime.h"

QString stampItemCaption(const char* label, const char* format, LocalDateTime moment) {
    const QString text = QCoreApplication::translate("OverlayDialog", label);
    if (!format || !*format) return text;
    return text + " (" + QString::fromStdString(formatDateTime(format, moment)) + ")";
}

QPoint overlayDialogPosition(const QRect& mainFrame, int dialogWidth) {
    return QPoint(mainFrame.left() + (mainFrame.width() - dialogWidth) / 2, mainFrame.top() + 55);
}

OverlayDialog::OverlayDialog(QWidget* parent, LocalDateTime moment)
    : KeyboardDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("ConfText");
    setWindowTitle(tr("Text Overlay Properties"));
    setFixedSize(353, 202);

    auto* group = new QGroupBox(tr("Date/Time format select"), this);
    group->setObjectName("RadioGroup1");
    group->setGeometry(7, 6, 339, 129);
    formatItems_ = new QButtonGroup(this);
    formatItems_->setExclusive(true);

    auto* prefixLabel = new QLabel(tr("Text Prefix"), this);
    prefixLabel->setObjectName("Label2");
    prefixLabel->setGeometry(8, 142, 120, 16);

    prefixEdit_ = new QLineEdit(this);
    prefixEdit_->setObjectName("fixed");
    prefixEdit_->setGeometry(8, 162, 273, 26);

    addKeyboardButton("AdvGlassButton1", QRect(247, 137, 34, 23), QSize(24, 16),
                      tr("On-screen keyboard"), prefixEdit_);

    auto* okButton = new QPushButton(tr("OK"), this);
    okButton->setObjectName("Button1");
    okButton->setGeometry(290, 160, 56, 30);
    okButton->setAutoDefault(false);  // Enter in the prefix box does not close the dialog

    hide();
    for (size_t i = 0; i < kStampFormats.size(); ++i) {
        const int index = static_cast<int>(i);
        auto* item =
            new QRadioButton(stampItemCaption(kStampLabels[i], kStampFormats[i], moment), group);
        item->setGeometry(10, 22 + index * 20, 320, 20);
        formatItems_->addButton(item, index);
    }
    setItemIndex(kDefaultStampItem);

    // Acting on the check state, not on clicks, gives the same result whichever way an
    // item is chosen.
    connect(formatItems_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) emit stampChanged(format(), prefix());
    });
    connect(prefixEdit_, &QLineEdit::textChanged, this,
            [this](const QString&) { emit stampChanged(format(), prefix()); });
    connect(okButton, &QPushButton::clicked, this, &OverlayDialog::accept);
}

QString OverlayDialog::format() const {
    const int index = itemIndex();
    if (index < 0 || index >= static_cast<int>(kStampFormats.size())) return QString();
    return QString::fromLatin1(kStampFormats[static_cast<size_t>(index)]);
}

QString OverlayDialog::prefix() const {
    return prefixEdit_->text();
}

int OverlayDialog::itemIndex() const {
    return formatItems_->checkedId();
}

void OverlayDialog::setItemIndex(int index) {
    if (QAbstractButton* b = formatItems_->button(index)) b->setChecked(true);
}

void OverlayDialog::execOver(QWidget* mainWindow) {
    if (mainWindow) move(overlayDialogPosition(mainWindow->frameGeometry(), width()));
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    // Blocks the main window only: the keyboard and the focus aid stay usable, and frames
    // keep arriving meanwhile.
    setWindowModality(Qt::WindowModal);
    exec();
}

void OverlayDialog::keyPressEvent(QKeyEvent* event) {
    // Only OK closes the dialog: Escape and Enter are not the dialog's keys here.
    QWidget::keyPressEvent(event);
}

void OverlayDialog::paintEvent(QPaintEvent* event) {
    KeyboardDialog::paintEvent(event);
    // Without a window frame the dialog draws its own raised edge.
    QPainter p(this);
    qDrawShadePanel(&p, rect(), palette(), false, 1);
}
