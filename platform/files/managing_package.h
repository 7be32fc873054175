// Whether a package manager owns an executable. A package that installs the
// agent puts a marker file beside its executables, named
// "package-manager", whose first line names the package and its tool
// ("quarrin-agent (dpkg)"); the package removes it with the executables.
#ifndef QUARRIN_PLATFORM_FILES_MANAGING_PACKAGE_H_
#define QUARRIN_PLATFORM_FILES_MANAGING_PACKAGE_H_

#include <optional>
#include <string>

namespace quarrin {

inline constexpr char kPackageMarkerName[] = "package-manager";

// The marker's first line for the executable at exe_path ("a package
// manager" when that line is empty); nothing when no marker lies beside it.
std::optional<std::string> ManagingPackage(const std::string& exe_path);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_FILES_MANAGING_PACKAGE_H_
