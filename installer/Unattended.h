#pragma once
// Scripted runs of the installer: the same window and handlers a user
// drives, with the answers given by the script. Every dialog is printed as
// "Title | Main instruction | Content" and answered Yes where it asks, else
// OK; a failure's reason goes to standard error.

#include <QString>

class QDialog;

#include <cstdio>

namespace u_packInstaller {
class TfrmMain;
}

namespace Unattended {

struct TOptions {
  // The display name of the IDE to click in the list.
  QString Ide;
  // The installation folder, taken as an absolute path; made when missing
  // once nothing refuses the installation.
  QString Target;
  // Clears "Install Corvane", so that no setup program runs.
  bool NoSetup = false;
};

class TUnattendedRun {
public:
  // Answers every dialog of the application from now on, printing it to Out.
  explicit TUnattendedRun(std::FILE* Out);
  ~TUnattendedRun();
  TUnattendedRun(const TUnattendedRun&) = delete;
  TUnattendedRun& operator=(const TUnattendedRun&) = delete;

  // Fills in the form, clicks the IDE's item and presses Install. 0 when
  // the last dialog was the completion, else 1.
  int Drive(u_packInstaller::TfrmMain& Form, const TOptions& Options);

  // A dialog's title, main instruction and content, as it shows them, and
  // its expanded information (a failure's reason).
  struct TTexts {
    QString Title, Inst, Content, Info;
  };
  static TTexts TextsOf(const QDialog& Dialog);
  // Yes where the dialog asks, else OK.
  static void Answer(QDialog& Dialog);

private:
  std::FILE* FOut;
  QString FLastInstruction;
};

}  // namespace Unattended
