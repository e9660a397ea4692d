#pragma once

#include "runtime/message_box.h"

#include <QList>

// Answers every message box with a fixed answer and keeps what was shown.
class RecordedBoxes {
public:
    explicit RecordedBoxes(int answer = qinghe::kAnswerOk)
    {
        qinghe::setMessageBoxSeam([this, answer](const qinghe::ShownMessageBox& box) {
            shown.append(box);
            return answer;
        });
    }
    ~RecordedBoxes() { qinghe::setMessageBoxSeam({}); }
    RecordedBoxes(const RecordedBoxes&) = delete;
    RecordedBoxes& operator=(const RecordedBoxes&) = delete;

    QList<qinghe::ShownMessageBox> shown;
};
