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

// Whether the streams go to a terminal. A terminal acts on control
// characters (escape sequences move the cursor, rename the window, answer
// back), so what comes from the store is shown there with its control
// characters escaped ("\t", "\n", "\r", "\x1b"); a pipe or a file gets the
// text as stored.
struct TTerminals {
  bool Out = false;
  bool Err = false;
};

// Runs one command (Arguments without the program name). Returns the exit
// code: 0 on success, 1 on any error, which is reported on Err.
int Run(const QStringList& Arguments, std::ostream& Out, std::ostream& Err, TTerminals Terminals = {});

// Text with every control character (C0, DEL, C1) escaped as above.
QString EscapedControls(const QString& Text);

}  // namespace CorvaneReg
