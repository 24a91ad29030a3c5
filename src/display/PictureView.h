#pragma once
// A picture control: shows one QImage at its top-left corner. With auto-size on, the
// control takes the size of its image whenever it is repainted through Repaint().
#include <QImage>
#include <QWidget>

class PictureView : public QWidget {
    Q_OBJECT
  public:
    explicit PictureView(QWidget* parent = nullptr);

    // The image the control shows; renderers write into it and then call Repaint().
    QImage& Bitmap() { return bitmap_; }
    const QImage& Bitmap() const { return bitmap_; }

    void SetAutoSize(bool on);
    // Follows the image's size (auto-size) and schedules a repaint.
    void Repaint();

    QSize sizeHint() const override;

  signals:
    // Mouse press on the picture, in its own pixels.
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    QImage bitmap_;
    bool autoSize_ = false;
};
