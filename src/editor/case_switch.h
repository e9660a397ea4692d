#pragma once

#include <QObject>
#include <QTimer>

class QCheckBox;

namespace qinghe {

// The "区分大小写" box of a search window. Cleared, searches ignore case at
// once; ticked, they heed case from the next tick of the window's timer
// 时钟1, which says so again on every tick while the box stays ticked.
class CaseSwitch : public QObject {
    Q_OBJECT

public:
    // Period of the window's timer while the box is ticked.
    static constexpr int kTickMs = 300;

    CaseSwitch(QCheckBox* box, QObject* window);

private:
    QTimer* timer_;
};

}  // namespace qinghe
