#include "package/VesparoCrash.h"

#include "hostfw/Application.h"
#include "hostfw/Exceptions.h"
#include "hostfw/UnattendedAnswer.h"
#include "package/Vesparo.h"
#include "package/Vesparoutil.h"
#include "platform/CrashHandler.h"
#include "platform/CrashRecord.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>

#include <dlfcn.h>
#include <signal.h>
#include <string.h>

#include <system_error>
#include <thread>

namespace Vesparo {

namespace {

// The component whose settings a crash report takes.
const TCVVesparo* Armed = nullptr;

constexpr QDataStream::Version SettingsVersion = QDataStream::Qt_6_0;

// The settings a crash report takes from the component, in this order.
QByteArray SettingsOf(const TCVVesparo& Component)
{
  QByteArray Bytes;
  QDataStream Out(&Bytes, QIODevice::WriteOnly);
  Out.setVersion(SettingsVersion);
  Out << Component.Mailsendreport() << Component.MailsendAttachment() << Component.Mailrecipient()
      << Component.Mailsubject() << Component.MailMessage() << Component.CrashPromptUnattended()
      << Component.CrashPromptComment();
  return Bytes;
}

// Settings that cannot be read leave the component as created: no mail, a
// prompt for the user.
void ApplySettings(const QByteArray& Bytes, TCVVesparo& Component)
{
  QDataStream In(Bytes);
  In.setVersion(SettingsVersion);
  bool Mailsendreport = false;
  bool MailsendAttachment = false;
  bool Unattended = false;
  QString Recipient;
  QString Subject;
  QString Message;
  QString Comment;
  In >> Mailsendreport >> MailsendAttachment >> Recipient >> Subject >> Message >> Unattended >> Comment;
  if (In.status() != QDataStream::Ok)
    return;
  Component.setMailsendreport(Mailsendreport);
  Component.setMailsendAttachment(MailsendAttachment);
  Component.setMailrecipient(Recipient);
  Component.setMailsubject(Subject);
  Component.setMailMessage(Message);
  Component.SetCrashPromptUnattended(Unattended, Comment);
}

// Of internal linkage, so that no other module's symbol can stand in for
// it: its address lies in this edition's library.
QString LibraryOfThisCode()
{
  Dl_info Info{};
  if (!dladdr(reinterpret_cast<const void*>(&LibraryOfThisCode), &Info) || !Info.dli_fname)
    return {};
  return QFileInfo(QFile::decodeName(Info.dli_fname)).absoluteFilePath();
}

QString SignalName(int Signal)
{
  const char* Abbreviation = sigabbrev_np(Signal);
  return Abbreviation ? QStringLiteral("SIG") + QString::fromLatin1(Abbreviation)
                      : QStringLiteral("signal %1").arg(Signal);
}

QString HexAddress(std::uint64_t Address)
{
  return QStringLiteral("%1").arg(Address, 16, 16, QLatin1Char('0')).toUpper();
}

bool IsStackOverflow(const CrashRecord::TCrashRecord& Record)
{
  const std::uint64_t Fault = Record.Header.FaultAddress;
  const std::uint64_t Sp = Record.Sp();
  const std::uint64_t Distance = Fault > Sp ? Fault - Sp : Sp - Fault;
  return Record.Header.Signal == SIGSEGV && Record.Header.Code > 0 && Distance <= StackOverflowReach;
}

QString ArithmeticCause(int Code)
{
  switch (Code) {
    case FPE_INTDIV: return QStringLiteral("Integer division by zero");
    case FPE_INTOVF: return QStringLiteral("Integer overflow");
    case FPE_FLTDIV: return QStringLiteral("Floating-point division by zero");
    case FPE_FLTOVF: return QStringLiteral("Floating-point overflow");
    case FPE_FLTUND: return QStringLiteral("Floating-point underflow");
    case FPE_FLTRES: return QStringLiteral("Inexact floating-point result");
    case FPE_FLTINV: return QStringLiteral("Invalid floating-point operation");
    case FPE_FLTSUB: return QStringLiteral("Subscript out of range");
    default: return QStringLiteral("Arithmetic error");
  }
}

QString Cause(const CrashRecord::TCrashRecord& Record)
{
  switch (Record.Header.Signal) {
    case SIGSEGV: return IsStackOverflow(Record) ? QStringLiteral("Stack overflow") : QStringLiteral("Access violation");
    case SIGBUS: return QStringLiteral("Bus error");
    case SIGILL: return QStringLiteral("Illegal instruction");
    case SIGFPE: return ArithmeticCause(Record.Header.Code);
    case SIGABRT: return QStringLiteral("Abnormal termination");
    case SIGTRAP: return QStringLiteral("Breakpoint or trap");
    default: return QStringLiteral("Fatal signal");
  }
}

}  // namespace

QString PackageLibraryPath() { return LibraryOfThisCode(); }

QString CrashHelperPath() { return QFileInfo(PackageLibraryPath()).absolutePath() + QLatin1Char('/') + CrashHelperName; }

void ArmCrashReports(const TCVVesparo& Component)
{
  Armed = &Component;
  if (!CrashHandler::Install(CrashHelperPath()))
    qWarning("Corvane: crashes are not reported: the crash handlers cannot be installed");
  PrepareCrashSettings(Component);
}

void PrepareCrashSettings(const TCVVesparo& Component)
{
  if (&Component != Armed)
    return;
  CrashHandler::SetEnabled(Component.ActivateMLD());
  CrashHandler::SetPrepared(
    CrashRecord::PreparedBlock({Vesparoutil::ApplicationExeName(), PackageLibraryPath(), SettingsOf(Component)}));
}

void DisarmCrashReports(const TCVVesparo& Component)
{
  if (&Component != Armed)
    return;
  Armed = nullptr;
  CrashHandler::Uninstall();
}

QString CrashErrorType(const CrashRecord::TCrashRecord& Record)
{
  if (Record.Header.Kind == CrashRecord::TKind::Terminate)
    return Record.Header.HasException ? QString::fromUtf8(Record.Message)
                                      : QStringLiteral("std::terminate called without an active exception");
  const QString Text = Cause(Record) + QStringLiteral(" (") + SignalName(Record.Header.Signal) + QLatin1Char(')');
  if (Record.SelfSent())
    return Text;
  if (Record.Header.Code <= 0)
    return Text + QStringLiteral(" sent by process %1").arg(Record.Header.SenderPid);
  const QString At = Text + QStringLiteral(" at address ") + HexAddress(Record.Header.FaultAddress);
  if (Record.Header.Signal != SIGSEGV)
    return At;
  return At + (Record.WriteFault() ? QStringLiteral(" writing") : QStringLiteral(" reading"));
}

QString CrashErrorClass(const CrashRecord::TCrashRecord& Record)
{
  if (Record.Header.Kind == CrashRecord::TKind::Terminate && Record.Header.HasException && !Record.TypeName.isEmpty())
    return Exceptions::Demangle(Record.TypeName.constData());
  return SignalName(Record.Header.Signal);
}

}  // namespace Vesparo

