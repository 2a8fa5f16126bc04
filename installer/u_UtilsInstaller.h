#pragma once
// Registry helpers of the installer. Key paths use "\" as the registry store
// does; a leading "\" starts at the root. None of the readers raises.

#include "platform/Registry.h"

#include <QString>

namespace u_UtilsInstaller {

using Registry::HKEY;

// Writes the string value sTheKeyName = sTheValueTowrite under
// HKEY_CURRENT_USER\sTheKeyPath, creating the key only when bCanCreate.
// Silent when the key cannot be opened; a failed write raises
// (ERegistryException).
void WriteValueToRegisTry(const QString& sTheKeyPath, bool bCanCreate, const QString& sTheKeyName,
                          const QString& sTheValueTowrite);

// Whether the key RegPath exists under RootKey; any error gives false.
bool RegKeyExists(const QString& RegPath, HKEY RootKey);

// Reads the string value RegValue of RegPath under RootKey into Str (a
// missing value reads as "") and returns true. A missing key is created
// (empty) first. False, with Str unchanged, when the key cannot be opened or
// the value cannot be read as a string.
bool RegReadStr(const QString& RegPath, const QString& RegValue, QString& Str, HKEY RootKey);

// Why the store file of RootKey cannot be read (its path and the reason),
// or "" when it can: a missing file reads as an empty store.
QString RegStoreError(HKEY RootKey);

}  // namespace u_UtilsInstaller
