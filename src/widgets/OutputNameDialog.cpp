#include "widgets/OutputNameDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>

QPoint dialogPositionOver(const QRect& mainFrame, const QSize& dialogSize) {
    return QPoint(mainFrame.left() + (mainFrame.width() - dialogSize.width()) / 2,
                  mainFrame.top() + 70);
}

OutputNameDialog::OutputNameDialog(QWidget* parent)
    : KeyboardDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setWindowTitle(tr("Output File Names"));
    setFixedSize(kClientWidth, kClientHeight);

    auto* label = new QLabel(tr("File Base Name"), this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setGeometry(8, 4, 232, 16);

    nameEdit_ = new QLineEdit(this);
    nameEdit_->setObjectName(QStringLiteral("Edit1"));
    nameEdit_->setGeometry(8, 20, 232, 22);

    addKeyboardButton(QStringLiteral("AdvGlassButton3"), QRect(248, 16, 40, 28), QSize(26, 18),
                      tr("Show or hide the on-screen keyboard"), nameEdit_);

    auto* okButton = new QPushButton(tr("OK"), this);
    okButton->setObjectName(QStringLiteral("Button1"));
    okButton->setGeometry(132, 46, 76, 22);
    auto* cancelButton = new QPushButton(tr("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("Button2"));
    cancelButton->setGeometry(212, 46, 76, 22);
    // Enter in the edit is handled by the edit itself, so no button is a default button.
    for (QPushButton* b : {okButton, cancelButton}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    connect(okButton, &QPushButton::clicked, this, &OutputNameDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &OutputNameDialog::reject);
    connect(nameEdit_, &QLineEdit::returnPressed, this, &OutputNameDialog::accept);
}

void OutputNameDialog::setBaseName(const QString& name) {
    baseName_ = name;
    nameEdit_->setText(name);
}

bool OutputNameDialog::execOver(QWidget* mainWindow) {
    if (mainWindow) {
        if (parentWidget() != mainWindow) setParent(mainWindow, windowFlags());
        // Blocks the main window only; the keyboard is a window of its own and stays usable.
        setWindowModality(Qt::WindowModal);
        move(dialogPositionOver(mainWindow->frameGeometry(), frameGeometry().size()));
    }
    return exec() == QDialog::Accepted;
}

void OutputNameDialog::accept() {
    if (nameEdit_->text().isEmpty()) nameEdit_->setText(kDefaultName);
    baseName_ = nameEdit_->text();  // as typed, not trimmed
    KeyboardDialog::accept();
}

void OutputNameDialog::showEvent(QShowEvent* event) {
    KeyboardDialog::showEvent(event);
    if (event->spontaneous()) return;
    nameEdit_->setText(baseName_);
    nameEdit_->setFocus();
}

void OutputNameDialog::paintEvent(QPaintEvent* event) {
    KeyboardDialog::paintEvent(event);
    // Without a window frame the dialog draws its own edge.
    QPainter p(this);
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}
