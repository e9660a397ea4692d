#pragma once

#include "base/message_styles.h"

#include <QString>

#include <functional>

class QWidget;

namespace qinghe {

// Caption of every box that has none of its own.
inline constexpr const char* kDefaultBoxCaption = "信息：";

struct ShownMessageBox {
    QString text;
    QString caption;
    int style = kBoxOk;
    // False for a box about work in the background, which leaves the board free.
    bool holdsProgram = true;
};

// Shows an application-modal box without owner and returns the answer.
// Safe from any thread: a worker waits while the window thread shows it.
int messageBox(const QString& text, int style = kBoxOk, const QString& caption = {});

// A box about work in the background (a version check, a download): the
// caller waits for its answer while the window thread serves every other
// event, and the board's buttons stay free. Over a window, only that window
// waits for the box; without one, no window does. On the window thread only.
int backgroundMessageBox(const QString& text, int style = kBoxOk, QWidget* over = nullptr);

// Tests answer boxes here instead of a person; an empty seam restores the real box.
using MessageBoxSeam = std::function<int(const ShownMessageBox&)>;
void setMessageBoxSeam(MessageBoxSeam seam);
MessageBoxSeam messageBoxSeam();

// The run-time's last word: shows the fatal error box and gives the exit code -1.
int fatalRuntimeError(const QString& message, int errorCode = 0);

}  // namespace qinghe
