#include "tools/sandbox-ide/IdeTable.h"

#include <array>

namespace IdeTable {

namespace {
const QString Delphi = QStringLiteral("delphi32.exe");
const QString Bds = QStringLiteral("bds.exe");

const std::array<TIde, 13> Table{{
  {QStringLiteral("Delphi 4"), QStringLiteral("\\Software\\Borland\\Delphi\\4.0"), Delphi, false, false},
  {QStringLiteral("Delphi 5"), QStringLiteral("\\Software\\Borland\\Delphi\\5.0"), Delphi, false, false},
  {QStringLiteral("Delphi 6"), QStringLiteral("\\Software\\Borland\\Delphi\\6.0"), Delphi, false, false},
  {QStringLiteral("Delphi 7"), QStringLiteral("\\Software\\Borland\\Delphi\\7.0"), Delphi, false, false},
  {QStringLiteral("Delphi 8"), QStringLiteral("\\Software\\Borland\\BDS\\2.0"), Bds, true, false},
  {QStringLiteral("BDS 2005"), QStringLiteral("\\Software\\Borland\\BDS\\3.0"), Bds, true, false},
  {QStringLiteral("BDS 2006"), QStringLiteral("\\Software\\Borland\\BDS\\4.0"), Bds, true, false},
  {QStringLiteral("RAD Studio 2007"), QStringLiteral("\\Software\\Borland\\BDS\\5.0"), Bds, true, false},
  {QStringLiteral("RAD Studio 2009"), QStringLiteral("\\Software\\CodeGear\\BDS\\6.0"), Bds, true, false},
  {QStringLiteral("RAD Studio 2010"), QStringLiteral("\\Software\\CodeGear\\BDS\\7.0"), Bds, true, false},
  {QStringLiteral("RAD Studio XE"), QStringLiteral("\\Software\\Embarcadero\\BDS\\8.0"), Bds, true, false},
  {QStringLiteral("RAD Studio XE2"), QStringLiteral("\\Software\\Embarcadero\\BDS\\9.0"), Bds, true, true},
  {QStringLiteral("RAD Studio XE3"), QStringLiteral("\\Software\\Embarcadero\\BDS\\10.0"), Bds, true, true},
}};
}  // namespace

std::span<const TIde> All() { return Table; }

std::optional<TIde> ByName(const QString& Name)
{
  for (const TIde& Ide : Table)
    if (Ide.Name == Name)
      return Ide;
  return std::nullopt;
}

}  // namespace IdeTable
