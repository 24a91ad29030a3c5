#include "widgets/SplashScreen.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QScreen>
#include <algorithm>

#include "platform/AppInfo.h"
#include "widgets/Colors.h"

namespace {
QLabel* makeLabel(QWidget* parent, const QString& family, int pixelSize, const QColor& color) {
    auto* label = new QLabel(parent);
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setBold(true);
    label->setFont(font);
    label->setAttribute(Qt::WA_TranslucentBackground);  // transparent over the picture
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
    return label;
}
}  // namespace

SplashScreen::SplashScreen(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("Splash"));
    // Never drawn (no title bar); names the window for window lists and tools.
    setWindowTitle(QString::fromLatin1(kAppName) + QString::fromLatin1(kAppVersion));
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kSkyBlue);
    setPalette(pal);

    QLabel* title = makeLabel(this, QStringLiteral("Tahoma"), 19, Qt::yellow);
    title->setObjectName(QStringLiteral("Label1"));
    title->setText(QString::fromLatin1(kAppName) + QString::fromLatin1(kAppVersion));
    title->adjustSize();
    title->move(48, 199);

    status_ = makeLabel(this, QStringLiteral("Verdana"), 16, Qt::red);
    status_->setObjectName(QStringLiteral("Label2"));
    setStatus(tr("Connecting"));
    centreOnScreen();
}

void SplashScreen::setStatus(const QString& text) {
    status_->setText(text);
    // A line wider than the window (a long camera name) wraps, right-aligned, instead
    // of running off the left edge.
    const int room = width() - 20;
    const bool wrap = status_->fontMetrics().horizontalAdvance(text) > room;
    status_->setWordWrap(wrap);
    status_->setAlignment(Qt::AlignRight | Qt::AlignTop);
    if (wrap) {
        status_->setFixedWidth(room);
        status_->setFixedHeight(status_->heightForWidth(room));
    } else {
        status_->setMinimumSize(0, 0);
        status_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        status_->adjustSize();
    }
    status_->move(width() - status_->width() - 10, 8);
}

void SplashScreen::setStatusColor(const QColor& color) {
    QPalette pal = status_->palette();
    pal.setColor(QPalette::WindowText, color);
    status_->setPalette(pal);
}

void SplashScreen::centreOnScreen() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->geometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
}

void SplashScreen::paintEvent(QPaintEvent*) {
    if (picture_.size() != size()) picture_ = drawSplashPicture(width(), height());
    QPainter p(this);
    p.drawImage(rect(), picture_);
}

QImage drawSplashPicture(int width, int height) {
    QImage img(width, height, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Night sky fading into the sky blue of the window at the horizon.
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0.0, QColor(6, 10, 40));
    sky.setColorAt(0.7, QColor(30, 50, 110));
    sky.setColorAt(1.0, kSkyBlue);
    p.fillRect(img.rect(), sky);

    // Stars: a fixed seed, so the picture is the same on every run.
    QRandomGenerator rng(5);
    for (int i = 0; i < 70; ++i) {
        const double x = rng.bounded(width);
        const double y = rng.bounded(height * 0.7);
        const double r = 0.4 + rng.bounded(1.1);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 230, 140 + rng.bounded(115)));
        p.drawEllipse(QPointF(x, y), r, r);
    }

    // A ringed planet in the upper left.
    const QPointF c(width * 0.30, height * 0.38);
    const double r = std::min(width, height) * 0.15;
    QRadialGradient body(c - QPointF(r * 0.4, r * 0.4), r * 1.4);
    body.setColorAt(0.0, QColor(250, 220, 160));
    body.setColorAt(1.0, QColor(150, 90, 40));
    auto ring = [&](bool front) {
        p.save();
        p.translate(c);
        p.rotate(-18);
        QPainterPath path;
        path.addEllipse(QPointF(0, 0), r * 1.9, r * 0.45);
        QPainterPath inner;
        inner.addEllipse(QPointF(0, 0), r * 1.35, r * 0.28);
        path = path.subtracted(inner);
        QPainterPath half;
        half.addRect(-r * 2, front ? 0 : -r, r * 4, r);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(230, 200, 150, 210));
        p.drawPath(path.intersected(half));
        p.restore();
    };
    ring(false);
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawEllipse(c, r, r);
    ring(true);

    // A small refractor on a tripod, bottom right, pointing at the planet.
    const QPointF mount(width * 0.74, height * 0.66);
    p.setPen(QPen(QColor(20, 20, 30), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(mount, mount + QPointF(-16, 34));
    p.drawLine(mount, mount + QPointF(16, 34));
    p.drawLine(mount, mount + QPointF(0, 36));
    p.save();
    p.translate(mount);
    p.rotate(-35);
    p.setPen(QPen(QColor(20, 20, 30), 1));
    p.setBrush(QColor(235, 235, 240));
    p.drawRoundedRect(QRectF(-22, -6, 50, 12), 3, 3);  // tube
    p.setBrush(QColor(40, 40, 50));
    p.drawRect(QRectF(28, -7, 6, 14));  // dew shield
    p.drawRect(QRectF(-30, -3, 8, 6));  // focuser
    p.restore();
    p.end();
    return img;
}
