#pragma once

// Text entered as a person enters it: key by key, or committed whole by an
// input method.

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QString>
#include <QWidget>

namespace qinghe::test_support {

// Typing as a keyboard does it, one character per key press.
inline void type(QWidget* box, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(box, &press);
    }
}

inline void commitFromInputMethod(QWidget* box, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(box, &event);
}

}  // namespace qinghe::test_support
