#pragma once
// What the setup program does: puts the report viewer with the libraries
// it needs into a folder, so that it runs from there, and records its path
// as the viewer that reports are handed to at exit.
//
//   DIR/CorvaneViewer          the viewer; its run path is $ORIGIN/lib
//   DIR/lib/lib*.so.<n>        our libraries it needs; theirs is $ORIGIN
//   HKCU\SOFTWARE\Corvane  Installation_path = DIR/CorvaneViewer
//
// Every file is written under a hidden name and renamed into place when
// whole, the viewer last; the registry value is written only when all are
// in place. A failure leaves no file half-written under its final name and
// the value as it was.

#include <QString>
#include <QStringList>

#include <optional>

namespace SetupInstall {

inline constexpr char ViewerName[] = "CorvaneViewer";

// The command line as the setup program takes it: "/S" for silent,
// "/D=DIR" last, its folder running to the end of the line, blanks included.
struct TOptions {
  bool Silent = false;
  QString Target;
  QString Error;  // a word it does not know
};
TOptions ParseCommandLine(const QStringList& Arguments);

// The folder the setup program takes the viewer and its libraries from:
// "Payload" beside it.
QString PayloadFolder(const QString& SetupFolder);

// Installs; an empty text on success, else why not.
QString Install(const QString& Payload, const QString& Target);

}  // namespace SetupInstall
