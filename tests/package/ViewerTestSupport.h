#pragma once
// Report files for the viewer's tests, written as the component writes them:
// CR LF after every line, single-byte text.

#include "package/HmldFormat.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <ostream>

// Texts in test messages.
inline void PrintTo(const QString& Text, std::ostream* Out) { *Out << '"' << Text.toStdString() << '"'; }

namespace ViewerTests {

inline QByteArray CrLfLines(const QStringList& Lines)
{
  return (Lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n")).toLatin1();
}

// A report file in a folder of its own that goes with the object.
class TReportFile {
public:
  explicit TReportFile(const QByteArray& Bytes, const QString& Name = QStringLiteral("app_halvern_leak_log.Hmld"))
    : FName(FDir.filePath(Name))
  {
    QFile File(FName);
    if (File.open(QIODevice::WriteOnly))
      File.write(Bytes);
  }
  explicit TReportFile(const QStringList& Lines) : TReportFile(CrLfLines(Lines)) {}
  const QString& Name() const { return FName; }

private:
  QTemporaryDir FDir;
  QString FName;
};

inline QString ProcessRow(const QString& Caption, const QString& Id, const QString& User, const QString& Domain,
                          const QString& Memory)
{
  HmldFormat::TProcessRow Row;
  Row.Caption = Caption;
  Row.ProcessId = Id;
  Row.HasOwner = !User.isEmpty() || !Domain.isEmpty();
  Row.User = User;
  Row.Domain = Domain;
  Row.WorkingSetKb = Memory;
  return HmldFormat::ProcessRow(Row);
}

inline QStringList ExceptionSection(const QString& Sender, const QString& Message, const QString& ClassName)
{
  return HmldFormat::ExceptionSectionLines(
    {Sender, QStringLiteral("app"), QStringLiteral("08/12/2026"), Message, ClassName});
}

inline QStringList StackSection(const QStringList& Frames)
{
  QStringList Lines = HmldFormat::StackSectionOpening(QStringLiteral("08/12/2026 00:10:00"));
  Lines << Frames << HmldFormat::StackSectionClosing();
  return Lines;
}

}  // namespace ViewerTests
