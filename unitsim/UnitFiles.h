// Where a unit keeps its files: every unit has a folder of its own under the
// storage root, named after its address, and a remote path names a file below
// that folder. ".." is refused so that nothing a client sends can reach
// outside the unit's folder.
#pragma once

#include <string>

namespace unitsim {

// The local path for a remote path, or an empty string when the remote path
// is empty, names the folder itself, or climbs out of it with "..".
std::string ResolveUnitPath(const std::string& unitFolder, const std::string& remotePath);

// Creates the folders above a file path; false on failure.
bool MakeParentFolders(const std::string& filePath);

}  // namespace unitsim
