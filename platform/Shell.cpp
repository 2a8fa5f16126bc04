#include "platform/Shell.h"

#include "platform/Processes.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <optional>

namespace Shell {

namespace {

// A single argument may not exceed this on Linux (MAX_ARG_STRLEN).
constexpr qint64 MaxScriptSize = 128 * 1024 - 1;

// A batch file's lines end in CR LF; the shell would take the CR as part of
// the line's last word, so it gets the lines without it. Empty when the
// file cannot be read whole or is too large to hand over.
std::optional<QString> BatchScript(const QString& File)
{
  QFile Batch(File);
  if (!Batch.open(QIODevice::ReadOnly) || Batch.size() > MaxScriptSize)
    return std::nullopt;
  QByteArray Text = Batch.readAll();
  if (Batch.error() != QFileDevice::NoError || Text.contains('\0'))
    return std::nullopt;
  Text.replace("\r\n", "\n");
  if (Text.endsWith('\r'))
    Text.chop(1);
  return QString::fromLocal8Bit(Text);
}

bool IsBatch(const QFileInfo& File) { return File.suffix().compare(QLatin1String("bat"), Qt::CaseInsensitive) == 0; }

int StartBatch(const QFileInfo& Target, const QStringList& Arguments, const QString& Directory, const QString& Log)
{
  const std::optional<QString> Script = BatchScript(Target.absoluteFilePath());
  if (!Script)
    return SE_ERR_ACCESSDENIED;
  // $0 is the batch file, as when sh runs it by name.
  return Processes::StartDetached(QStringLiteral("/bin/sh"),
                                  QStringList{QStringLiteral("-c"), *Script, Target.absoluteFilePath()} + Arguments,
                                  Directory, Log)
           ? SE_OK
           : SE_ERR_ACCESSDENIED;
}

}  // namespace

int RunBatch(const QString& File, const QString& Directory, const QString& Log)
{
  const QFileInfo Target(File);
  if (File.isEmpty() || !Target.exists())
    return SE_ERR_FNF;
  if (!IsBatch(Target))
    return SE_ERR_NOASSOC;
  return StartBatch(Target, {}, Directory, Log);
}

int ShellExecute(const void* Owner, const QString& Operation, const QString& File, const QString& Parameters,
                 const QString& Directory, int ShowCmd)
{
  Q_UNUSED(Owner);
  Q_UNUSED(ShowCmd);
  if (!Operation.isEmpty() && Operation.compare(QLatin1String("open"), Qt::CaseInsensitive) != 0)
    return SE_ERR_NOASSOC;
  const QFileInfo Target(File);
  if (File.isEmpty() || !Target.exists())
    return SE_ERR_FNF;
  const QStringList Arguments = Parameters.isEmpty() ? QStringList() : QStringList{Parameters};

  if (IsBatch(Target))
    return StartBatch(Target, Arguments, Directory, QString());
  bool Started = false;
  if (Target.isFile() && Target.isExecutable())
    Started = Processes::StartDetached(Target.absoluteFilePath(), Arguments, Directory);
  else
    Started = Processes::StartDetached(QStringLiteral("xdg-open"), QStringList{Target.absoluteFilePath()}, Directory);
  return Started ? SE_OK : SE_ERR_ACCESSDENIED;
}

}  // namespace Shell
