#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QVector>

class QTabWidget;
class QWidget;

namespace qinghe {

// Keeps the board buttons at their places measured inside the tab control.
// The pages' own offset inside the tab control depends on the tab row's
// height, known only once the tab control is laid out, and may change with
// the font; the buttons follow it.
class BoardGrid : public QObject {
    Q_OBJECT

public:
    explicit BoardGrid(QTabWidget* tabs);

    void place(QWidget* control, QPoint inTabControl);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeAll();

    struct Placed {
        QPointer<QWidget> control;
        QPoint inTabControl;
    };
    QTabWidget* tabs_;
    QWidget* pageStack_;
    QVector<Placed> placed_;
};

}  // namespace qinghe
