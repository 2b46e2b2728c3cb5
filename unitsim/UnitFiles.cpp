// Remote paths to local ones (see UnitFiles.h).
#include "UnitFiles.h"

#include <errno.h>
#include <sys/stat.h>

#include <sstream>

namespace unitsim {

std::string ResolveUnitPath(const std::string& unitFolder, const std::string& remotePath) {
  std::stringstream parts(remotePath);
  std::string part;
  std::string relative;
  while (std::getline(parts, part, '/')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") return std::string();
    relative += "/" + part;
  }
  return relative.empty() ? std::string() : unitFolder + relative;
}

bool MakeParentFolders(const std::string& filePath) {
  for (std::size_t slash = filePath.find('/', 1); slash != std::string::npos;
       slash = filePath.find('/', slash + 1)) {
    const std::string folder = filePath.substr(0, slash);
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace unitsim
