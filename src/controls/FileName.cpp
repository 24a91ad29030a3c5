#include "controls/FileName.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>

#include "controls/ModalWait.h"
#include "controls/VKEY.h"

QPoint DialogPositionOver(const QRect& mainFrame, const QSize& dialogSize) {
    return QPoint(mainFrame.left() + (mainFrame.width() - dialogSize.width()) / 2,
                  mainFrame.top() + 70);
}

TForm5::TForm5(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setWindowTitle(QStringLiteral("Output File Names"));
    setFixedSize(kClientWidth, kClientHeight);

    Label1 = new QLabel(QStringLiteral("File Base Name"), this);
    Label1->setGeometry(8, 4, 232, 16);

    Edit1 = new QLineEdit(this);
    Edit1->setGeometry(8, 20, 232, 22);

    AdvGlassButton3 = new QToolButton(this);
    AdvGlassButton3->setGeometry(248, 16, 40, 28);
    AdvGlassButton3->setIcon(KeyboardButtonIcon());
    AdvGlassButton3->setIconSize(QSize(26, 18));
    AdvGlassButton3->setToolTip(QStringLiteral("Show or hide the on-screen keyboard"));
    AdvGlassButton3->setFocusPolicy(Qt::NoFocus);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setGeometry(132, 46, 76, 22);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setGeometry(212, 46, 76, 22);
    // Enter in the edit is handled by the edit itself, so no button is a default button.
    for (QPushButton* b : {Button1, Button2}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Edit1, &QLineEdit::returnPressed, this, [this] { Button1Click(); });
    connect(AdvGlassButton3, &QToolButton::clicked, this, [this] { BitBtn1Click(); });
}

void TForm5::AttachKeyboard(TForm4* keyboard) {
    QPointer<TForm4> kb(keyboard);
    KeyboardToggle = [kb](QWidget* dialog) {
        if (kb) kb->ShowBelow(dialog);
    };
    KeyboardHide = [kb] {
        if (kb) kb->hide();
    };
}

bool TForm5::Execute(QWidget* mainWindow) {
    if (mainWindow) {
        if (parentWidget() != mainWindow) setParent(mainWindow, windowFlags());
        // Blocks the main window only; the keyboard is a window of its own and stays usable.
        setWindowModality(Qt::WindowModal);
        move(DialogPositionOver(mainWindow->frameGeometry(), frameGeometry().size()));
    }
    ok_ = false;
    show();
    raise();
    activateWindow();
    Edit1->setFocus();
    WaitUntilHidden(this);
    return ok_;
}

void TForm5::Button1Click() {
    if (Edit1->text().isEmpty()) Edit1->setText(kDefaultName);
    BaseName = Edit1->text();  // as typed, not trimmed
    ok_ = true;
    hide();
}

void TForm5::Button2Click() {
    hide();
}

void TForm5::reject() {
    Button2Click();
}

void TForm5::BitBtn1Click() {
    if (KeyboardToggle) KeyboardToggle(this);
    Edit1->setFocus();
}

void TForm5::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) Edit1->setText(BaseName);
}

void TForm5::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (KeyboardHide && !event->spontaneous()) KeyboardHide();
}

void TForm5::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // Without a window frame the dialog draws its own edge.
    QPainter p(this);
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}
