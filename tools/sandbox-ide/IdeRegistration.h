#pragma once
// Setting up a sandbox IDE: its folder with the compiler and the IDE's own
// executable, and its entries in the registry store, as the IDE of that
// name would record them.
//
//   ROOT/Bin/dcc32.exe       the stand-in compiler
//   ROOT/Bin/dcc32.cfg       the compiler's configuration, empty at first
//   ROOT/Bin/<executable>    a copy of sandbox-ide, the IDE's "App"
//   ROOT/jcl/lib/            the library the package builds on: the headers
//                            (platform/, hostfw/) and the libraries of the
//                            two lower layers, linked in from the build or
//                            the installed prefix
//
// Registering again refreshes the programs and RootDir and App, and keeps
// what the IDE has gathered since: Known Packages, search paths, dcc32.cfg.

#include "tools/sandbox-ide/IdeTable.h"

#include <QString>

#include <stdexcept>

namespace IdeRegistration {

class ERegistration : public std::runtime_error {
public:
  explicit ERegistration(const QString& Message) : std::runtime_error(Message.toStdString()) {}
};

// The JCL entry of the search path that Register writes.
QString JclFolder(const QString& Root);

// Raises ERegistration (or ERegistryException) with the reason.
void Register(const IdeTable::TIde& Ide, const QString& Root);

}  // namespace IdeRegistration
