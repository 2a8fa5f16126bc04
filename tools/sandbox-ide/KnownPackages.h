#pragma once
// What a sandbox IDE knows of its packages: the values of its "Known
// Packages" key (file name = description), whether each file is there and
// loads, and the components it brings to the form designer.

#include "tools/sandbox-ide/IdeTable.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace KnownPackages {

struct TKnownPackage {
  QString Path;
  QString Description;
  bool Exists = false;
  bool Loads = false;
  QString LoadError;       // why it does not load
  QStringList Components;  // class names, "TCVVesparo"
};

// The IDE whose "App" is this executable, when it was started as one.
std::optional<IdeTable::TIde> IdeOfExecutable(const QString& Executable);

// Every Known Package of the IDE, in the store's order, each looked at.
QList<TKnownPackage> Read(const IdeTable::TIde& Ide);

// One line per package for scripts: path, description, "exists" or
// "missing", "loads" or "does not load: <why>", the components joined by
// ","; fields separated by a tab. Tabs, line breaks and backslashes inside
// a field are written as \t, \n, \r and \\.
QString ListText(const QList<TKnownPackage>& Packages);

}  // namespace KnownPackages
