#pragma once

#include <QMainWindow>

namespace qinghe {

// Window state codes as the handlers read them.
enum WindowStateCode : int {
    kStateNormal = 0,
    kStateCentred = 1,
    kStateMinimised = 2,
    kStateMaximised = 3,
};

// The text property that carries a control's tag.
inline constexpr const char* kTagProperty = "tag";

// Base of every window of the program. The run-time calls created, moved and
// resized in this order right after the definition is loaded; later moves,
// size changes and minimising reach the same handlers.
class RuntimeWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit RuntimeWindow(QWidget* parent = nullptr);

    int windowStateCode() const;

    // The first control, in definition order, whose tag read as a whole
    // number is n; null when none has it.
    QWidget* controlByTag(int n) const;

    // A control of the window by its definition name. A name that is not
    // there is a fault of the program itself: the run-time's fatal error.
    template <class T>
    T* control(const char* name) const
    {
        T* found = findChild<T*>(QString::fromUtf8(name));
        if (found == nullptr)
            missingControl(name);
        return found;
    }

protected:
    virtual void onCreated() {}
    // Also called when the window is minimised: minimising moves it.
    virtual void onMoved() {}
    virtual void onResized() {}

    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class WindowRuntime;
    [[noreturn]] static void missingControl(const char* name);
    void runCreationEvents();

    bool live_ = false;
};

}  // namespace qinghe
