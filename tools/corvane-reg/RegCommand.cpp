#include "tools/corvane-reg/RegCommand.h"

#include "platform/Registry.h"
#include "platform/RegistryFile.h"
#include "tools/corvane-reg/ValueText.h"

#include <QString>

#include <optional>

namespace CorvaneReg {

namespace {

using namespace Registry;

const char* const Success = "The operation completed successfully.";
const char* const NotFound = "The system was unable to find the specified registry key or value.";

QString Usage(const QString& Operation)
{
  if (Operation == QLatin1String("add"))
    return QStringLiteral("Usage: corvane-reg add KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]");
  if (Operation == QLatin1String("query"))
    return QStringLiteral("Usage: corvane-reg query KEY [/v NAME | /ve]");
  if (Operation == QLatin1String("delete"))
    return QStringLiteral("Usage: corvane-reg delete KEY [/v NAME | /ve] [/f]");
  return QStringLiteral("Usage: corvane-reg add|query|delete KEY [options]  (corvane-reg OPERATION /? for more)");
}

// A failure reported as "ERROR: <Message>", with a usage line when the
// command line itself is at fault.
struct TFailure {
  QString Message;
  bool WithUsage = false;
};

[[noreturn]] void Syntax() { throw TFailure{QStringLiteral("Invalid syntax."), true}; }

struct TCommand {
  QString Operation;
  HKEY Root = HKEY_CURRENT_USER;
  QString KeyText;  // as shown: the full root name and the path as given
  QString Path;     // below the root, "" for the root itself
  std::optional<QString> ValueName;  // "" for /ve
  std::optional<QString> Type;
  std::optional<QString> Data;
  bool Force = false;
};

void ParseKey(const QString& Text, TCommand& Command)
{
  QString Path = Text;
  while (Path.endsWith(QLatin1Char('\\')))
    Path.chop(1);
  const qsizetype Slash = Path.indexOf(QLatin1Char('\\'));
  const QString Root = (Slash < 0 ? Path : Path.left(Slash)).toUpper();
  Path = Slash < 0 ? QString() : Path.mid(Slash + 1);
  if (Root == QLatin1String("HKCU") || Root == QLatin1String("HKEY_CURRENT_USER"))
    Command.Root = HKEY_CURRENT_USER;
  else if (Root == QLatin1String("HKLM") || Root == QLatin1String("HKEY_LOCAL_MACHINE"))
    Command.Root = HKEY_LOCAL_MACHINE;
  else
    throw TFailure{QStringLiteral("Invalid key name."), true};
  if (Path.startsWith(QLatin1Char('\\')) || Path.contains(QStringLiteral("\\\\")))
    throw TFailure{QStringLiteral("Invalid key name."), true};
  Command.Path = Path;
  Command.KeyText = (Command.Root == HKEY_LOCAL_MACHINE ? QStringLiteral("HKEY_LOCAL_MACHINE")
                                                        : QStringLiteral("HKEY_CURRENT_USER")) +
                    (Path.isEmpty() ? QString() : QLatin1Char('\\') + Path);
}

TCommand Parse(const QStringList& Arguments)
{
  TCommand Command;
  Command.Operation = Arguments.value(0).toLower();
  if (Arguments.size() < 2)
    Syntax();
  ParseKey(Arguments[1], Command);
  const bool IsAdd = Command.Operation == QLatin1String("add");
  const bool IsDelete = Command.Operation == QLatin1String("delete");
  auto Once = [](auto& Field, const QString& Value) {
    if (Field)
      Syntax();
    Field = Value;
  };
  for (qsizetype I = 2; I < Arguments.size(); ++I) {
    const QString& Argument = Arguments[I];
    if (Argument.size() < 2 || (Argument[0] != QLatin1Char('/') && Argument[0] != QLatin1Char('-')))
      Syntax();
    const QString Option = Argument.mid(1).toLower();
    const bool TakesNext = Option == QLatin1String("v") || (IsAdd && (Option == QLatin1String("t") || Option == QLatin1String("d")));
    if (TakesNext && I + 1 >= Arguments.size())
      Syntax();
    if (Option == QLatin1String("v"))
      Once(Command.ValueName, Arguments[++I]);
    else if (Option == QLatin1String("ve"))
      Once(Command.ValueName, QString(""));
    else if (IsAdd && Option == QLatin1String("t"))
      Once(Command.Type, Arguments[++I]);
    else if (IsAdd && Option == QLatin1String("d"))
      Once(Command.Data, Arguments[++I]);
    else if ((IsAdd || IsDelete) && Option == QLatin1String("f") && !Command.Force)
      Command.Force = true;
    else
      Syntax();
  }
  return Command;
}

// REG_DWORD data: decimal, or 0x and hex digits, within 32 bits.
std::uint32_t DwordData(const QString& Data)
{
  const bool Hex = Data.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
  const QString Digits = Hex ? Data.mid(2) : Data;
  bool Valid = !Digits.isEmpty();
  for (const QChar C : Digits)
    Valid = Valid && (C.isDigit() || (Hex && QStringLiteral("abcdefABCDEF").contains(C))) && C.unicode() < 0x80;
  const qulonglong Number = Valid ? Digits.toULongLong(&Valid, Hex ? 16 : 10) : 0;
  if (!Valid || Number > 0xffffffffULL)
    throw TFailure{QStringLiteral("Invalid REG_DWORD data \"%1\": give a decimal number or 0x and hex digits, "
                                  "from 0 to 4294967295 (0xffffffff).")
                     .arg(Data)};
  return std::uint32_t(Number);
}

// Why a key could not be opened: the store's problem, or "" when the key is
// simply missing.
QString StoreProblem(HKEY Root)
{
  TRegistry Reader(KEY_READ);
  Reader.SetRootKey(Root);
  try {
    Reader.GetKeyNames();
  } catch (const ERegistryException& Error) {
    return Error.Message();
  }
  return {};
}

// Opens the key for reading, or fails with the store's message or "not found".
void OpenExisting(TRegistry& Reader, const TCommand& Command)
{
  Reader.SetRootKey(Command.Root);
  if (Reader.OpenKeyReadOnly(QLatin1Char('\\') + Command.Path))
    return;
  const QString Problem = StoreProblem(Command.Root);
  throw TFailure{Problem.isEmpty() ? QString::fromLatin1(NotFound) : Problem};
}

void Add(const TCommand& Command, std::ostream& Out)
{
  const QString Type = Command.Type.value_or(QStringLiteral("REG_SZ")).toUpper();
  if (Type != QLatin1String("REG_SZ") && Type != QLatin1String("REG_DWORD"))
    throw TFailure{QStringLiteral("Unsupported type \"%1\": corvane-reg writes REG_SZ and REG_DWORD.").arg(*Command.Type)};
  // Refused before the key is made, so that a failed add changes nothing.
  const QString NameError = RegistryFile::ValueNameError(Command.ValueName.value_or(QString()));
  if (!NameError.isEmpty())
    throw TFailure{QStringLiteral("Invalid value name: %1.").arg(NameError)};
  const QString Data = Command.Data.value_or(QString());
  const std::uint32_t Number = Type == QLatin1String("REG_DWORD") ? DwordData(Command.Data.value_or(QStringLiteral("0"))) : 0;
  TRegistry Writer;
  Writer.SetRootKey(Command.Root);
  if (!Writer.OpenKey(QLatin1Char('\\') + Command.Path, true))
    throw TFailure{Writer.LastError()};
  // Data or a type without /v goes to the default value.
  if (Command.ValueName || Command.Data || Command.Type) {
    const QString Name = Command.ValueName.value_or(QString());
    if (Type == QLatin1String("REG_DWORD"))
      Writer.WriteInteger(Name, std::int32_t(Number));
    else
      Writer.WriteString(Name, Data);
  }
  Out << Success << '\n';
}

// A stream that escapes control characters when it goes to a terminal.
class TListing {
public:
  TListing(std::ostream& Out, bool Escape) : FOut(Out), FEscape(Escape) {}
  TListing& operator<<(const QString& Text)
  {
    FOut << (FEscape ? EscapedControls(Text) : Text).toStdString();
    return *this;
  }
  TListing& operator<<(const char* Text)
  {
    FOut << Text;
    return *this;
  }

private:
  std::ostream& FOut;
  bool FEscape;
};

void PrintValue(TRegistry& Reader, const QString& Name, TListing& Out)
{
  const RegistryFile::TValue Value = Reader.ReadValue(Name);
  const QString Shown = Name.isEmpty() ? QStringLiteral("(Default)") : Name;
  Out << "    " << Shown << "    " << ValueText::TypeName(Value) << "    " << ValueText::DisplayText(Value) << "\n";
}

void Query(const TCommand& Command, TListing& Out)
{
  TRegistry Reader(KEY_READ);
  OpenExisting(Reader, Command);
  if (Command.ValueName && !Reader.ValueExists(*Command.ValueName))
    throw TFailure{QString::fromLatin1(NotFound)};
  Out << "\n" << Command.KeyText << "\n";
  if (Command.ValueName) {
    // Shown as stored, whatever case it was asked for in.
    QString Name = *Command.ValueName;
    for (const QString& Stored : Reader.GetValueNames())
      if (Stored.compare(Name, Qt::CaseInsensitive) == 0)
        Name = Stored;
    PrintValue(Reader, Name, Out);
    Out << "\n";
    return;
  }
  for (const QString& Name : Reader.GetValueNames())
    PrintValue(Reader, Name, Out);
  Out << "\n";
  for (const QString& Name : Reader.GetKeyNames())
    Out << Command.KeyText + QLatin1Char('\\') + Name << "\n";
}

void Delete(const TCommand& Command, std::ostream& Out)
{
  TRegistry Reader(KEY_READ);
  OpenExisting(Reader, Command);
  TRegistry Writer;
  Writer.SetRootKey(Command.Root);
  if (Command.ValueName) {
    if (!Reader.ValueExists(*Command.ValueName))
      throw TFailure{QString::fromLatin1(NotFound)};
    if (!Writer.OpenKey(QLatin1Char('\\') + Command.Path, false))
      throw TFailure{Writer.LastError()};
    if (!Writer.DeleteValue(*Command.ValueName))
      throw TFailure{QString::fromLatin1(NotFound)};
  } else {
    if (Command.Path.isEmpty())
      throw TFailure{QStringLiteral("Invalid key name: a root key cannot be deleted.")};
    if (!Writer.DeleteKey(QLatin1Char('\\') + Command.Path))
      throw TFailure{QString::fromLatin1(NotFound)};
  }
  Out << Success << '\n';
}

}  // namespace

QString EscapedControls(const QString& Text)
{
  QString Result;
  Result.reserve(Text.size());
  for (const QChar C : Text) {
    if (C.category() != QChar::Other_Control)
      Result += C;
    else if (C == QLatin1Char('\t'))
      Result += QLatin1String("\\t");
    else if (C == QLatin1Char('\n'))
      Result += QLatin1String("\\n");
    else if (C == QLatin1Char('\r'))
      Result += QLatin1String("\\r");
    else
      Result += QStringLiteral("\\x%1").arg(C.unicode(), 2, 16, QLatin1Char('0'));
  }
  return Result;
}

int Run(const QStringList& Arguments, std::ostream& Out, std::ostream& Err, TTerminals Terminals)
{
  TListing Listing(Out, Terminals.Out);
  TListing Errors(Err, Terminals.Err);
  const QString Operation = Arguments.value(0).toLower();
  const bool Known = Operation == QLatin1String("add") || Operation == QLatin1String("query") ||
                     Operation == QLatin1String("delete");
  const QString Help = Arguments.value(Known ? 1 : 0);
  if (Help == QLatin1String("/?") || Help == QLatin1String("-?")) {
    Out << Usage(Known ? Operation : QString()).toStdString() << '\n';
    return 0;
  }
  try {
    if (!Known)
      Syntax();
    const TCommand Command = Parse(Arguments);
    if (Operation == QLatin1String("add"))
      Add(Command, Out);
    else if (Operation == QLatin1String("query"))
      Query(Command, Listing);
    else
      Delete(Command, Out);
    return 0;
  } catch (const TFailure& Failure) {
    Errors << "ERROR: " << Failure.Message << "\n";
    if (Failure.WithUsage)
      Errors << Usage(Known ? Operation : QString()) << "\n";
  } catch (const ERegistryException& Error) {
    Errors << "ERROR: " << Error.Message() << "\n";
  }
  return 1;
}

}  // namespace CorvaneReg
