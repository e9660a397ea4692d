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
// the font; the buttons follow it by as much as it moves, so a button the
// window has moved to fit its caption keeps that place.
class BoardGrid : public QObject {
    Q_OBJECT

public:
    explicit BoardGrid(QTabWidget* tabs);

    void place(QWidget* control, QPoint inTabControl);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPoint pageOrigin() const;
    void followPages();

    QTabWidget* tabs_;
    QWidget* pageStack_;
    QVector<QPointer<QWidget>> placed_;
    // Where the pages stood in the tab control when the buttons were last placed.
    QPoint placedOrigin_;
};

}  // namespace qinghe