extern "C" Q_DECL_EXPORT int CorvaneReportCrash(int& argc, char** argv, const CrashRecord::TCrashRecord& Record,
                                                const QStringList& Frames, const QString& StackNote)
{
  using namespace Vesparo;
  // Everything from here on is for the program that crashed.
  Vesparoutil::SetReportedExeName(Record.Prepared.ExePath);
  Application::TApplication App(argc, argv);
  // The font database is read on a thread of its own while the report's
  // first sections are written; the prompt's first font waits for it, should
  // it not be done by then (the database locks itself).
  std::jthread Fonts;
  try {
    Fonts = std::jthread([] { QFontDatabase::families(); });
  } catch (const std::system_error&) {
  }
  App.SetTitle(Vesparoutil::BaseNameOf(Record.Prepared.ExePath));
  TCVVesparo Component;
  ApplySettings(Record.Prepared.Settings, Component);
  Component.SetMLDActive(true);
  if (Component.CrashPromptUnattended())
    App.SetModalHook([Comment = Component.CrashPromptComment()](QDialog& Dialog) {
      UnattendedAnswer::AnswerWhenShown(Dialog, Comment);
    });
  // A report that fails is shown as the application object shows a failed
  // handler.
  try {
    Component.ReportCrash(QString::fromLocal8Bit(Record.Header.ThreadName), CrashErrorType(Record),
                          CrashErrorClass(Record), Frames, StackNote);
  } catch (...) {
    try {
      App.ShowException(std::current_exception());
    } catch (...) {
    }
    return 1;
  }
  return 0;
}
