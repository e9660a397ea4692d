#pragma once

#include <memory>

namespace qinghe {

// Where a mapped library's imports come from.
class ImportScope {
public:
    virtual ~ImportScope() = default;
    // Opens a library the image names as needed; false when there is none by that name.
    virtual bool openLibrary(const char* name) = 0;
    // The address of an imported symbol; null when neither the program nor
    // any library opened so far defines it.
    virtual void* findSymbol(const char* name) = 0;
};

// The system's scope: needed libraries come from the system loader, and a
// symbol is looked for first in the program and the libraries it was started
// with, then in the opened ones. Every library it opened is closed with it.
std::unique_ptr<ImportScope> systemImportScope();

}  // namespace qinghe
