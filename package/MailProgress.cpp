#include "package/MailProgress.h"

#include "hostfw/Exceptions.h"
#include "package/PackageLog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <thread>

namespace MailProgress {

QString RecipientsLeftText(int Left) { return QStringLiteral("Recipients left: %1").arg(Left); }

TMailProgress::TMailProgress(QWidget* Owner, int Recipients)
  : FRecipient(new QLabel(this)), FLeft(new QLabel(this)), FBar(new QProgressBar(this)),
    FCancel(new QPushButton(QStringLiteral("Cancel"), this)), FRecipients(Recipients)
{
  setObjectName(QStringLiteral("MailProgress"));
  setWindowTitle(SendingText);
  setWindowModality(Qt::ApplicationModal);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  auto* Heading = new QLabel(SendingText, this);
  QFont Bold = Heading->font();
  Bold.setBold(true);
  Heading->setFont(Bold);
  FRecipient->setObjectName(QStringLiteral("Recipient"));
  FRecipient->setTextFormat(Qt::PlainText);
  FLeft->setObjectName(QStringLiteral("Left"));
  FBar->setRange(0, std::max(Recipients, 1));
  FBar->setValue(0);
  FBar->setTextVisible(false);
  auto* Buttons = new QDialogButtonBox(this);
  Buttons->addButton(FCancel, QDialogButtonBox::RejectRole);
  connect(Buttons, &QDialogButtonBox::rejected, this, &TMailProgress::reject);

  auto* Layout = new QVBoxLayout(this);
  Layout->addWidget(Heading);
  Layout->addWidget(FRecipient);
  Layout->addWidget(FLeft);
  Layout->addWidget(FBar);
  Layout->addWidget(Buttons);
  setMinimumWidth(360);

  // Above the owner's window, as its dialogs are.
  QWidget* OwnerWindow = Owner ? Owner->window() : nullptr;
  if (OwnerWindow && OwnerWindow->windowHandle()) {
    winId();
    windowHandle()->setTransientParent(OwnerWindow->windowHandle());
    adjustSize();
    move(OwnerWindow->frameGeometry().center() - rect().center());
  }
  if (QCoreApplication* App = QCoreApplication::instance())
    App->installEventFilter(this);
}

TMailProgress::~TMailProgress()
{
  if (FQuitHeldBack && QCoreApplication::instance())
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

void TMailProgress::SendingTo(const QString& Recipient, int Left)
{
  FRecipient->setText(Recipient);
  FLeft->setText(RecipientsLeftText(Left));
  FBar->setValue(std::clamp(FRecipients - Left, 0, FBar->maximum()));
}

MailAutomation::HRESULT TMailProgress::Send(MailAutomation::TMailItem& Item, QString& Failure)
{
  QEventLoop Loop;
  std::atomic<bool> Done = false;
  MailAutomation::HRESULT Result = MailAutomation::E_FAIL;
  QString Reason;
  {
    // Joined before Loop and the results go, on every path.
    const std::jthread Worker([&] {
      try {
        Result = Item.Send();
        if (MailAutomation::Failed(Result))
          Reason = MailAutomation::ErrorDescription();
      } catch (...) {
        qCWarning(PackageLog).noquote() << "the mail could not be composed:"
                                        << Exceptions::MessageOf(std::current_exception());
        Result = MailAutomation::E_FAIL;
        Reason = QStringLiteral("the mail could not be composed");
      }
      Done = true;
      QMetaObject::invokeMethod(&Loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    if (!Done)
      Loop.exec();
    // Only the application's end leaves the loop before the mail is over:
    // the mail under way finishes within its limit, and no other follows.
    if (!Done)
      FCancelled = true;
  }
  if (MailAutomation::Failed(Result))
    Failure = Reason;
  return Result;
}

void TMailProgress::reject()
{
  FCancelled = true;
  FCancel->setEnabled(false);
}

void TMailProgress::closeEvent(QCloseEvent* Event)
{
  Event->ignore();
  reject();
}

bool TMailProgress::eventFilter(QObject* Watched, QEvent* Event)
{
  if (Event->type() == QEvent::Quit && Watched == QCoreApplication::instance()) {
    FQuitHeldBack = true;
    reject();
  }
  return QDialog::eventFilter(Watched, Event);
}

}  // namespace MailProgress
