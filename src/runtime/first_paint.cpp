#include "first_paint.h"

#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace qinghe {
namespace {

// Waits for the first paint of a window, then lets that paint finish before
// the work runs.
class AfterFirstPaint : public QObject {
public:
    AfterFirstPaint(QWidget* window, QObject* context, std::function<void()> work)
        : QObject(context), window_(window), work_(std::move(work))
    {
        window_->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == window_ && event->type() == QEvent::Paint) {
            window_->removeEventFilter(this);
            QTimer::singleShot(0, parent(), std::move(work_));
            deleteLater();
        }
        return false;
    }

private:
    QPointer<QWidget> window_;
    std::function<void()> work_;
};

}  // namespace

void runAfterFirstPaint(QWidget* window, QObject* context, std::function<void()> work)
{
    if (window == nullptr || context == nullptr)
        return;
    if (window->isVisible()) {
        QTimer::singleShot(0, context, std::move(work));
        return;
    }
    new AfterFirstPaint(window, context, std::move(work));
}

}  // namespace qinghe
