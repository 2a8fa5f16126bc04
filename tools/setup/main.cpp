// Corvane_setup.exe: installs the report viewer.
//
//   Corvane_setup.exe /S /D=DIR   silently, into DIR
//   Corvane_setup.exe [/D=DIR]    a window with the target, Install, Cancel
//
// Exit codes: 0 installed, 1 cancelled by the user, 2 failed.

#include "tools/setup/SetupInstall.h"

#include "platform/Posix.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>
#include <optional>

namespace {

enum : int { Installed = 0, Cancelled = 1, Failed = 2 };

const QString Title = QStringLiteral("Corvane Setup");

int Report(const QString& Error)
{
  const QByteArray Bytes = QStringLiteral("Corvane_setup: %1\n").arg(Error).toLocal8Bit();
  std::fwrite(Bytes.constData(), 1, static_cast<size_t>(Bytes.size()), stderr);
  return Failed;
}

int Interactive(const QString& Payload, const QString& Target)
{
  QDialog Window;
  Window.setWindowTitle(Title);
  auto* Layout = new QVBoxLayout(&Window);
  Layout->addWidget(new QLabel(QStringLiteral("Install the Corvane report viewer into:"), &Window));
  auto* Folder = new QLineEdit(Target.isEmpty() ? QDir::homePath() + QStringLiteral("/Corvane") : Target, &Window);
  Folder->setObjectName(QStringLiteral("editTarget"));
  Layout->addWidget(Folder);
  auto* Buttons = new QDialogButtonBox(&Window);
  Buttons->addButton(QStringLiteral("Install"), QDialogButtonBox::AcceptRole)->setObjectName(QStringLiteral("btnInstall"));
  Buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("btnCancel"));
  Layout->addWidget(Buttons);
  int Result = Cancelled;
  QObject::connect(Buttons, &QDialogButtonBox::rejected, &Window, &QDialog::reject);
  QObject::connect(Buttons, &QDialogButtonBox::accepted, &Window, [&] {
    const QString Error = SetupInstall::Install(Payload, Folder->text().trimmed());
    if (!Error.isEmpty()) {
      QMessageBox::critical(&Window, Title, Error);
      return;  // the user may choose another folder
    }
    Result = Installed;
    Window.accept();
  });
  Window.exec();
  return Result;
}

}  // namespace

int main(int argc, char* argv[])
{
  int Bad = 0;
  const std::optional<QStringList> Arguments = Posix::TextArguments(argc, argv, Bad);
  if (!Arguments)
    return Report(QStringLiteral("argument %1 holds bytes that are not UTF-8 text").arg(Bad));
  const SetupInstall::TOptions Options = SetupInstall::ParseCommandLine(Arguments->mid(1));
  if (!Options.Error.isEmpty())
    return Report(Options.Error);
  if (!Options.Silent) {
    QApplication App(argc, argv);
    return Interactive(SetupInstall::PayloadFolder(QCoreApplication::applicationDirPath()), Options.Target);
  }
  // Silent: no window, so no display needed either.
  QCoreApplication App(argc, argv);
  const QString Error = SetupInstall::Install(SetupInstall::PayloadFolder(QCoreApplication::applicationDirPath()), Options.Target);
  return Error.isEmpty() ? Installed : Report(Error);
}
