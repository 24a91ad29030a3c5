#include "widgets/ProfilesDialog.h"

#include <QBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "platform/Message.h"
#include "settings/SequencePlan.h"
#include "widgets/SequenceDialog.h"

ProfilesDialog::ProfilesDialog(ProfileStore store, Actions actions, QWidget* parent)
    : QDialog(parent), store_(std::move(store)), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("ProfilesDialog"));
    setWindowTitle(tr("Profiles"));
    resize(460, 320);
    if (!actions_.askName)
        actions_.askName = [](QWidget* owner, const QString& title, const QString& name) {
            return QInputDialog::getText(owner, title, tr("Name"), QLineEdit::Normal, name)
                .trimmed();
        };
    auto* row = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    auto* folder = new QLabel(QString::fromStdString(store_.folder()), this);
    folder->setObjectName(QStringLiteral("ProfileFolder"));
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    folder->setToolTip(tr("The profiles' folder: one file per profile"));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("ProfileList"));
    list_->setAccessibleName(tr("Profiles"));
    left->addWidget(list_, 1);
    left->addWidget(folder);
    row->addLayout(left, 1);

    auto* buttons = new QVBoxLayout;
    const auto button = [&](const char* name, const QString& caption, bool needsChoice, auto slot) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        connect(b, &QPushButton::clicked, this, slot);
        if (needsChoice) needChoice_ << b;
        return b;
    };
    button("NewProfile", tr("New..."), false, [this] { makeNew(); });
    button("RenameProfile", tr("Rename..."), true, [this] { renameChosen(); });
    button("DeleteProfile", tr("Delete"), true, [this] { deleteChosen(); });
    button("ApplyProfile", tr("Apply"), true, [this] {
        const QString error = actions_.apply ? actions_.apply(chosen()) : QString();
        if (!error.isEmpty()) showMessage(error);
    });
    button("EditSequence", tr("Sequence..."), true, [this] { editSequence(); });
    button("DryRun", tr("Dry Run"), true, [this] { dryRun(); });
    button("StartSequence", tr("Start Sequence"), true, [this] {
        const QString error = actions_.startSequence ? actions_.startSequence(chosen()) : QString();
        if (!error.isEmpty())
            showMessage(error);
        else
            accept();
    });
    buttons->addStretch(1);
    button("CloseProfiles", tr("Close"), false, [this] { reject(); });
    row->addLayout(buttons);
    connect(list_, &QListWidget::currentRowChanged, this, &ProfilesDialog::updateButtons);
    reload();
}

QString ProfilesDialog::chosen() const {
    const QListWidgetItem* item = list_->currentItem();
    return item ? item->text() : QString();
}

void ProfilesDialog::choose(const QString& name) {
    const auto found = list_->findItems(name, Qt::MatchExactly);
    if (!found.isEmpty()) list_->setCurrentItem(found.front());
}

void ProfilesDialog::reload(const QString& select) {
    list_->clear();
    for (const std::string& name : store_.names()) list_->addItem(QString::fromStdString(name));
    if (!select.isEmpty()) choose(select);
    if (!list_->currentItem() && list_->count() > 0) list_->setCurrentRow(0);
    updateButtons();
}

void ProfilesDialog::updateButtons() {
    for (QPushButton* b : needChoice_) b->setEnabled(list_->currentItem() != nullptr);
}

std::optional<TargetProfile> ProfilesDialog::loadChosen() {
    std::string error;
    auto profile = store_.load(chosen().toStdString(), error);
    if (!profile) showMessage(QString::fromStdString(error));
    return profile;
}

void ProfilesDialog::makeNew() {
    const QString name = actions_.askName(this, tr("New Profile"), QString());
    if (name.isEmpty() || !actions_.current) return;
    std::string error = profileNameProblem(name.toStdString());
    if (error.empty() && list_->findItems(name, Qt::MatchExactly).size() > 0)
        error = "A profile named '" + name.toStdString() + "' exists already.";
    if (error.empty()) store_.save(actions_.current(name.toStdString()), error);
    if (!error.empty()) showMessage(QString::fromStdString(error));
    reload(name);
}

void ProfilesDialog::renameChosen() {
    const QString from = chosen();
    const QString to = actions_.askName(this, tr("Rename Profile"), from);
    if (to.isEmpty() || to == from) return;
    std::string error;
    if (!store_.rename(from.toStdString(), to.toStdString(), error))
        showMessage(QString::fromStdString(error));
    reload(error.empty() ? to : from);
}

void ProfilesDialog::deleteChosen() {
    const QString name = chosen();
    if (!askQuestion(tr("Delete the profile '%1'?").arg(name))) return;
    std::string error;
    if (!store_.remove(name.toStdString(), error)) showMessage(QString::fromStdString(error));
    reload();
}

void ProfilesDialog::editSequence() {
    const auto profile = loadChosen();
    if (!profile) return;
    SequenceDialog dialog(actions_.wheelFilters ? actions_.wheelFilters() : QStringList(), this);
    const auto edited = dialog.edit(*profile);
    std::string error;
    if (edited && !store_.save(*edited, error)) showMessage(QString::fromStdString(error));
}

void ProfilesDialog::dryRun() {
    if (const auto profile = loadChosen())
        showMessage(QString::fromStdString(dryRunText(*profile)));
}
