#pragma once
// The component that a developer drops onto a form of the application to be
// watched. With ActivateMLD stored true it becomes, once its form has loaded,
// the application's one handler of unhandled exceptions; each exception then
// rebuilds the application's report file and goes to the error prompt.

#include "hostfw/Component.h"
#include "package/HmldFormat.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <memory>
#include <exception>

namespace StringList {
class TStringList;
}

namespace Vesparo {

// An exception section was written in this run; the report then goes to the
// viewer program when the process ends.
extern bool bShallOpen;

// How long a report waits for another instance of the program to finish
// writing the same report file, before the exception is shown plainly.
extern int ReportLockWaitMs;

// Starts the report viewer program registered for the current user with the
// report path (blanks turned into "^") as its one argument. A registered
// path that is not absolute is refused with a warning (qWarning). The unit's
// finalization calls it when bShallOpen is set.
void HandOffReportToViewer();

class TCVVesparo : public Component::TComponent {
  Q_OBJECT
  Q_PROPERTY(bool Mailsendreport READ Mailsendreport WRITE setMailsendreport)
  Q_PROPERTY(bool MailsendAttachment READ MailsendAttachment WRITE setMailsendAttachment)
  Q_PROPERTY(TMailTypeSend MailTypesen READ MailTypesen WRITE setMailTypesen)
  Q_PROPERTY(QString Mailrecipient READ Mailrecipient WRITE setMailrecipient)
  Q_PROPERTY(QString Mailsubject READ Mailsubject WRITE setMailsubject)
  Q_PROPERTY(QString MailMessage READ MailMessage WRITE setMailMessage)
  Q_PROPERTY(bool ActivateMLD READ ActivateMLD WRITE SetMLDActive STORED true)

public:
  enum TMailTypeSend { maOutlook };
  Q_ENUM(TMailTypeSend)

  explicit TCVVesparo(QWidget* AOwner = nullptr);
  ~TCVVesparo() override;

  bool Mailsendreport() const { return FMailsendreport; }
  bool MailsendAttachment() const { return FMailsendAttachment; }
  TMailTypeSend MailTypesen() const { return FMailTypesen; }
  QString Mailrecipient() const { return FMailrecipient; }
  QString Mailsubject() const { return FMailsubject; }
  QString MailMessage() const { return FMailMessage; }
  bool ActivateMLD() const { return FActivateMLD; }

  // Setters under the names that uic generates for stored properties. A
  // crash report takes the settings of the component that handles
  // exceptions: each change is handed on to the crash handlers at once.
  void setMailsendreport(bool Value) { FMailsendreport = Value; CrashSettingsChanged(); }
  void setMailsendAttachment(bool Value) { FMailsendAttachment = Value; CrashSettingsChanged(); }
  void setMailTypesen(TMailTypeSend Value) { FMailTypesen = Value; }
  void setMailrecipient(const QString& Value) { FMailrecipient = Value; CrashSettingsChanged(); }
  void setMailsubject(const QString& Value) { FMailsubject = Value; CrashSettingsChanged(); }
  void setMailMessage(const QString& Value) { FMailMessage = Value; CrashSettingsChanged(); }
  void setActivateMLD(bool Value) { SetMLDActive(Value); }

  // Stores the switch; installs or removes nothing.
  void SetMLDActive(bool Value);

  // How the crash helper answers the prompt of a crash report: as a user
  // does, or (unattended runs of a host, tests) by typing Comment and
  // pressing OK. Not stored with the form.
  void SetCrashPromptUnattended(bool Unattended, const QString& Comment = QString());
  bool CrashPromptUnattended() const { return FCrashPromptUnattended; }
  QString CrashPromptComment() const { return FCrashPromptComment; }

  // The crash helper's report of a crash: the same report file, prompt,
  // archive, copy and mail as for an exception. ThreadName stands for the
  // sender; the frames are rendered already; StackNote, where given,
  // follows the time of capture.
  void ReportCrash(const QString& ThreadName, const QString& ErrorType, const QString& ErrorClass,
                   const QStringList& Frames, const QString& StackNote);

  // The environment step: creates or truncates the report file and writes the
  // description of machine, application and processes. True when everything
  // was written; failures are absorbed.
  virtual bool VersionInformation();

