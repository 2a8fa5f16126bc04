#include "package/Vesparo.h"

#include "hostfw/Application.h"
#include "hostfw/Exceptions.h"
#include "hostfw/FormatSettings.h"
#include "hostfw/StringList.h"
#include "hostfw/TextFile.h"
#include "package/Edition.h"
#include "package/HmldFormat.h"
#include "package/MailProgress.h"
#include "package/PackageLog.h"
#include "package/VesparoCrash.h"
#include "package/VesparoEnvironment.h"
#include "package/Vesparoutil.h"
#include "package/halvernSynTaskDialog.h"
#include "platform/FileLock.h"
#include "platform/MailAutomation.h"
#include "platform/Shell.h"
#include "platform/StackTrace.h"

#include <QDate>
#include <QDateTime>
#include <QFileInfo>
#include <QPointer>
#include <QScopeGuard>

#include <algorithm>
#include <memory>

namespace Vesparo {

bool bShallOpen = false;
int ReportLockWaitMs = 10000;

namespace {
const QString ApplicationInformationTitle = QStringLiteral("The Application information");
const QString ErrorMessageCaption = QStringLiteral("Error message");
const QString ErrorInstruction = QStringLiteral("An error has occured (click to view)");
const QString DetailsLabel = QStringLiteral("Details:");
const QString SendReportCaption = QStringLiteral("Send the error report ");
const QString CommentsPrompt = QStringLiteral("Enter Comments:");
const QString FooterFirstLine = QStringLiteral("Email will be sent by default Mail client");
const QString FooterSecondLine = QStringLiteral("(a copy is placed in the bugreport directory of this application)");
const QString CrLf = QStringLiteral("\r\n");

// The unit's initialization and finalization, once per process (or while
// the package is loaded): stacks are recorded for every throw in between.
struct TUnitLifetime {
  TUnitLifetime()
  {
    StackTrace::JclStackTrackingOptions += StackTrace::tsoRawStackScan;
    StackTrace::JclStackTrackingOptions += StackTrace::tsoStaticModuleList;
    StackTrace::JclStartExceptionTracking();
  }
  ~TUnitLifetime()
  {
    if (bShallOpen)
      HandOffReportToViewer();
    bShallOpen = false;
    StackTrace::JclStopExceptionTracking();
  }
} UnitLifetime;

// A line break of the prompt's labels: CR LF, CR, LF, or the two
// characters backslash and "n" that every task-dialog text breaks at. Its
// length; 0 when none starts at Text[At].
qsizetype PromptBreakAt(const QString& Text, qsizetype At)
{
  const QChar C = Text[At];
  if (C == QLatin1Char('\r'))
    return At + 1 < Text.size() && Text[At + 1] == QLatin1Char('\n') ? 2 : 1;
  if (C == QLatin1Char('\n'))
    return 1;
  return C == QLatin1Char('\\') && At + 1 < Text.size() && Text[At + 1] == QLatin1Char('n') ? 2 : 0;
}

void WriteLines(TextFile::TTextFile& File, const QStringList& Lines)
{
  for (const QString& Line : Lines)
    File.WriteLn(Line);
}

QString SenderClassName(const QObject* Sender)
{
  // No sender: nothing to name, the line stays empty.
  return Sender ? QString::fromLatin1(Sender->metaObject()->className()) : QString();
}

// The component whose report is under way, if any.
QPointer<TCVVesparo> ReportUnderWay;

void ShowFailure(const std::exception_ptr& E)
{
  try {
    if (auto* App = Application::Instance())
      App->ShowException(E);
  } catch (...) {
    qCWarning(PackageLog).noquote() << "a failed report could not be shown:" << Exceptions::MessageOf(E)
                                    << "- showing it failed:" << Exceptions::MessageOf(std::current_exception());
  }
}
}  // namespace

QString PromptExcerpt(const QString& Message)
{
  // Only what is looked at before anything is laid out: the time taken
  // does not grow with the message.
  int Lines = 1;
  qsizetype End = 0;
  while (End < Message.size() && End < PromptExcerptCharacters) {
    const qsizetype Break = PromptBreakAt(Message, End);
    if (Break > 0 && ++Lines > PromptExcerptLines)
      break;
    End += Break > 0 ? Break : 1;
  }
  if (End >= Message.size())
    return Message;
  // A pair of surrogates is one character: never cut between them.
  if (End > 0 && Message[End - 1].isHighSurrogate())
    --End;
  return Message.left(End) + PromptExcerptEllipsis;
}

TCVVesparo::TCVVesparo(QWidget* AOwner) : Component::TComponent(AOwner) {}

TCVVesparo::~TCVVesparo()
{
  // Never leave the application calling into a component that is gone.
  auto* App = Application::Instance();
  if (App && App->OnExceptionOwner() == this)
    App->SetOnException({});
  DisarmCrashReports(*this);
}

void TCVVesparo::SetMLDActive(bool Value)
{
  if (Value == FActivateMLD)
    return;
  FActivateMLD = Value;
  CrashSettingsChanged();
}

void TCVVesparo::SetCrashPromptUnattended(bool Unattended, const QString& Comment)
{
  FCrashPromptUnattended = Unattended;
  FCrashPromptComment = Comment;
  CrashSettingsChanged();
}

void TCVVesparo::CrashSettingsChanged() { PrepareCrashSettings(*this); }

void TCVVesparo::Loaded()
{
  Component::TComponent::Loaded();
  if (!FActivateMLD)
    return;
  // The last active component to load wins; a handler the host set before is
  // replaced, not chained.
  if (auto* App = Application::Instance())
    App->SetOnException([this](QObject* Sender, const std::exception_ptr& E) { GlobalExceptionHandlerThis(Sender, E); },
                        this);
  // Crashes too: signals, std::terminate, exceptions of other threads.
  ArmCrashReports(*this);
}

bool TCVVesparo::VersionInformation()
{
  const QString ExePath = Vesparoutil::ApplicationExeName();
  const QString ReportPath = Vesparoutil::ReportFilePathFor(ExePath);
  TextFile::TTextFile Report(ReportPath);
  try {
    Vesparoutil::ForceDataFolder(Vesparoutil::DataFolderPath());
    Report.Rewrite();
    WriteEnvironmentLines(Report, ExePath);
    Report.Close();
    WriteProcessInformation(ReportPath);
    return true;
  } catch (...) {
    // Whatever was written stays; the pipeline goes on with its own sections.
    qCWarning(PackageLog).noquote() << "the report's environment is incomplete:"
                                    << Exceptions::MessageOf(std::current_exception());
    // The file may be closed already when the process list failed.
    try {
      Report.Close();
    } catch (...) {
      qCWarning(PackageLog).noquote() << "the report could not be closed after its environment:"
                                      << Exceptions::MessageOf(std::current_exception());
    }
    return false;
  }
}

void TCVVesparo::GlobalExceptionHandlerThis(QObject* Sender, const std::exception_ptr& E)
{
  if (!FActivateMLD)
    return;

  TArrival Arrival{SenderClassName(Sender), E, FormatSettings::DateToStr(QDate::currentDate())};
  // One report at a time. An exception raised while one is under way (its
  // prompt, packing or mail running a message loop of their own) would
  // rewrite the report underneath it: it waits, and is reported once the
  // current one is complete, in the order of arrival.
  // The report file is the process's, not the component's: an exception
  // that comes to another component (one loaded meanwhile) waits as well,
  // rather than for the report file's lock, which this process holds.
  if (FReporting || (ReportUnderWay && ReportUnderWay != this)) {
    (FReporting ? this : ReportUnderWay.data())->FDeferred->push_back(std::move(Arrival));
    return;
  }
  // An event run by the prompt or the mail may free this component with
  // its form: from then on nothing of it is touched.
  const QPointer<TCVVesparo> Alive(this);
  const std::shared_ptr<std::deque<TArrival>> Waiting = FDeferred;
  FReporting = true;
  ReportUnderWay = this;
  const auto Done = qScopeGuard([this, &Alive] {
    if (Alive) {
      FReporting = false;
      ReportUnderWay = nullptr;
    }
  });
  for (;;) {
    try {
      ReportException(Arrival);
    } catch (...) {
      // The caller shows a failure; with more reports waiting it is shown
      // here, so that they still follow.
      if (Waiting->empty())
        throw;
      ShowFailure(std::current_exception());
    }
    // Gone: those still waiting go to whoever handles exceptions now,
    // rather than nowhere.
    while (!Alive && !Waiting->empty()) {
      const TArrival Left = std::move(Waiting->front());
      Waiting->pop_front();
      if (auto* App = Application::Instance())
        App->HandleException(nullptr, Left.E);
    }
    if (Waiting->empty())
      return;
    Arrival = std::move(Waiting->front());
    Waiting->pop_front();
  }
}

void TCVVesparo::ReportException(const TArrival& Arrival)
{
  const QString ExeFileName = Vesparoutil::ExtractFileName(Vesparoutil::ApplicationExeName());
  Report({{Arrival.SenderClassName, ExeFileName, Arrival.Date, Exceptions::MessageOf(Arrival.E),
           Exceptions::ClassNameOf(Arrival.E)},
          Arrival.E,
          {},
          {}});
}

void TCVVesparo::ReportCrash(const QString& ThreadName, const QString& ErrorType, const QString& ErrorClass,
                             const QStringList& Frames, const QString& StackNote)
{
  const QString ExeFileName = Vesparoutil::ExtractFileName(Vesparoutil::ApplicationExeName());
  const QString Date = FormatSettings::DateToStr(QDate::currentDate());
  Report({{ThreadName, ExeFileName, Date, ErrorType, ErrorClass}, nullptr, Frames, StackNote});
}

void TCVVesparo::Report(const TReportContent& Content)
{
  const QString ExePath = Vesparoutil::ApplicationExeName();
  const QString ReportPath = Vesparoutil::ReportFilePathFor(ExePath);

  // Every instance of this program writes this file, and so does a crash
  // helper reporting for one: one writer at a time, from the environment
  // step until the report has been handed on. Where no lock can be had at
  // all, the steps below tell what fails.
  Vesparoutil::ForceDataFolder(Vesparoutil::DataFolderPath());
  FileLock::TFileLock Lock;
  if (Vesparoutil::LockReportFile(Lock, ReportPath, ReportLockWaitMs) == FileLock::TLockResult::Busy) {
    // Another instance keeps it: rather than hang, the exception is shown
    // as the application shows it without a handler.
    auto* App = Application::Instance();
    if (Content.E && !App)
      std::rethrow_exception(Content.E);
    if (Content.E)
      App->ShowException(Content.E);
    else if (App)
      App->MessageBox(Content.Section.Message, App->Title(), Application::MB_OK | Application::MB_ICONERROR);
    return;
  }
  // The picture and archive of an earlier report are not this one's.
  Vesparoutil::sJpegFileName.clear();
  Vesparoutil::sZipFileName.clear();
  Vesparoutil::sZipFileNameForMailing.clear();

  VersionInformation();

  Vesparoutil::ForceDataFolder(Vesparoutil::DataFolderPath());
  TextFile::TTextFile File(ReportPath);
  File.Append();
  WriteLines(File, HmldFormat::ExceptionSectionLines(Content.Section));
  File.Close();
  bShallOpen = true;

  QString TraceText;
  if (Content.E)
    LogTheStackTraceIncaseOfError(ReportPath, TraceText, Content.E);
  else
    WriteStackSection(ReportPath, Content.Frames, TraceText, Content.StackNote);

  QString ReportText;
  ReadApplicationinfoFromFile(ReportPath, ReportText);
  ErrorMessageBySynTask(Content.Section.Message, ApplicationInformationTitle + CrLf + ReportText);
}

void TCVVesparo::LogTheStackTraceIncaseOfError(const QString& FileName, QString& TraceText)
{
  QStringList Frames;
  StackTrace::JclLastExceptStackListToStrings(Frames, false, true, true, false);
  WriteStackSection(FileName, Frames, TraceText);
}

void TCVVesparo::LogTheStackTraceIncaseOfError(const QString& FileName, QString& TraceText,
                                               const std::exception_ptr& E)
{
  // The stack that travels with the exception object: right however late
  // the report is made and whatever was raised in between.
  QStringList Frames;
  StackTrace::ExceptionStackListToStrings(E, Frames, false, true, true, false);
  WriteStackSection(FileName, Frames, TraceText);
}

void TCVVesparo::WriteStackSection(const QString& FileName, const QStringList& Frames, QString& TraceText,
                                   const QString& StackNote)
{
  TraceText.clear();
  TextFile::TTextFile Report(FileName);
  Report.Append();
  QString CaptureTime = FormatSettings::DateLongTimeToStr(QDateTime::currentDateTime());
  if (!StackNote.isEmpty())
    CaptureTime += QLatin1Char(' ') + StackNote;
  WriteLines(Report, HmldFormat::StackSectionOpening(CaptureTime));
  for (const QString& Frame : Frames) {
    const QString Line = HmldFormat::FrameLine(Frame);
    Report.WriteLn(Line);
    TraceText += CrLf + Line;
  }
  Report.WriteLn(HmldFormat::StackSectionClosing());
  Report.Close();
}

void TCVVesparo::ReadApplicationinfoFromFile(const QString& FileName, QString& Text)
{
  Text.clear();
  try {
    TextFile::TTextFile File(FileName);
    File.Reset();
    QString Result;
    while (!File.Eof()) {
      Result += CrLf;
      Result += File.ReadLn();
    }
    File.Close();
    Text = Result;
  } catch (...) {
    qCWarning(PackageLog).noquote() << "the report could not be read back for the prompt:"
                                    << Exceptions::MessageOf(std::current_exception());
    Text.clear();
  }
}

void TCVVesparo::ErrorMessageBySynTask(const QString& Message, const QString& Report)
{
  using namespace halvernSynTaskDialog;
  TTaskDialog Task;
  Task.Title = ErrorMessageCaption;
  Task.Inst = ErrorInstruction;
  Task.Content = DetailsLabel + CrLf + PromptExcerpt(Message);
  Task.Verify = SendReportCaption;
  Task.VerifyChecked = -1;
  Task.Query = FMailsendreport ? CommentsPrompt : QString();
  Task.Footer = FooterFirstLine + CrLf + FooterSecondLine;

  // The query flag always takes the emulated dialog: one OK button, which
  // photographs the prompt, the comment field, and the report handed on
  // when it closes. A picture, archive or copy that could not be written is
  // raised only after the mail step, so that the report still goes out.
  const QPointer<TCVVesparo> Alive(this);
  std::exception_ptr HandOnFailure;
  try {
    Task.Execute({}, 0, {tdfQuery}, tiError, tfiShield, 200, 0, nullptr, false, false);
  } catch (...) {
    const std::exception_ptr Failure = std::current_exception();
    if (Failure != Task.ClickFailure && Failure != Task.PackingFailure)
      throw;
    HandOnFailure = Failure;
  }
  // The component may have gone with its form while the prompt was open;
  // the report is whole, only its mail settings went with it.
  if (Alive && Task.VerifyChecked && FMailsendreport)
    EmailDoc(Vesparoutil::sZipFileNameForMailing, Task.Query, Report);
  if (HandOnFailure)
    std::rethrow_exception(HandOnFailure);
}

namespace {
const QString MailApplicationLabel = QStringLiteral("   Application : ");
const QString MailCommentsLabel = QStringLiteral("Comments by the User :");
const QString MailReportLabel = QStringLiteral("The Full Error report is :");
const QString MailNotSentText = QStringLiteral("Mail could not be sent .");
const QString MailNotSentCaption = QStringLiteral("Error");
// Where a report goes when no recipient is configured: a fixed address of a
// reserved domain, so that it can never reach a stranger.
const QString PlaceholderRecipient = QStringLiteral("bugreport@corvane.invalid");

void MailCheck(MailAutomation::HRESULT Code, const QString& What)
{
  if (MailAutomation::Failed(Code))
    throw EOleError(QStringLiteral("%1: %2").arg(What, MailAutomation::ErrorDescription()), Code);
}

void ShowMailNotSent()
{
  if (auto* App = Application::Instance())
    App->MessageBox(MailNotSentText, MailNotSentCaption, Application::MB_OK | Application::MB_ICONERROR);
}

std::shared_ptr<MailAutomation::TMailApplication> MailApplication()
{
  std::shared_ptr<MailAutomation::TMailApplication> Running;
  if (!MailAutomation::Failed(MailAutomation::GetActiveObject(MailAutomation::MailApplicationProgId, Running)))
    return Running;
  std::shared_ptr<MailAutomation::TMailApplication> Started;
  MailCheck(MailAutomation::CreateObject(MailAutomation::MailApplicationProgId, Started),
            QStringLiteral("CreateObject"));
  return Started;
}
}  // namespace

void TCVVesparo::EmailDoc(const QString& AttachmentPath, const QString& Comment, const QString& ReportText)
{
  // A mail program that cannot be reached is the caller's to report.
  const std::shared_ptr<MailAutomation::TMailApplication> MailProgram = MailApplication();

  // Without ";" the setting is one recipient as it stands. A setting that
  // names nobody, blanks and ";" only, is a setting left empty.
  StringList::TStringList Recipients;
  if (!FMailrecipient.contains(QLatin1Char(';')))
    Recipients.Add(FMailrecipient);
  else
    Split(QLatin1Char(';'), FMailrecipient, Recipients);
  QStringList ToSend = Recipients.Strings();
  if (std::all_of(ToSend.begin(), ToSend.end(), [](const QString& Entry) { return Entry.trimmed().isEmpty(); }))
    ToSend = QStringList{PlaceholderRecipient};

  const QString ExeFileName = Vesparoutil::ExtractFileName(Vesparoutil::ApplicationExeName());
  const QString Subject = Edition::EditionText(FMailsubject + MailApplicationLabel + ExeFileName);
  const QString Body = Edition::EditionText(FMailMessage + CrLf + CrLf + CrLf + MailCommentsLabel + Comment + CrLf +
                                            CrLf + MailReportLabel + CrLf + CrLf + ReportText);
  // Taken now: the loop below runs the application's events, and one of
  // them may close the form that owns this component.
  const bool SendAttachment = FMailsendAttachment;
  qsizetype Left = std::count_if(ToSend.begin(), ToSend.end(), [](const QString& R) { return !R.isEmpty(); });

  auto* App = Application::Instance();
  MailProgress::TMailProgress Progress(App ? App->Handle() : nullptr, static_cast<int>(Left));
  Progress.show();
  // One mail per recipient; a recipient that fails is told and the next one
  // still gets its mail, unless the server could not be reached at all.
  for (const QString& Recipient : ToSend) {
    if (Progress.Cancelled())
      break;
    try {
      std::shared_ptr<MailAutomation::TMailItem> Item;
      MailCheck(MailProgram->CreateItem(MailAutomation::olMailItem, Item), QStringLiteral("CreateItem"));
      if (Recipient.isEmpty())
        continue;
      Progress.SendingTo(Recipient, static_cast<int>(Left--));
      MailCheck(Item->Recipients().Add(Edition::EditionText(Recipient)), QStringLiteral("Recipients.Add"));
      MailCheck(Item->SetSubject(Subject), QStringLiteral("Subject"));
      MailCheck(Item->SetBody(Body), QStringLiteral("Body"));
      if (SendAttachment && QFileInfo(AttachmentPath).isFile())
        MailCheck(Item->Attachments().Add(AttachmentPath), QStringLiteral("Attachments.Add"));
      QString Failure;
      const MailAutomation::HRESULT Sent = Progress.Send(*Item, Failure);
      if (MailAutomation::Failed(Sent))
        throw EOleError(QStringLiteral("Send: %1").arg(Failure), Sent);
    } catch (const EOleError& E) {
      qCWarning(PackageLog).noquote() << QStringLiteral("no mail to %1:").arg(Recipient) << E.Message();
      ShowMailNotSent();
      // A server that never answered counts as a mail program that is not
      // there: the other recipients would only wait for it in turn.
      if (E.ErrorCode == MailAutomation::MAPI_E_NETWORK_ERROR)
        break;
    } catch (...) {
      qCWarning(PackageLog).noquote() << QStringLiteral("no mail to %1:").arg(Recipient)
                                      << Exceptions::MessageOf(std::current_exception());
      ShowMailNotSent();
    }
  }
}

void TCVVesparo::Split(QChar Delimiter, const QString& Input, StringList::TStringList& Strings)
{
  Strings.Clear();
  Strings.Delimiter = Delimiter;
  Strings.StrictDelimiter = false;
  Strings.SetDelimitedText(Input);
}

void HandOffReportToViewer()
{
  // At process end nothing may escape: a broken registry store must not
  // turn a normal exit into a crash.
  try {
    const QString Viewer = Vesparoutil::ReadRegistryValues(QStringLiteral("\\SOFTWARE\\Corvane"), false,
                                                           QStringLiteral("Installation_path"), 1, true);
    Vesparoutil::ForceDataFolder(Vesparoutil::DataFolderPath());
    // A relative path would start whatever lies under that name in the
    // folder the application happens to end in.
    if (!Viewer.isEmpty() && !Viewer.startsWith(QLatin1Char('/'))) {
      qWarning("Corvane: the report viewer is not started: Installation_path \"%s\" is not an absolute path",
               qUtf8Printable(Viewer));
      return;
    }
    QString Parameter = Vesparoutil::FullHmldFilePath();
    Parameter.replace(QLatin1Char(' '), QLatin1Char('^'));
    const auto* App = Application::Instance();
    Shell::ShellExecute(App ? App->Handle() : nullptr, QStringLiteral("open"), Viewer, Parameter, QString(),
                        Shell::SW_SHOWNORMAL);
  } catch (...) {
    qCWarning(PackageLog).noquote() << "the report viewer is not started:"
                                    << Exceptions::MessageOf(std::current_exception());
  }
}

QString TCVVesparo::ReadRegistryValues(const QString& Key, bool CanCreate, const QString& Name, int Kind,
                                       bool CurrentUser)
{
  return Vesparoutil::ReadRegistryValues(Key, CanCreate, Name, Kind, CurrentUser);
}

}  // namespace Vesparo
