#include "widgets/SessionDetailsDialog.h"

#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>

namespace {
QLineEdit* field(QWidget* parent, const char* name, int maxLength, const QString& hint = {}) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(maxLength);
    edit->setPlaceholderText(hint);
    return edit;
}

std::string text(const QLineEdit* edit) {
    return edit->text().trimmed().toStdString();
}
}  // namespace

SessionDetailsDialog::SessionDetailsDialog(QWidget* parent)
    : KeyboardDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("SessionDetailsForm"));
    setWindowTitle(tr("Session Details"));

    // The SER header keeps 40 bytes for each text, a FITS card 68 characters.
    target_ = field(this, "TargetEdit", 40);
    observer_ = field(this, "ObserverEdit", 40);
    telescope_ = field(this, "TelescopeEdit", 40);
    filter_ = field(this, "FilterEdit", 20);
    latitude_ = field(this, "LatitudeEdit", 12, tr("degrees, north +"));
    longitude_ = field(this, "LongitudeEdit", 12, tr("degrees, east +"));

    auto* form = new QFormLayout;
    form->addRow(tr("Target"), target_);
    form->addRow(tr("Observer"), observer_);
    form->addRow(tr("Telescope"), telescope_);
    form->addRow(tr("Filter"), filter_);
    form->addRow(tr("Site latitude"), latitude_);
    form->addRow(tr("Site longitude"), longitude_);

    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("ProblemLabel"));
    problem_->setStyleSheet(QStringLiteral("color: #c00000"));
    problem_->setWordWrap(true);
    problem_->hide();

    auto* okButton = new QPushButton(tr("OK"), this);
    okButton->setObjectName(QStringLiteral("OkButton"));
    auto* cancelButton = new QPushButton(tr("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("CancelButton"));
    for (QPushButton* b : {okButton, cancelButton}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    QToolButton* keys = addKeyboardButton(QStringLiteral("KeyboardButton"), QRect(), QSize(26, 18),
                                          tr("Show or hide the on-screen keyboard"), target_);
    keys->setFixedSize(40, 28);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(keys);
    buttons->addStretch(1);
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);

    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addWidget(problem_);
    column->addLayout(buttons);
    setMinimumWidth(340);

    for (QLineEdit* edit : {target_, observer_, telescope_, filter_, latitude_, longitude_}) {
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::returnPressed, this, &SessionDetailsDialog::accept);
    }
    connect(okButton, &QPushButton::clicked, this, &SessionDetailsDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &SessionDetailsDialog::reject);
}

bool SessionDetailsDialog::eventFilter(QObject* watched, QEvent* event) {
    // The keyboard types into the field the user was in.
    if (event->type() == QEvent::FocusIn)
        if (auto* edit = qobject_cast<QLineEdit*>(watched)) setKeyTarget(edit);
    return KeyboardDialog::eventFilter(watched, event);
}

void SessionDetailsDialog::setDetails(const SessionDetails& details) {
    details_ = details;
    fillEdits();
}

void SessionDetailsDialog::fillEdits() {
    target_->setText(QString::fromStdString(details_.target));
    observer_->setText(QString::fromStdString(details_.observer));
    telescope_->setText(QString::fromStdString(details_.telescope));
    filter_->setText(QString::fromStdString(details_.filter));
    latitude_->setText(details_.latitude ? QString::number(*details_.latitude, 'f', 5) : QString());
    longitude_->setText(details_.longitude ? QString::number(*details_.longitude, 'f', 5)
                                           : QString());
    problem_->clear();
    problem_->hide();
}

bool SessionDetailsDialog::execOver(QWidget* mainWindow) {
    if (mainWindow) {
        if (parentWidget() != mainWindow) setParent(mainWindow, windowFlags());
        setWindowModality(Qt::WindowModal);
        adjustSize();
        const QRect main = mainWindow->frameGeometry();
        move(main.left() + (main.width() - width()) / 2, main.top() + 70);
    }
    return exec() == QDialog::Accepted;
}

QString SessionDetailsDialog::problem() const {
    return problem_->text();
}

void SessionDetailsDialog::accept() {
    std::optional<double> lat, lon;
    QString why;
    if (!parseDegrees(text(latitude_), 90.0, lat))
        why = tr("The latitude must be decimal degrees from -90 to 90.");
    else if (!parseDegrees(text(longitude_), 180.0, lon))
        why = tr("The longitude must be decimal degrees from -180 to 180.");
    else if (lat.has_value() != lon.has_value())
        why = tr("Give both the latitude and the longitude of the site, or neither.");
    if (!why.isEmpty()) {
        problem_->setText(why);
        problem_->show();
        return;
    }
    details_.target = text(target_);
    details_.observer = text(observer_);
    details_.telescope = text(telescope_);
    details_.filter = text(filter_);
    details_.latitude = lat;
    details_.longitude = lon;
    problem_->clear();
    problem_->hide();
    KeyboardDialog::accept();
}

void SessionDetailsDialog::showEvent(QShowEvent* event) {
    KeyboardDialog::showEvent(event);
    if (event->spontaneous()) return;
    fillEdits();
    target_->setFocus();
}
