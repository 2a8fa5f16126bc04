#pragma once
// corvane-reg: adds, lists and deletes registry keys and values from the
// command line, with the usual registry-tool options and messages.
//
//   corvane-reg add    KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]
//   corvane-reg query  KEY [/v NAME | /ve]
//   corvane-reg delete KEY [/v NAME | /ve] [/f]
//
// KEY is HKCU, HKLM, HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE, optionally
// followed by "\path". The tool never prompts: add overwrites an existing
// value and delete deletes; /f is accepted so that existing scripts run.

#include <QStringList>

#include <ostream>

namespace CorvaneReg {

// Runs one command (Arguments without the program name). Returns the exit
// code: 0 on success, 1 on any error, which is reported on Err.
int Run(const QStringList& Arguments, std::ostream& Out, std::ostream& Err);

}  // namespace CorvaneReg
