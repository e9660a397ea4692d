#pragma once

#include "control_binder.h"

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

// Base of every window of the program. Right after the definition is loaded
// the run-time binds the window's controls, then calls created, moved and
// resized in this order; later moves, size changes and minimising reach the
// same handlers.
class RuntimeWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit RuntimeWindow(QWidget* parent = nullptr);

    int windowStateCode() const;

    // The first control, in definition order, whose tag read as a whole
    // number is n; null when none has it.
    QWidget* controlByTag(int n) const;

protected:
    // Looks up, once, every control the window's handlers use. The run-time
    // calls it right after the definition is loaded, before any event; a
    // control the binder cannot find fails the load.
    virtual void bindControls(ControlBinder& binder) { Q_UNUSED(binder) }
    virtual void onCreated() {}
    // Also called when the window is minimised: minimising moves it.
    virtual void onMoved() {}
    virtual void onResized() {}

    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class WindowRuntime;
    void runCreationEvents();

    bool live_ = false;
};

}  // namespace qinghe
