#pragma once
// Command line of the demo. A new option is a member here, a line in
// DemoOptionTable (DemoOptions.cpp) and its lines in DemoUsage.

#include <QString>
#include <QtGlobal>
#include <QStringList>

#include <optional>

struct TDemoOptions {
  std::optional<QString> RaiseMessage;  // --raise MESSAGE
  bool RaiseTwice = false;              // --raise-twice
  bool Inactive = false;                // --inactive
  bool Unattended = false;              // --unattended
  bool RaiseDuringPrompt = false;       // --raise-during-prompt
  std::optional<QString> Comment;       // --comment TEXT
  // The component's mail settings, where given: --mail-to LIST (which also
  // switches mail on), --mail-subject TEXT, --mail-message TEXT, --mail-attach.
  std::optional<QString> MailTo;
  std::optional<QString> MailSubject;
  std::optional<QString> MailMessage;
  bool MailAttach = false;
  // --raise-in-worker MESSAGE: the requested exception comes from a worker
  // thread, through std::future::get.
  std::optional<QString> RaiseInWorker;
  // --raise-repeated TEXT COUNT: the requested message is TEXT (with \n, \r,
  // \t and \\ understood) COUNT times.
  struct TRepeated {
    QString Text;
    qint64 Count = 0;
  };
  std::optional<TRepeated> RaiseRepeated;
  // --crash KIND: once the window is shown, the program crashes that way.
  std::optional<QString> Crash;
  // --quit-when-shown: the program quits once its window is shown.
  bool QuitWhenShown = false;
  QString Error;                        // set when the command line is wrong

  // How many exceptions the run raises by itself.
  int RequestedRaises() const;
};

TDemoOptions ParseDemoOptions(const QStringList& Arguments);

// What --crash takes.
inline const QStringList CrashKinds{QStringLiteral("segv"),           QStringLiteral("abort"),
                                    QStringLiteral("fpe"),            QStringLiteral("stack-overflow"),
                                    QStringLiteral("terminate"),      QStringLiteral("qthread"),
                                    QStringLiteral("external")};

inline constexpr const char* DemoUsage =
  "usage: vesparo-demo [--raise MESSAGE] [--raise-twice] [--inactive] [--unattended] [--comment TEXT]\n"
  "                    [--mail-to LIST] [--mail-subject TEXT] [--mail-message TEXT] [--mail-attach]\n"
  "                    [--raise-in-worker MESSAGE] [--raise-repeated TEXT COUNT]\n"
  "                    [--raise-during-prompt] [--crash KIND] [--quit-when-shown]\n"
  "  --raise MESSAGE  once the window is shown, a click handler raises std::runtime_error(MESSAGE)\n"
  "  --raise-twice    two exceptions in a row (the second a std::out_of_range from a nested call)\n"
  "  --raise-during-prompt\n"
  "                   raises \"outer exception\"; while its prompt is open, a timer raises\n"
  "                   \"inner exception\"\n"
  "  --inactive       the form's component has ActivateMLD false\n"
  "  --unattended     every prompt and message box is answered with OK (each box printed as\n"
  "                   Box \"CAPTION\": TEXT); the application quits once the requested\n"
  "                   exceptions have been reported\n"
  "  --comment TEXT   with --unattended: types TEXT at the end of the prompt's comment field\n"
  "  --mail-to LIST   mail each report to these recipients (separated by \";\")\n"
  "  --mail-subject TEXT, --mail-message TEXT\n"
  "                   start of the mail's subject and of its body\n"
  "  --mail-attach    attach the report's archive to the mail\n"
  "  --raise-in-worker MESSAGE\n"
  "                   after an unrelated exception handled in the window, a click handler\n"
  "                   waits for a std::async task that raises std::runtime_error(MESSAGE)\n"
  "  --raise-repeated TEXT COUNT\n"
  "                   like --raise, the message TEXT repeated COUNT times (\\n, \\r, \\t and\n"
  "                   \\\\ in TEXT stand for line feed, carriage return, tab and backslash)\n"
  "  --crash KIND     once the window is shown, crashes: segv (reads address 16), abort, fpe\n"
  "                   (divides by zero), stack-overflow, terminate (a std::thread's function\n"
  "                   throws), qthread (a QThread's run throws), external (waits for a fatal\n"
  "                   signal sent by another process); the crash is reported and the program\n"
  "                   ends by its signal\n"
  "  --quit-when-shown\n"
  "                   quits once the window is shown\n";
