#pragma once
// A picture control: shows one QImage, at its top-left corner or, when the image holds only a
// part of a larger picture, where that part lies. With auto-size on, the control takes the
// size of the whole picture whenever the image is set or updated.
#include <QImage>
#include <QWidget>
#include <optional>

// A sight drawn over the picture, for centring and collimation; never part of a frame.
enum class Reticle { Off, Cross, Circles };

class QPainter;

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
    // After a part of a larger picture was drawn into the image: the image's top-left pixel
    // lies at `origin` of a picture of `pictureSize`; the rest of it shows the background.
    void updateRegion(QPoint origin, QSize pictureSize);
    // Where the image lies in the picture (0, 0 unless it holds a part) and the picture's size.
    QPoint imageOrigin() const { return origin_; }
    QSize pictureSize() const { return pictureSize_; }

    void setAutoSize(bool on);

    // The reticle, centred on the whole picture: a cross through its centre from edge to
    // edge, or a cross with circles of a tenth to four tenths of its smaller side.
    Reticle reticle() const { return reticle_; }
    void setReticle(Reticle reticle);

    // While the planet is tracked: a ring and cross at the disc's centre (`disc`, picture
    // pixels before the shift) and a small cross at the picture's centre, the subframe's; and
    // the picture drawn `shift` pixels off (the steady preview: the disc held at the centre;
    // what the shift uncovers shows the background). No disc: neither mark nor shift.
    void setTrackMarks(std::optional<QPointF> disc, QPoint shift);
    std::optional<QPointF> trackedDisc() const { return disc_; }
    QPoint shift() const { return shift_; }

    QSize sizeHint() const override;

  signals:
    // Mouse press on the picture, in its own pixels (the steady preview's shift taken off).
    void clicked(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    void drawTrackMarks(QPainter& painter) const;

    QImage image_;
    QPoint origin_;
    QSize pictureSize_;
    bool autoSize_ = false;
    Reticle reticle_ = Reticle::Off;
    std::optional<QPointF> disc_;
    QPoint shift_;
};
