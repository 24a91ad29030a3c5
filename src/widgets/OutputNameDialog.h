#pragma once
// "Output File Names": the small borderless dialog that asks for the base name of the
// recorded files, with a button that shows or hides the on-screen keyboard under it.
#include <QString>

#include "widgets/KeyboardDialog.h"

class QLineEdit;

// Where the dialog goes over the main window: centred horizontally, 70 pixels below its top.
QPoint dialogPositionOver(const QRect& mainFrame, const QSize& dialogSize);

class OutputNameDialog : public KeyboardDialog {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 296;
    static constexpr int kClientHeight = 72;
    // Confirming an empty edit gives this name.
    static inline const QString kDefaultName = QStringLiteral("CAPTURE");

    explicit OutputNameDialog(QWidget* parent = nullptr);

    // Shows the dialog over `mainWindow`, blocking input to that window only (the keyboard
    // stays usable), until it is closed. True when OK was chosen; the name is then in
    // baseName(). Cancel, Escape or hiding it otherwise keep the name.
    bool execOver(QWidget* mainWindow);

    // The confirmed base name, which the edit shows each time the dialog opens.
    QString baseName() const { return baseName_; }
    void setBaseName(const QString& name);

    // OK (button or Enter): an empty edit becomes kDefaultName; the name is kept as typed.
    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    QString baseName_;
    QLineEdit* nameEdit_;
};