  // The pipeline, called by the application object for each unhandled
  // exception with the object whose event was being handled. One raised
  // while a report is under way is reported after it, in order.
  void GlobalExceptionHandlerThis(QObject* Sender, const std::exception_ptr& E);

  // Appends the stack-trace section of the calling thread's last raise to
  // the report file.
  void LogTheStackTraceIncaseOfError(const QString& FileName, QString& TraceText);
  // Appends the stack-trace section of E: the stack recorded with that
  // exception object, never another's (no frames when none is known).
  void LogTheStackTraceIncaseOfError(const QString& FileName, QString& TraceText, const std::exception_ptr& E);

  // The whole file as one text, CR LF before each line; "" when unreadable.
  void ReadApplicationinfoFromFile(const QString& FileName, QString& Text);

  // The error prompt.
  void ErrorMessageBySynTask(const QString& Message, const QString& Report);

  // Mails the report to each recipient of Mailrecipient, one mail each, the
  // archive attached when MailsendAttachment is set and the file exists. A
  // recipient whose mail fails is told in a box and the next one still gets
  // its mail; a server that never answers is told once and the remaining
  // recipients are skipped; a mail program that cannot be started raises to
  // the caller. The mails go off the GUI thread under a modal progress
  // window whose Cancel stops after the mail under way; returns once
  // sending is over. Virtual so that a test can see what the prompt hands
  // over.
  virtual void EmailDoc(const QString& AttachmentPath, const QString& Comment, const QString& ReportText);

  // Fills Strings from Input split at Delimiter, by the delimited-text rule.
  void Split(QChar Delimiter, const QString& Input, StringList::TStringList& Strings);

  QString ReadRegistryValues(const QString& Key, bool CanCreate, const QString& Name, int Kind, bool CurrentUser);

protected:
  void Loaded() override;

private:
  // An exception as it arrived. What its report needs of the sender and of
  // the day is taken then (its stack travels with the exception object), so
  // that one reported later reads as if it had been reported at once,
  // though the sender be gone by then.
  struct TArrival {
    QString SenderClassName;
    std::exception_ptr E;
    QString Date;
  };
  // What one report says: the exception section, and the stack section
  // from the exception's own record, or from frames a crash helper found.
  struct TReportContent {
    HmldFormat::TExceptionSection Section;
    std::exception_ptr E;
    QStringList Frames;
    QString StackNote;
  };
  void ReportException(const TArrival& Arrival);
  // One report: environment, exception and stack sections, prompt and
  // hand-on, under the report file's lock.
  void Report(const TReportContent& Content);
  void WriteStackSection(const QString& FileName, const QStringList& Frames, QString& TraceText,
                         const QString& StackNote = QString());
  void CrashSettingsChanged();

  bool FReporting = false;
  // Shared with the report under way, which outlives the component when an
  // event of its prompt frees the form it sits on.
  std::shared_ptr<std::deque<TArrival>> FDeferred = std::make_shared<std::deque<TArrival>>();
  bool FMailsendreport = false;
  bool FMailsendAttachment = false;
  TMailTypeSend FMailTypesen = maOutlook;
  QString FMailrecipient;
  QString FMailsubject;
  QString FMailMessage;
  bool FActivateMLD = false;
  bool FCrashPromptUnattended = false;
  QString FCrashPromptComment;
};

using TMailTypeSend = TCVVesparo::TMailTypeSend;
inline constexpr TMailTypeSend maOutlook = TCVVesparo::maOutlook;

// What the error prompt shows of an exception message: the message up to
// PromptExcerptCharacters characters and PromptExcerptLines lines, then
// PromptExcerptEllipsis when there is more. The report keeps the whole
// message; the prompt stays a prompt, however long the message.
inline constexpr qsizetype PromptExcerptCharacters = 2000;
inline constexpr int PromptExcerptLines = 30;
inline constexpr QLatin1String PromptExcerptEllipsis(" ...");
QString PromptExcerpt(const QString& Message);

// The form designer's widget-box group that the package's designer plugin
// puts TCVVesparo in.
inline constexpr QLatin1String PaletteGroup("Corvane");

}  // namespace Vesparo
