#pragma once

// Where the program's own files live: beside the program in a portable
// folder, or in the installed tree (the program in bin/, its data in
// share/qinghe/) with the host's settings under the user's config folder.

#include <QString>

namespace qinghe {

// The folder of the running program file, without a trailing separator.
QString programFolder();

// The installed data folder (share/qinghe beside the program's bin/), as
// a clean absolute path. It exists only when the program runs from an
// installed tree; a portable folder has its data beside the program.
QString installedDataFolder(const QString& programFolder);

// True when the program folder is the bin/ of an installed tree: its data
// folder stands where the install rules put it.
bool runsFromInstalledTree(const QString& programFolder);

// $XDG_CONFIG_HOME/qinghe, or ~/.config/qinghe when that is unset, empty or
// relative; empty when neither it nor HOME gives a folder.
QString userConfigFolder();

// True when this process may create files in folder.
bool isWritableFolder(const QString& folder);

// Where my.ini lives for the program in programFolder: beside the program
// when it runs from a portable folder it may write in; otherwise in the
// user's config folder, where it is made on the first write.
QString settingsFileFor(const QString& programFolder);

// The folder a settings file goes in, made (private to the user) when it is
// missing, so the first write can create the file. False when it cannot be.
bool prepareSettingsFolder(const QString& settingsFile);

}  // namespace qinghe
