#pragma once

#include "base/message_styles.h"

#include <QString>

#include <functional>

namespace qinghe {

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
