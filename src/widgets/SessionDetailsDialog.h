#pragma once
// "Session Details": what the night's recordings are of and with what: target, observer,
// telescope, filter and, optionally, the site. Every field types with the on-screen
// keyboard (the keyboard types into the field that had the focus last). The values go into
// the recordings' headers, cards, logs and observation names.
#include <QString>

#include "recording/SessionRecord.h"
#include "widgets/KeyboardDialog.h"

class QLabel;
class QLineEdit;

class SessionDetailsDialog : public KeyboardDialog {
    Q_OBJECT
  public:
    explicit SessionDetailsDialog(QWidget* parent = nullptr);

    // Shows the dialog over `mainWindow` (blocking that window only) until it is closed.
    // True when OK was chosen with valid values; they are then in details().
    bool execOver(QWidget* mainWindow);

    SessionDetails details() const { return details_; }
    void setDetails(const SessionDetails& details);

    // OK: accepted only with a valid site (both coordinates in decimal degrees, or
    // neither); otherwise the dialog says what is wrong and stays open.
    void accept() override;
    // The text saying why OK was refused ("" while nothing is wrong).
    QString problem() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void fillEdits();

    SessionDetails details_;
    QLineEdit* target_;
    QLineEdit* observer_;
    QLineEdit* telescope_;
    QLineEdit* filter_;
    QLineEdit* latitude_;
    QLineEdit* longitude_;
    QLabel* problem_;
};
