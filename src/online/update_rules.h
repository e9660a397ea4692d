#pragma once

// The self-updater's rules that need no window: what the update page names,
// where the named files lie, and how the progress reads. Every name from the
// page must be one plain file name beside the program; a name with a folder
// in it, in any form, is refused, so the page can neither write, delete nor
// start anything elsewhere.

#include "text/text.h"

#include <QString>

#include <cstdint>
#include <string_view>

namespace qinghe {

// The entries of the update page that the updater reads; a missing one is empty.
struct UpdateEntries {
    Text downloadAddress;
    Text runName;
    Text deleteName;
};
UpdateEntries readUpdateEntries(std::string_view page);

// The name the download is saved under: the part of the address after its
// last "/" (the whole address without one), up to any query. Empty when
// there is none: the download service then takes the name the server gives.
// It may still be refused by isOnePlainFileName.
Text downloadFileName(std::string_view address);

// folder, "/" and name; empty when name is not one plain file name (empty,
// ".", "..", or any separator), so nothing is done for it.
QString fileBesideProgram(const QString& folder, std::string_view name);

// Starts the program at path in its folder, without waiting for it; false
// when it could not be started (missing, not executable, no program).
bool startProgramFile(const QString& path);

// Gives a new program file the execute permission wherever it may be read.
bool makeExecutable(const QString& path);

// A byte count as the progress panels show it: in kilobytes, rounded to two
// decimals, in "%.13g", so "12.35" or "40" without trailing zeros.
Text kilobytesText(double bytes);

// The whole percent of total that has arrived, truncated, within 0 to 100;
// 0 while the total is not known.
int downloadPercent(std::int64_t downloaded, double total);

}  // namespace qinghe
