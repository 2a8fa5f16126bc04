#pragma once
// Registry store contents for installer tests: IDE keys as an IDE leaves
// them, and reads of what the installer wrote.

#include "platform/Registry.h"

#include <QString>

#include <gtest/gtest.h>

#include <optional>

namespace InstallerTest {

inline void PutString(Registry::HKEY Root, const QString& Key, const QString& Name, const QString& Value)
{
  Registry::TRegistry Reg;
  Reg.SetRootKey(Root);
  ASSERT_TRUE(Reg.OpenKey(Key, true)) << Reg.LastError().toStdString();
  Reg.WriteString(Name, Value);
}

inline void PutUserString(const QString& Key, const QString& Name, const QString& Value)
{
  PutString(Registry::HKEY_CURRENT_USER, Key, Name, Value);
}

// The string value, or nullopt when the key or the value is missing.
inline std::optional<QString> UserString(const QString& Key, const QString& Name)
{
  Registry::TRegistry Reg(Registry::KEY_READ);
  Reg.SetRootKey(Registry::HKEY_CURRENT_USER);
  if (!Reg.OpenKeyReadOnly(Key) || !Reg.ValueExists(Name))
    return std::nullopt;
  return Reg.ReadString(Name);
}

inline bool UserKeyExists(const QString& Key)
{
  Registry::TRegistry Reg(Registry::KEY_READ);
  Reg.SetRootKey(Registry::HKEY_CURRENT_USER);
  return Reg.KeyExists(Key);
}

}  // namespace InstallerTest
