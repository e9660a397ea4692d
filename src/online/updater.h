#pragma once

// The self-updater's rules that need no window: what the update page names,
// where the named files lie, and how the progress reads. Every name from the
// page is taken as a plain file name beside the program, whatever folders it
// names, so the page can neither delete nor start anything elsewhere.

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
// last "/" (the whole address without one), as a plain file name. Empty when
// there is none or it is refused: the download service then takes the name
// the server gives.
Text downloadFileName(std::string_view address);

// folder, "/" and the plain file name of name; empty when the name is
// refused (empty, ".", ".." or a folder), so nothing is done for it.
QString fileBesideProgram(const QString& folder, std::string_view name);

// The page's delete name removed beside the program; a missing file, a
// refused name or a failure is passed over silently.
void deleteBesideProgram(const QString& folder, std::string_view name);

// The page's run name started beside the program, in that folder, without
// waiting for it; false when the name is refused or nothing could be started.
bool startBesideProgram(const QString& folder, std::string_view name);

// A byte count as the progress panels show it: in kilobytes, rounded to two
// decimals, in "%.13g", so "12.35" or "40" without trailing zeros.
Text kilobytesText(double bytes);

// The whole percent of total that has arrived, truncated, within 0 to 100;
// 0 while the total is not known.
int downloadPercent(std::int64_t downloaded, double total);

}  // namespace qinghe
