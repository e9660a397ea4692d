#pragma once

#include <QString>

#include <functional>

namespace qinghe {

// Style numbers as the program's handlers pass them.
enum MessageBoxStyle : int {
    kBoxOk = 0,
    kBoxYesNo = 4,
    kBoxYesNoQuestion = 0x24,
    kBoxYesNoCancelExclamation = 0x33,
    kBoxOkInformation = 64,
};

enum MessageBoxAnswer : int {
    kAnswerOk = 1,
    kAnswerCancel = 2,
    kAnswerYes = 6,
    kAnswerNo = 7,
};

// Caption of every box that has none of its own.
inline constexpr const char* kDefaultBoxCaption = "信息：";

struct ShownMessageBox {
    QString text;
    QString caption;
    int style = kBoxOk;
};

// Shows an application-modal box without owner and returns the answer.
// Safe from any thread: a worker waits while the window thread shows it.
int messageBox(const QString& text, int style = kBoxOk, const QString& caption = {});

// Tests answer boxes here instead of a person; an empty seam restores the real box.
using MessageBoxSeam = std::function<int(const ShownMessageBox&)>;
void setMessageBoxSeam(MessageBoxSeam seam);

// The run-time's last word: shows the fatal error box and gives the exit code -1.
int fatalRuntimeError(const QString& message, int errorCode = 0);

}  // namespace qinghe
