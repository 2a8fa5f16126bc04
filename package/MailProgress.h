#pragma once
// The window shown while a report goes out by mail: what is being sent, the
// recipient of the mail under way, how many recipients are left, and Cancel.
// Each mail is sent on a worker thread while the window's own loop keeps the
// application painting; the caller still waits for every mail in turn.

#include "platform/MailAutomation.h"

#include <QDialog>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;

namespace MailProgress {

inline const QString SendingText = QStringLiteral("Sending the error report");
// How many recipients are left, the one under way included.
QString RecipientsLeftText(int Left);

class TMailProgress : public QDialog {
  Q_OBJECT
public:
  // Modal to the whole application and placed over Owner's window; not
  // owned by it, as a window may close while the mail goes out.
  TMailProgress(QWidget* Owner, int Recipients);
  // Passes on a quit it held back.
  ~TMailProgress() override;

  // Shows the recipient of the next mail and how many are left.
  void SendingTo(const QString& Recipient, int Left);
  // Sends Item on a worker thread and returns once that is over, the
  // window answering all the while. On failure, Failure tells why.
  MailAutomation::HRESULT Send(MailAutomation::TMailItem& Item, QString& Failure);
  // No further mail: the user cancelled, or the application is ending.
  bool Cancelled() const { return FCancelled; }

protected:
  // Cancel, Escape and the close box: the mail under way still finishes.
  void reject() override;
  void closeEvent(QCloseEvent* Event) override;
  // The application asking to quit: as Cancel, and the quit, which this
  // window's refusal to close turns down, is asked again once it is gone.
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  QLabel* FRecipient;
  QLabel* FLeft;
  QProgressBar* FBar;
  QPushButton* FCancel;
  int FRecipients;
  bool FCancelled = false;
  bool FQuitHeldBack = false;
};

}  // namespace MailProgress
