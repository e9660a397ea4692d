#pragma once

// The three online jobs of the main window: job A, the start-up version
// check; job B, the user counter; and the manual update check of the menu
// "在线更新". None of them touches a widget: what they show goes through the
// VersionSurface the window hands in.

#include "online/addresses.h"
#include "online/online_texts.h"

#include <QString>

#include <functional>
#include <memory>
#include <string_view>

class QObject;

namespace qinghe {

// The version of this build, compared byte for byte with the update page's.
inline constexpr std::string_view kCurrentVersion = "v1.0";

// What the jobs show, as the main window provides it. An empty callback is
// passed over. Captions are for the labels 新版本, 标签5 and 检查更新.
struct VersionSurface {
    std::function<void(const QString& caption)> setNewVersionLabel;
    std::function<void(const QString& caption)> setUserCountLabel;
    std::function<void(const QString& caption)> setVersionLabel;
    // A box without owner or caption of its own; style numbers 0, 0x24 and
    // 64 as the message box helper takes them; gives its answer (6 Yes).
    std::function<int(const QString& text, int style)> messageBox;
    // Opens the update window modally and returns once it has closed.
    std::function<void()> openUpdateWindow;
    std::function<void()> closeMainWindow;
    std::function<void(int exitCode)> endProgram;
};

// Job A. Reads the update page; a version that differs from ours is told in
// a box (style 0x24, its answer ignored) and then in the label 新版本. An
// empty version, from a page that cannot be read or has no version marker,
// is no news: nothing is shown.
void runVersionCheck(const Addresses& addresses, OnlineTexts& texts, const VersionSurface& surface);

// Job B. Requests the counter page and writes the count it finds (the empty
// text when there is none) into 标签5 and our version into 检查更新.
void runUserCounter(const Addresses& addresses, OnlineTexts& texts, const VersionSurface& surface);

// Starts job A, then job B, each once on a thread of its own that nothing
// waits for; a thread that cannot be started is passed over. Returns at once.
void startOnlineJobs(const Addresses& addresses, std::shared_ptr<OnlineTexts> texts, const VersionSurface& surface);

// The menu "在线更新", on the window thread, which waits while the page is
// read. Our version: says so. A new one: asks; Yes opens the update window
// and ends the program (exit code 0) once it has closed, No closes the main
// window. No version at all: says the server cannot be reached, asks nothing.
// A new version with a refusal (the program may not replace itself where it
// stands): the refusal is said instead, and the program goes on as it was.
void checkForUpdate(const Addresses& addresses, OnlineTexts& texts, const VersionSurface& surface,
                    const QString& selfUpdateRefusal = {});

// The window's surface made safe for the jobs' threads: direct's callbacks,
// which touch widgets, run on the window thread only. Captions are posted
// (the job goes on at once) and dropped once window is gone; the other
// callbacks run there while the caller waits for them.
VersionSurface onWindowThread(QObject* window, VersionSurface direct);

}  // namespace qinghe
