#pragma once
// Timestamp text overlay: the text drawn into rendered frames, and the dialog where its
// date/time format and prefix are chosen. The chosen format and prefix are the acquisition
// globals StampFormat and StampPrefix; the text of the moment is CurrentStampText.
#include <QFrame>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <array>
#include <functional>
#include <opencv2/core.hpp>
#include <string>

#include "platform/Clock.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

// Draws `text` into `image` (8-bit, 1 or 3 channels): plain Hershey font, scale 1,
// thickness 1, 8-connected, white, base line starting at column 20, row 20; clipped at
// the image's edges.
void PutStampText(cv::Mat& image, const std::string& text);

// The date/time formats of the dialog's items, in item order, and their labels.
inline constexpr std::array<const char*, 5> kStampFormats = {
    "", "dd/mm/yyyy", "dd/mm/yyyy hh:mm:ss", "dd/mm/yyyy hh:mm:ss.zzz", "hh:mm:ss.zzz"};
inline constexpr std::array<const char*, 5> kStampLabels = {"No Data", "Date", "Date/Time (s)",
                                                            "Date/Time(ms)", "Time(ms)"};
inline constexpr int kDefaultStampItem = 3;

// The caption of one radio item: the label alone for an empty format, else
// label + " (" + the moment in that format + ")".
QString StampItemCaption(const char* label, const char* format, TDateTime moment);

// Configure1Click's placement: horizontally centred on the main window (outer frame),
// 55 pixels below its top.
QPoint ConfTextPosition(const QRect& mainFrame, int dialogWidth);

// Hooks to the on-screen keyboard, installed by whoever owns it. The toggle hook places
// the keyboard below `dialog` and toggles its visibility; the hide hook hides it.
extern std::function<void(QWidget* dialog, QLineEdit* edit)> OverlayKeyboardToggle;
extern std::function<void()> OverlayKeyboardHide;

// "Text Overlay Properties": frameless, stays on top, 353 x 202. Created hidden.
class TConfText : public QFrame {
    Q_OBJECT
  public:
    // `moment` is the time shown in the items' samples (the creation moment).
    explicit TConfText(QWidget* parent = nullptr, TDateTime moment = Now());

    std::array<std::string, 5> StampFormats;
    // Where the chosen format and the typed prefix go.
    std::function<void(const std::string& format)> OnFormatChosen;
    std::function<void(const std::string& prefix)> OnPrefixChanged;

    QGroupBox* RadioGroup1 = nullptr;
    QButtonGroup* RadioItems = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* fixed = nullptr;
    QPushButton* Button1 = nullptr;
    QToolButton* AdvGlassButton1 = nullptr;

    int ItemIndex() const;  // the selected radio item, -1 when none
    void SetItemIndex(int index);

    void RadioGroup1Click();
    void fixedChange();
    void Button1Click();
    void BitBtn1Click();

  signals:
    void Hidden();

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    void Additem(const char* label, const char* format, TDateTime moment);
};

// Configure1Click: places the dialog over `mainWindow`, shows it and returns only once it
// is hidden again, dispatching events meanwhile. When the dialog is already open it is
// only raised (no second nested wait).
void ShowConfTextAndWait(TConfText* dialog, QWidget* mainWindow);
