#pragma once
// Builds a package project for real: a CMake project made from the .dpk in
// a folder beside it (".dcc32/<name>", kept for the next build), built into
// <name>.bpl next to the project, a shared library of the project's units.

#include "tools/dcc32/PackageProject.h"

#include <QString>

namespace PackageBuild {

// The CMake project's text for Project in ProjectFolder, its headers
// reachable as "package/..." through IncludeFolder.
QString CMakeText(const PackageProject::TPackageProject& Project, const QString& ProjectFolder,
                  const QString& IncludeFolder, const PackageProject::TSearchFolders& Search);

// Builds; the compiler's messages go to this program's output. The exit
// code for the compiler: 0 when the .bpl was made.
int Build(const PackageProject::TPackageProject& Project, const QString& ProjectFile,
          const PackageProject::TSearchFolders& Search);

}  // namespace PackageBuild
