#pragma once
// A package project (.dpk) as the stand-in compiler reads it:
//
//   package CVVesparoD6;
//   {$DESCRIPTION 'Corvane exception reporting'}
//   {$DEFINE CORVANE_EDITION_D6}
//   requires Qt6Widgets, CorvaneHostFw, CorvanePlatform, z;
//   contains
//     Vesparo in 'Vesparo.cpp',
//     u_errorFileReader in 'u_errorFileReader.cpp' {frmErroReader};
//   end.
//
// Comments: // to the end of the line, { } and (* *); a brace that starts
// with $ is a directive. Names in "requires" starting with Qt6 are modules
// of Qt, any other a library found in the compiler's search folders.

#include <QString>
#include <QStringList>

#include <stdexcept>

namespace PackageProject {

struct TUnit {
  QString Name;
  QString File;  // relative to the project's folder
};

struct TPackageProject {
  QString Name;
  QString Description;
  QStringList Defines;
  QStringList Requires;
  QList<TUnit> Contains;
};

// An error in the project, with its line.
class EProjectError : public std::runtime_error {
public:
  EProjectError(int Line, const QString& Message)
    : std::runtime_error(Message.toStdString()), FLine(Line) {}
  int Line() const { return FLine; }

private:
  int FLine;
};

TPackageProject Parse(const QString& Text);

// The search folders of a dcc32.cfg: -u and -o lines give libraries (and
// units), -i and -r lines headers; "-u" folders serve both, as compiled
// units do. A value may be quoted; a relative one starts at BaseFolder.
struct TSearchFolders {
  QStringList Headers;
  QStringList Libraries;
};
TSearchFolders ReadConfiguration(const QString& Text, const QString& BaseFolder);

}  // namespace PackageProject
