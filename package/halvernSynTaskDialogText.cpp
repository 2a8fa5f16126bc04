// Text helpers of the task dialog: line breaks, hints, line lists.

#include "package/halvernSynTaskDialogInternal.h"

#include <QRegularExpression>

namespace halvernSynTaskDialog {

QString CR(const QString& Text)
{
  if (!Text.contains(QLatin1String("\\n")))
    return Text;
  QString Result = Text;
  return Result.replace(QLatin1String("\\n"), QLatin1String("\n"));
}

QString N(const QString& Text) { return Text.isEmpty() ? QString() : CR(Text); }

QString NoCR(const QString& Line, QString& Hint)
{
  const qsizetype Break = Line.indexOf(QLatin1String("\\n"));
  if (Break < 0) {
    Hint.clear();
    return Line;
  }
  Hint = CR(Line.mid(Break + 2));
  return Line.left(Break);
}

QString GetNextStringLineToWS(const QString& Text, qsizetype& Pos)
{
  const qsizetype Start = Pos;
  while (Pos < Text.size() && Text[Pos].unicode() >= 32)
    ++Pos;
  const QString Line = CR(Text.mid(Start, Pos - Start));
  while (Pos < Text.size() && Text[Pos].unicode() < 32 && Text[Pos].unicode() != 0)
    ++Pos;
  return Line;
}

QString UnAmp(const QString& Text)
{
  QString Result = Text;
  return Result.remove(QLatin1Char('&'));
}

QStringList Lines(const QString& Text)
{
  if (Text.isEmpty())
    return {};
  static const QRegularExpression Break(QStringLiteral("\r\n|\r|\n"));
  QStringList Result = Text.split(Break);
  if (Result.size() > 1 && Result.last().isEmpty())
    Result.removeLast();
  return Result;
}

QString Displayed(const QString& Text)
{
  QString Result = Text;
  Result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  Result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return Result;
}

}  // namespace halvernSynTaskDialog
