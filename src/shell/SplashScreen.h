#pragma once
// The splash window shown while the program starts and looks for the camera.
#include <QColor>
#include <QImage>
#include <QWidget>

class QLabel;

class TSplash : public QWidget {
    Q_OBJECT
  public:
    explicit TSplash(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;  // program name and version, near the bottom
    QLabel* Label2 = nullptr;  // status line, right-aligned near the top

    // Shows `text` in the status line, its right edge 10 pixels from the window's edge.
    void SetStatus(const QString& text);
    // Colour of the status line (red until changed).
    void SetStatusColor(const QColor& color);

    // Centres the window on the screen it is on.
    void CentreOnScreen();

    static constexpr int kWidth = 238;
    static constexpr int kHeight = 226;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage picture_;
};

// The splash picture, drawn at any size: a night sky with a ringed planet and a small
// telescope on its tripod.
QImage DrawSplashPicture(int width, int height);
