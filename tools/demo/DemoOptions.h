#pragma once
// Command line of the demo.

#include <QString>
#include <QStringList>

#include <optional>

struct TDemoOptions {
  std::optional<QString> RaiseMessage;  // --raise MESSAGE
  bool RaiseTwice = false;              // --raise-twice
  bool Inactive = false;                // --inactive
  bool Unattended = false;              // --unattended
  std::optional<QString> Comment;       // --comment TEXT
  QString Error;                        // set when the command line is wrong

  // How many exceptions the run raises by itself.
  int RequestedRaises() const;
};

TDemoOptions ParseDemoOptions(const QStringList& Arguments);

inline constexpr const char* DemoUsage =
  "usage: vesparo-demo [--raise MESSAGE] [--raise-twice] [--inactive] [--unattended] [--comment TEXT]\n"
  "  --raise MESSAGE  once the window is shown, a click handler raises std::runtime_error(MESSAGE)\n"
  "  --raise-twice    two exceptions in a row (the second a std::out_of_range from a nested call)\n"
  "  --inactive       the form's component has ActivateMLD false\n"
  "  --unattended     every prompt and message box is answered with OK; the application\n"
  "                   quits once the requested exceptions have been reported\n"
  "  --comment TEXT   with --unattended: types TEXT at the end of the prompt's comment field\n";
