#include "case_switch.h"

#include "editor_state.h"

#include <QCheckBox>

namespace qinghe {

CaseSwitch::CaseSwitch(QCheckBox* box, QObject* window) : QObject(window), timer_(new QTimer(window))
{
    timer_->setObjectName(QStringLiteral("时钟1"));
    connect(timer_, &QTimer::timeout, this, [] { searchState().ignoreCase = false; });
    connect(box, &QCheckBox::clicked, this, [this](bool checked) {
        if (checked) {
            timer_->start(kTickMs);
            return;
        }
        timer_->stop();
        searchState().ignoreCase = true;
    });
}

}  // namespace qinghe
