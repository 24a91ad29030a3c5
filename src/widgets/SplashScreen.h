#pragma once
// The splash window shown while the program starts and looks for the camera.
#include <QColor>
#include <QImage>
#include <QWidget>

class QLabel;

// Its labels: "Label1", program name and version near the bottom; "Label2", the status
// line, right-aligned near the top.
class SplashScreen : public QWidget {
    Q_OBJECT
  public:
    explicit SplashScreen(QWidget* parent = nullptr);

    // Shows `text` in the status line, its right edge 10 pixels from the window's edge.
    void setStatus(const QString& text);
    // Colour of the status line (red until changed).
    void setStatusColor(const QColor& color);

    // Centres the window on the screen it is on.
    void centreOnScreen();

    static constexpr int kWidth = 238;
    static constexpr int kHeight = 226;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QLabel* status_;
    QImage picture_;
};

// The splash picture, drawn at any size: a night sky with a ringed planet and a small
// telescope on its tripod.
QImage drawSplashPicture(int width, int height);
