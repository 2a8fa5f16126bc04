#pragma once
// The IDEs the installer knows, as they record themselves in the registry
// store: display name, key under HKEY_CURRENT_USER, executable name.

#include <QString>

#include <optional>
#include <span>

namespace IdeTable {

struct TIde {
  QString Name;
  QString Key;         // "\Software\...", as the installer reads it
  QString Executable;  // the name "App" ends in
  bool Bds;            // Borland Developer Studio and later record RootDir with a trailing "/"
  bool Win32Library;   // XE2 and later keep the compiler's search path under Library\Win32
};

std::span<const TIde> All();
std::optional<TIde> ByName(const QString& Name);

}  // namespace IdeTable
