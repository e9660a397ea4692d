#pragma once

#include "online/addresses.h"

#include <QString>

#include <functional>

namespace qinghe {

// What the start-up sequence is given. The program itself uses the defaults;
// tests hand in their own. Made after the application object, which the
// addresses' configuration folders need.
struct StartOptions {
    Addresses addresses = Addresses::fromConfiguration();
    QString mainWindowDefinition;  // empty: the built-in definition
    QString settingsFile;          // empty: my.ini where the program keeps it
    QString programFolder;         // where an update goes; empty: the program's own folder
    std::function<bool()> notificationAreaAvailable;  // empty: ask the desktop
};

// Before the application object exists: web views run without Chromium's
// sandbox when the program runs as root, where the sandbox refuses to start.
void prepareProcessForWebViews();

// Before the application object exists: where a Wayland display is named
// and no platform is chosen, the board runs natively on Wayland (the desktop's
// portal then gives it global keys), falling back to X11.
void preferNativeWayland();

// The start-up sequence up to the end of the message loop; returns the exit
// code: 0, or -1 when the main window or a window opened later cannot be loaded.
int runProgram(const StartOptions& options = {});

}  // namespace qinghe
