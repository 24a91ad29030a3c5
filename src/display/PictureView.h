#pragma once
// A picture control: shows one QImage at its top-left corner. With auto-size on, the
// control takes the size of its image whenever the image is set or updated.
#include <QImage>
#include <QWidget>

class PictureView : public QWidget {
    Q_OBJECT
  public:
    explicit PictureView(QWidget* parent = nullptr);

    // The image the control shows; renderers write into it and then call updateImage().
    QImage& image() { return image_; }
    const QImage& image() const { return image_; }
    void setImage(const QImage& image);
    // After the image was drawn in place: follows its size (auto-size) and schedules a
    // repaint.
    void updateImage();

    void setAutoSize(bool on);

    QSize sizeHint() const override;

  signals:
    // Mouse press on the picture, in its own pixels.
    void clicked(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    QImage image_;
    bool autoSize_ = false;
};
