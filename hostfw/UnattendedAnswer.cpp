#include "hostfw/UnattendedAnswer.h"

#include "hostfw/Application.h"

#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

namespace UnattendedAnswer {

namespace {

// Types the comment at the end of the dialog's comment field, as keys would.
void TypeComment(QDialog& Dialog, const QString& Comment)
{
  auto* Field = Dialog.findChild<QLineEdit*>();
  if (!Field || Comment.isEmpty())
    return;
  Field->setFocus();
  QKeyEvent End(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
  QCoreApplication::sendEvent(Field, &End);
  QKeyEvent Typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, Comment);
  QCoreApplication::sendEvent(Field, &Typed);
}

// Answers a dialog once it has been painted on screen.
class TAnswer : public QObject {
public:
  TAnswer(QDialog& Dialog, QString Comment) : QObject(&Dialog), FDialog(Dialog), FComment(std::move(Comment))
  {
    Dialog.installEventFilter(this);
    // It may have been painted before it reached us: one more paint tells.
    Dialog.update();
    // Should no paint ever come, the dialog is answered all the same.
    constexpr int PaintAwaitedMs = 3000;
    QTimer::singleShot(PaintAwaitedMs, this, &TAnswer::Answer);
  }

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override
  {
    if (Watched == &FDialog && Event->type() == QEvent::Paint)
      QTimer::singleShot(0, this, &TAnswer::Answer);
    return false;
  }

private:
  void Answer()
  {
    if (FAnswered)
      return;
    FAnswered = true;
    FDialog.removeEventFilter(this);
    // What a user would have read, for whoever runs unattended.
    if (const auto* Box = qobject_cast<QMessageBox*>(&FDialog)) {
      std::printf("Box \"%s\": %s\n", qUtf8Printable(Box->windowTitle()), qUtf8Printable(Box->text()));
      std::fflush(stdout);
    }
    TypeComment(FDialog, FComment);
    // Pressing OK photographs the prompt.
    Application::PressOk(FDialog);
  }
  QDialog& FDialog;
  QString FComment;
  bool FAnswered = false;
};

}  // namespace

void AnswerWhenShown(QDialog& Dialog, const QString& Comment) { new TAnswer(Dialog, Comment); }

}  // namespace UnattendedAnswer
