// "Pelmora --import-registry FILE.csv": the registry's CSV imported without a
// window. A file with a bad row imports nothing.
#pragma once

#include <string>

namespace pelmora {

// The data folder: $PELMORA_DATA_DIR, else $XDG_DATA_HOME/Pelmora, else
// ~/.local/share/Pelmora; created when missing.
std::string DataFolder();

// Imports the file into the store in `folder`; prints each bad row's line
// and reason, or how many terminals went in, and returns the exit status
// (0 imported, 1 bad rows, 2 unreadable file, 3 no database).
int ImportRegistryFile(const std::string& file, const std::string& folder);

}  // namespace pelmora
