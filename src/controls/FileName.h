#pragma once
// "Output File Names": the small borderless dialog that asks for the base name of the
// recorded files, with a button that shows or hides the on-screen keyboard under it.
#include <QDialog>
#include <QString>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class TForm4;

// Where the dialog goes over the main window: centred horizontally, 70 pixels below its top.
QPoint DialogPositionOver(const QRect& mainFrame, const QSize& dialogSize);

class TForm5 : public QDialog {
  public:
    static constexpr int kClientWidth = 296;
    static constexpr int kClientHeight = 72;
    // Confirming an empty edit gives this name.
    static inline const QString kDefaultName = QStringLiteral("CAPTURE");

    explicit TForm5(QWidget* parent = nullptr);

    // Shows the dialog over `mainWindow` (input to that window is blocked meanwhile, the
    // keyboard stays usable) and waits until it is hidden. True when OK was chosen; the
    // name is then in BaseName. Cancel, Escape or hiding it otherwise keep BaseName.
    bool Execute(QWidget* mainWindow);

    // Hooks to the on-screen keyboard: toggle it under this dialog, and hide it.
    // AttachKeyboard wires both to a TForm4.
    std::function<void(QWidget* dialog)> KeyboardToggle;
    std::function<void()> KeyboardHide;
    void AttachKeyboard(TForm4* keyboard);

    void Button1Click();  // OK
    void Button2Click();  // Cancel
    void BitBtn1Click();  // keyboard button

    QString BaseName;
    QLabel* Label1;
    QLineEdit* Edit1;
    QPushButton* Button1;
    QPushButton* Button2;
    QToolButton* AdvGlassButton3;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void reject() override;
    void paintEvent(QPaintEvent* event) override;

  private:
    bool ok_ = false;
};
