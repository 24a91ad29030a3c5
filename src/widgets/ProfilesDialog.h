#pragma once
// "Profiles": the target profiles of the profiles folder. New makes one of the settings in
// force, Rename and Delete act on its file, Apply brings it into force, Sequence edits its
// sequence and filters, Dry Run lists what its sequence would record, Start Sequence applies
// it and runs its sequence (and closes the dialog, so that the capture controls are in view).
#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

#include "settings/ProfileStore.h"

class QListWidget;
class QPushButton;

class ProfilesDialog : public QDialog {
    Q_OBJECT
  public:
    struct Actions {
        // The settings in force as a profile of that name.
        std::function<TargetProfile(const std::string& name)> current;
        // Apply a profile, start its sequence: "" when done, else why not.
        std::function<QString(const QString& name)> apply;
        std::function<QString(const QString& name)> startSequence;
        // The filter wheel's filters.
        std::function<QStringList()> wheelFilters;
        // Asks for a name ("" when cancelled); replaceable for tests.
        std::function<QString(QWidget* owner, const QString& title, const QString& name)> askName;
    };
    ProfilesDialog(ProfileStore store, Actions actions, QWidget* parent = nullptr);

    // The profile chosen in the list ("" when none).
    QString chosen() const;
    void choose(const QString& name);
    QListWidget* list() const { return list_; }

  private:
    void reload(const QString& select = {});
    void makeNew();
    void renameChosen();
    void deleteChosen();
    void editSequence();
    void dryRun();
    void updateButtons();
    // The chosen profile, read whole; a message with the line and reason when it is broken.
    std::optional<TargetProfile> loadChosen();

    ProfileStore store_;
    Actions actions_;
    QListWidget* list_ = nullptr;
    QList<QPushButton*> needChoice_;  // the buttons that act on the chosen profile
};
