#pragma once

// Shared objects built with the program and loaded by it, or by the sound
// server on its behalf: beside the program in a portable folder or the
// build tree, or under the installed library folder.

#include <string>

namespace qinghe {

// The full path of the program's plugin of that file name; empty when
// neither place has it.
std::string findProgramPlugin(const std::string& fileName);

}  // namespace qinghe
