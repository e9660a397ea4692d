#pragma once

// The online jobs of the main window: job A, the start-up version check;
// job B, the user counter; and the manual update check of the menu
// "在线更新". Reading the pages is the updater's, on its own threads; what
// is shown of them runs here on the window thread and goes through the
// VersionSurface the window hands in. No widget.

#include "online/addresses.h"
#include "text/text.h"

#include <QString>

#include <atomic>
#include <functional>
#include <string_view>

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
    // Opens the update window modally and returns once it has closed: true
    // when the new program stands in place and has been started.
    std::function<bool()> openUpdateWindow;
    std::function<void()> closeMainWindow;
    std::function<void(int exitCode)> endProgram;
};

// The version the update page names; empty when the page cannot be read or
// has no version marker. Waits for the network: for the updater's jobs.
Text readLatestVersion(const Addresses& addresses, const std::atomic<bool>* stop = nullptr);

// The bytes between the counter page's markers, as they stand; empty when
// there are none. Waits for the network: for the updater's jobs.
Text readUserCount(const Addresses& addresses, const std::atomic<bool>* stop = nullptr);

// Job A's news: a new version is told in a box (style 0x24, its answer
// ignored) and then in the label 新版本.
void showNewVersion(const VersionSurface& surface);

// Job B's news: the count into 标签5 and our version into 检查更新.
void showUserCount(const Text& count, const VersionSurface& surface);

// The manual check, once the page has been read. Our version: says so. A
// new one: asks; Yes opens the update window and ends the program (exit
// code 0) once the new program has been started, No closes the main window.
// No version at all: says the server cannot be reached, asks nothing. A new
// version with a refusal (the program may not replace itself where it
// stands): the refusal is said instead, and the program goes on as it was.
void answerUpdateCheck(const Text& latestVersion, const VersionSurface& surface,
                       const QString& selfUpdateRefusal = {});

}  // namespace qinghe
