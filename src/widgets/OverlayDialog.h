#pragma once
// "Text Overlay Properties": the dialog where the date/time format and the prefix of the
// timestamp overlay are chosen. Each choice takes effect as it is made and is announced
// with stampChanged().
#include <QPoint>
#include <QRect>
#include <QString>
#include <array>
#include <string>

#include "platform/Clock.h"
#include "widgets/KeyboardDialog.h"

class QButtonGroup;
class QLineEdit;

// The date/time formats of the dialog's items, in item order, and their labels.
inline constexpr std::array<const char*, 5> kStampFormats = {
    "", "dd/mm/yyyy", "dd/mm/yyyy hh:mm:ss", "dd/mm/yyyy hh:mm:ss.zzz", "hh:mm:ss.zzz"};
// (Marked for translation; stampItemCaption translates them.)
inline constexpr std::array<const char*, 5> kStampLabels = {
    QT_TRANSLATE_NOOP("OverlayDialog", "No Data"), QT_TRANSLATE_NOOP("OverlayDialog", "Date"),
    QT_TRANSLATE_NOOP("OverlayDialog", "Date/Time (s)"),
    QT_TRANSLATE_NOOP("OverlayDialog", "Date/Time(ms)"),
    QT_TRANSLATE_NOOP("OverlayDialog", "Time(ms)")};
inline constexpr int kDefaultStampItem = 3;

// The caption of one radio item: the label alone for an empty format, else
// label + " (" + the moment in that format + ")".
QString stampItemCaption(const char* label, const char* format, LocalDateTime moment);

// Where "Configure" places the dialog: horizontally centred on the main window (outer
// frame), 55 pixels below its top.
QPoint overlayDialogPosition(const QRect& mainFrame, int dialogWidth);

// Frameless, stays on top, 353 x 202, created hidden with item 3 selected and no prefix.
class OverlayDialog : public KeyboardDialog {
    Q_OBJECT
  public:
    // `moment` is the time shown in the items' samples (the creation moment).
    explicit OverlayDialog(QWidget* parent = nullptr, LocalDateTime moment = localNow());

    // The format of the selected item ("" for "No Data") and the prefix as typed.
    QString format() const;
    QString prefix() const;

    // The selected radio item, -1 when none.
    int itemIndex() const;
    void setItemIndex(int index);

    // "Configure": places the dialog over `mainWindow` and runs it, blocking input to that
    // window, until OK hides it. When the dialog is already open it is only raised.
    void execOver(QWidget* mainWindow);

  signals:
    // A format item was checked (by mouse, keyboard, accessibility or code) or the prefix
    // was edited.
    void stampChanged(const QString& format, const QString& prefix);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    QButtonGroup* formatItems_;
    QLineEdit* prefixEdit_;
};
