#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace qinghe {

// Looks a window's controls up by their definition names, once, when the
// window is loaded. A name that is not there, or names a control of another
// kind, is kept, and the run-time then fails the load: no handler ever meets
// a missing control.
class ControlBinder {
public:
    explicit ControlBinder(const QObject& window) : window_(window) {}

    template <class T>
    void bind(T*& control, const char* name)
    {
        control = window_.findChild<T*>(QString::fromUtf8(name));
        if (control == nullptr)
            missing_ << QString::fromUtf8(name);
    }

    // Part of a bound control that the window needs and the definition lacks.
    void markMissing(const QString& what) { missing_ << what; }

    const QStringList& missing() const { return missing_; }

private:
    const QObject& window_;
    QStringList missing_;
};

}  // namespace qinghe
