#pragma once
// Answers dialogs as a user would, for unattended runs (a demo, tests, a
// crash helper told so): once the dialog is on screen, types a comment at
// the end of its comment field, prints a message box as
// Box "CAPTION": TEXT on standard output, and presses OK.

#include <QString>

class QDialog;

namespace UnattendedAnswer {

// Arranges the answer; the dialog may be shown already or about to be.
void AnswerWhenShown(QDialog& Dialog, const QString& Comment);

}  // namespace UnattendedAnswer
