#include "controls/ModalWait.h"

#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QWidget>

namespace {
class HideWatcher : public QObject {
  public:
    HideWatcher(QWidget* window, QEventLoop* loop) : window_(window), loop_(loop) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        // A spontaneous hide (minimising) arrives while the window stays visible, so the
        // visibility is checked once the hide has been handled.
        if (watched == window_ && event->type() == QEvent::Hide) {
            QMetaObject::invokeMethod(
                loop_,
                [this] {
                    if (!window_ || !window_->isVisible()) loop_->quit();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

  private:
    QPointer<QWidget> window_;
    QEventLoop* loop_;
};
}  // namespace

void WaitUntilHidden(QWidget* window) {
    if (!window || !window->isVisible()) return;
    QPointer<QWidget> guard(window);
    QEventLoop loop;
    HideWatcher watcher(window, &loop);
    window->installEventFilter(&watcher);
    QObject::connect(window, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
    if (guard) guard->removeEventFilter(&watcher);
}
