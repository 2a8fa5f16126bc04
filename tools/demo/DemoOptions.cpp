#include "tools/demo/DemoOptions.h"

#include <QCommandLineParser>

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

// An option of the table: an option with a value says what the value is,
// for the error when it is missing (a switch says nothing), and where it
// goes.
struct TDemoOption {
  const char* Name;
  const char* Needs;
  void (*Apply)(TDemoOptions& Options, const QString& Value);
};

// --raise-repeated TEXT COUNT: the parser takes one value an option, so
// COUNT is the one positional argument, read once the others are in.
constexpr const char* RaiseRepeatedName = "raise-repeated";
constexpr const char* RaiseRepeatedNeeds = "a text and a count (0 or more)";

constexpr TDemoOption DemoOptionTable[] = {
  {"raise", "a message", [](TDemoOptions& O, const QString& V) { O.RaiseMessage = V; }},
  {"raise-twice", nullptr, [](TDemoOptions& O, const QString&) { O.RaiseTwice = true; }},
  {"raise-during-prompt", nullptr, [](TDemoOptions& O, const QString&) { O.RaiseDuringPrompt = true; }},
  {"inactive", nullptr, [](TDemoOptions& O, const QString&) { O.Inactive = true; }},
  {"unattended", nullptr, [](TDemoOptions& O, const QString&) { O.Unattended = true; }},
  {"comment", "a text", [](TDemoOptions& O, const QString& V) { O.Comment = V; }},
  {"mail-to", "a text", [](TDemoOptions& O, const QString& V) { O.MailTo = V; }},
  {"mail-subject", "a text", [](TDemoOptions& O, const QString& V) { O.MailSubject = V; }},
  {"mail-message", "a text", [](TDemoOptions& O, const QString& V) { O.MailMessage = V; }},
  {"mail-attach", nullptr, [](TDemoOptions& O, const QString&) { O.MailAttach = true; }},
  {"raise-in-worker", "a message", [](TDemoOptions& O, const QString& V) { O.RaiseInWorker = V; }},
  {RaiseRepeatedName, RaiseRepeatedNeeds, nullptr},
  {"crash", "one of: segv, abort, fpe, stack-overflow, terminate, qthread, external",
   [](TDemoOptions& O, const QString& V) { O.Crash = V; }},
  {"quit-when-shown", nullptr, [](TDemoOptions& O, const QString&) { O.QuitWhenShown = true; }},
};

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

QString NeedsText(const char* Name, const char* Needs)
{
  return QStringLiteral("--%1 needs %2").arg(QLatin1String(Name), QLatin1String(Needs));
}

// Why the parser refused the command line, as the demo says it: an option
// whose value is missing (only the last argument can miss one), else the
// first argument it does not know.
QString ParseError(const QCommandLineParser& Parser, const QStringList& Arguments)
{
  if (Arguments.size() > 1)
    for (const TDemoOption& Entry : DemoOptionTable)
      if (Entry.Needs && Arguments.last() == QLatin1String("--") + QLatin1String(Entry.Name))
        return NeedsText(Entry.Name, Entry.Needs);
  const QString Unknown = Parser.unknownOptionNames().value(0);
  if (Unknown.isEmpty())
    return Parser.errorText();
  // A count below 0 looks like an option to the parser.
  bool Number = false;
  Unknown.toLongLong(&Number);
  if (Number && Parser.isSet(QLatin1String(RaiseRepeatedName)))
    return NeedsText(RaiseRepeatedName, RaiseRepeatedNeeds);
  return QStringLiteral("unknown argument: %1%2").arg(QLatin1String(Unknown.size() == 1 ? "-" : "--"), Unknown);
}

// The text and count of --raise-repeated, or the error.
QString TakeRaiseRepeated(const QCommandLineParser& Parser, QStringList& Positional, TDemoOptions& Options)
{
  bool Number = false;
  const qint64 Count = Positional.isEmpty() ? 0 : Positional.takeFirst().toLongLong(&Number);
  if (!Number || Count < 0)
    return NeedsText(RaiseRepeatedName, RaiseRepeatedNeeds);
  const QString Text = WithCEscapes(Parser.value(QLatin1String(RaiseRepeatedName)));
  if (Count > 0 && Text.toUtf8().size() > MaxRepeatedBytes / Count)
    return QStringLiteral("--raise-repeated: the message would be longer than 1 GiB");
  Options.RaiseRepeated = TDemoOptions::TRepeated{Text, Count};
  return {};
}
}  // namespace

TDemoOptions ParseDemoOptions(const QStringList& Arguments)
{
  TDemoOptions Options;
  QCommandLineParser Parser;
  for (const TDemoOption& Entry : DemoOptionTable)
    Parser.addOption(QCommandLineOption(QLatin1String(Entry.Name), QString(),
                                       Entry.Needs ? QStringLiteral("value") : QString()));
  if (!Parser.parse(Arguments)) {
    Options.Error = ParseError(Parser, Arguments);
    return Options;
  }
  for (const TDemoOption& Entry : DemoOptionTable)
    if (Entry.Apply && Parser.isSet(QLatin1String(Entry.Name)))
      Entry.Apply(Options, Parser.value(QLatin1String(Entry.Name)));

  QStringList Positional = Parser.positionalArguments();
  if (Parser.isSet(QLatin1String(RaiseRepeatedName))) {
    Options.Error = TakeRaiseRepeated(Parser, Positional, Options);
    if (!Options.Error.isEmpty())
      return Options;
  }
  if (!Positional.isEmpty()) {
    Options.Error = QStringLiteral("unknown argument: %1").arg(Positional.first());
    return Options;
  }
  if (Options.Crash && !CrashKinds.contains(*Options.Crash)) {
    Options.Error = QStringLiteral("--crash needs one of: %1").arg(CrashKinds.join(QStringLiteral(", ")));
    return Options;
  }
  if (int(Options.RaiseMessage.has_value()) + int(Options.RaiseInWorker.has_value()) +
        int(Options.RaiseRepeated.has_value()) + int(Options.Crash.has_value()) + int(Options.QuitWhenShown) >
      1)
    Options.Error =
      QStringLiteral("--raise, --raise-in-worker, --raise-repeated, --crash and --quit-when-shown exclude each other");
  return Options;
}
