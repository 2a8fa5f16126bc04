#include "tools/demo/DemoOptions.h"

int TDemoOptions::RequestedRaises() const
{
  if (RaiseDuringPrompt || RaiseTwice)
    return 2;
  return RaiseMessage || RaiseInWorker || RaiseRepeated ? 1 : 0;
}

namespace {
// The longest message --raise-repeated makes: beyond it the demo would only
// measure the machine's memory.
constexpr qint64 MaxRepeatedBytes = qint64(1) << 30;

QString WithCEscapes(const QString& Text)
{
  QString Result;
  for (qsizetype I = 0; I < Text.size(); ++I) {
    const QChar Next = I + 1 < Text.size() ? Text[I + 1] : QChar();
    if (Text[I] != QLatin1Char('\\') || !QStringLiteral("nrt\\").contains(Next) || Next.isNull()) {
      Result += Text[I];
      continue;
    }
    Result += Next == QLatin1Char('n') ? QLatin1Char('\n')
              : Next == QLatin1Char('r') ? QLatin1Char('\r')
              : Next == QLatin1Char('t') ? QLatin1Char('\t')
                                         : QLatin1Char('\\');
    ++I;
  }
  return Result;
}
}  // namespace

TDemoOptions ParseDemoOptions(const QStringList& Arguments)
{
  TDemoOptions Options;
  for (int I = 1; I < Arguments.size(); ++I) {
    const QString& Argument = Arguments[I];
    if (Argument == QLatin1String("--raise")) {
      if (I + 1 >= Arguments.size()) {
        Options.Error = QStringLiteral("--raise needs a message");
        return Options;
      }
      Options.RaiseMessage = Arguments[++I];
    } else if (Argument == QLatin1String("--raise-twice")) {
      Options.RaiseTwice = true;
    } else if (Argument == QLatin1String("--raise-during-prompt")) {
      Options.RaiseDuringPrompt = true;
    } else if (Argument == QLatin1String("--inactive")) {
      Options.Inactive = true;
    } else if (Argument == QLatin1String("--unattended")) {
      Options.Unattended = true;
    } else if (Argument == QLatin1String("--mail-attach")) {
      Options.MailAttach = true;
    } else if (Argument == QLatin1String("--mail-to") || Argument == QLatin1String("--mail-subject") ||
               Argument == QLatin1String("--mail-message")) {
      if (I + 1 >= Arguments.size()) {
        Options.Error = QStringLiteral("%1 needs a text").arg(Argument);
        return Options;
      }
      const QString& Text = Arguments[++I];
      if (Argument == QLatin1String("--mail-to"))
        Options.MailTo = Text;
      else if (Argument == QLatin1String("--mail-subject"))
        Options.MailSubject = Text;
      else
        Options.MailMessage = Text;
    } else if (Argument == QLatin1String("--raise-in-worker")) {
      if (I + 1 >= Arguments.size()) {
        Options.Error = QStringLiteral("--raise-in-worker needs a message");
        return Options;
      }
      Options.RaiseInWorker = Arguments[++I];
    } else if (Argument == QLatin1String("--raise-repeated")) {
      bool Number = false;
      const qint64 Count = I + 2 < Arguments.size() ? Arguments[I + 2].toLongLong(&Number) : 0;
      if (!Number || Count < 0) {
        Options.Error = QStringLiteral("--raise-repeated needs a text and a count (0 or more)");
        return Options;
      }
      const QString Text = WithCEscapes(Arguments[I + 1]);
      if (Count > 0 && Text.toUtf8().size() > MaxRepeatedBytes / Count) {
        Options.Error = QStringLiteral("--raise-repeated: the message would be longer than 1 GiB");
        return Options;
      }
      Options.RaiseRepeated = TDemoOptions::TRepeated{Text, Count};
      I += 2;
    } else if (Argument == QLatin1String("--crash")) {
      if (I + 1 >= Arguments.size() || !CrashKinds.contains(Arguments[I + 1])) {
        Options.Error = QStringLiteral("--crash needs one of: %1").arg(CrashKinds.join(QStringLiteral(", ")));
        return Options;
      }
      Options.Crash = Arguments[++I];
    } else if (Argument == QLatin1String("--quit-when-shown")) {
      Options.QuitWhenShown = true;
    } else if (Argument == QLatin1String("--comment")) {
      if (I + 1 >= Arguments.size()) {
        Options.Error = QStringLiteral("--comment needs a text");
        return Options;
      }
      Options.Comment = Arguments[++I];
    } else {
      Options.Error = QStringLiteral("unknown argument: %1").arg(Argument);
      return Options;
    }
  }
  if (int(Options.RaiseMessage.has_value()) + int(Options.RaiseInWorker.has_value()) +
        int(Options.RaiseRepeated.has_value()) + int(Options.Crash.has_value()) + int(Options.QuitWhenShown) >
      1)
    Options.Error =
      QStringLiteral("--raise, --raise-in-worker, --raise-repeated, --crash and --quit-when-shown exclude each other");
  return Options;
}
