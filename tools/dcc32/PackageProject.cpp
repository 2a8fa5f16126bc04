#include "tools/dcc32/PackageProject.h"

#include <QDir>
#include <QRegularExpression>

namespace PackageProject {

namespace {

struct TToken {
  enum TKind { Word, Text, Directive, Symbol, End } Kind;
  QString Value;
  int Line;
};

class TLexer {
public:
  explicit TLexer(const QString& Text) : FText(Text) {}

  TToken Next()
  {
    SkipBlanks();
    if (FPos >= FText.size())
      return {TToken::End, {}, FLine};
    const QChar C = FText[FPos];
    const int Line = FLine;
    if (C == QLatin1Char('{') && Peek(1) == QLatin1Char('$')) {
      const qsizetype Close = FText.indexOf(QLatin1Char('}'), FPos);
      if (Close < 0)
        throw EProjectError(Line, QStringLiteral("Unterminated directive"));
      const QString Body = FText.mid(FPos + 2, Close - FPos - 2);
      Advance(Close + 1 - FPos);
      return {TToken::Directive, Body.trimmed(), Line};
    }
    if (C == QLatin1Char('\'')) {
      QString Value;
      Advance(1);
      for (;;) {
        if (FPos >= FText.size() || FText[FPos] == QLatin1Char('\n'))
          throw EProjectError(Line, QStringLiteral("Unterminated string"));
        if (FText[FPos] == QLatin1Char('\'')) {
          if (Peek(1) != QLatin1Char('\'')) {
            Advance(1);
            break;
          }
          Advance(1);  // '' is one quote
        }
        Value += FText[FPos];
        Advance(1);
      }
      return {TToken::Text, Value, Line};
    }
    if (C.isLetter() || C == QLatin1Char('_')) {
      const qsizetype Start = FPos;
      while (FPos < FText.size() && (FText[FPos].isLetterOrNumber() || FText[FPos] == QLatin1Char('_') ||
                                     FText[FPos] == QLatin1Char('.')))
        Advance(1);
      QString Value = FText.mid(Start, FPos - Start);
      // "end." ends the project; the dot is not part of the word
      if (Value.endsWith(QLatin1Char('.'))) {
        Value.chop(1);
        --FPos;
      }
      return {TToken::Word, Value, Line};
    }
    Advance(1);
    return {TToken::Symbol, QString(C), Line};
  }

private:
  QChar Peek(int Offset) const
  {
    return FPos + Offset < FText.size() ? FText[FPos + Offset] : QChar();
  }
  void Advance(qsizetype Count)
  {
    for (qsizetype I = 0; I < Count && FPos < FText.size(); ++I, ++FPos)
      if (FText[FPos] == QLatin1Char('\n'))
        ++FLine;
  }
  void SkipComment(const QString& Close, int Line)
  {
    const qsizetype End = FText.indexOf(Close, FPos);
    if (End < 0)
      throw EProjectError(Line, QStringLiteral("Unterminated comment"));
    Advance(End + Close.size() - FPos);
  }
  void SkipBlanks()
  {
    while (FPos < FText.size()) {
      const QChar C = FText[FPos];
      if (C.isSpace())
        Advance(1);
      else if (C == QLatin1Char('/') && Peek(1) == QLatin1Char('/'))
        SkipComment(QStringLiteral("\n"), FLine);
      else if (C == QLatin1Char('{') && Peek(1) != QLatin1Char('$'))
        SkipComment(QStringLiteral("}"), FLine);
      else if (C == QLatin1Char('(') && Peek(1) == QLatin1Char('*'))
        SkipComment(QStringLiteral("*)"), FLine);
      else
        return;
    }
  }

  const QString& FText;
  qsizetype FPos = 0;
  int FLine = 1;
};

bool IsWord(const TToken& Token, const char* Word)
{
  return Token.Kind == TToken::Word && Token.Value.compare(QLatin1String(Word), Qt::CaseInsensitive) == 0;
}
bool IsSymbol(const TToken& Token, char Symbol) { return Token.Kind == TToken::Symbol && Token.Value == QLatin1Char(Symbol); }

[[noreturn]] void Expected(const TToken& Token, const QString& What)
{
  const QString Found = Token.Kind == TToken::End ? QStringLiteral("end of file") : QLatin1Char('\'') + Token.Value + QLatin1Char('\'');
  throw EProjectError(Token.Line, QStringLiteral("%1 expected but %2 found").arg(What, Found));
}

class TParser {
public:
  explicit TParser(const QString& Text) : FLexer(Text) { Take(); }

  TPackageProject Project()
  {
    TPackageProject Project;
    Directives(Project);
    if (!IsWord(FToken, "package"))
      Expected(FToken, QStringLiteral("'package'"));
    Take();
    Directives(Project);
    Project.Name = Name();
    Semicolon(Project);
    for (;;) {
      if (IsWord(FToken, "requires")) {
        Take();
        Directives(Project);
        do {
          Project.Requires << Name();
        } while (Comma(Project));
        Semicolon(Project);
      } else if (IsWord(FToken, "contains")) {
        Take();
        Directives(Project);
        do {
          TUnit Unit;
          Unit.Name = Name();
          if (!IsWord(FToken, "in"))
            Expected(FToken, QStringLiteral("'in'"));
          Take();
          if (FToken.Kind != TToken::Text || FToken.Value.isEmpty())
            Expected(FToken, QStringLiteral("file name"));
          Unit.File = FToken.Value;
          CheckFile(Unit.File, FToken.Line);
          Take();
          Project.Contains << Unit;
        } while (Comma(Project));
        Semicolon(Project);
      } else if (IsWord(FToken, "end")) {
        Take();
        if (!IsSymbol(FToken, '.'))
          Expected(FToken, QStringLiteral("'.'"));
        break;
      } else {
        Expected(FToken, QStringLiteral("'requires', 'contains' or 'end'"));
      }
    }
    if (Project.Contains.isEmpty())
      throw EProjectError(FToken.Line, QStringLiteral("Package %1 contains no units").arg(Project.Name));
    return Project;
  }

private:
  void Take() { FToken = FLexer.Next(); }

  void Directives(TPackageProject& Project)
  {
    while (FToken.Kind == TToken::Directive) {
      const QString Name = FToken.Value.section(QLatin1Char(' '), 0, 0).toUpper();
      const QString Argument = FToken.Value.section(QLatin1Char(' '), 1).trimmed();
      if (Name == QLatin1String("DEFINE")) {
        static const QRegularExpression Identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
        if (!Identifier.match(Argument).hasMatch())
          throw EProjectError(FToken.Line, QStringLiteral("Invalid symbol in $DEFINE: %1").arg(Argument));
        Project.Defines << Argument;
      } else if (Name == QLatin1String("DESCRIPTION")) {
        Project.Description = Argument;
        if (Project.Description.size() >= 2 && Project.Description.startsWith(QLatin1Char('\'')) &&
            Project.Description.endsWith(QLatin1Char('\'')))
          Project.Description = Project.Description.mid(1, Project.Description.size() - 2).replace(QStringLiteral("''"), QStringLiteral("'"));
      }
      // other directives ($R, $IMPLICITBUILD, ...) mean nothing here
      Take();
    }
  }

  QString Name()
  {
    static const QRegularExpression Identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_.]*$"));
    if (FToken.Kind != TToken::Word || !Identifier.match(FToken.Value).hasMatch())
      Expected(FToken, QStringLiteral("Identifier"));
    const QString Value = FToken.Value;
    Take();
    return Value;
  }

  bool Comma(TPackageProject& Project)
  {
    if (!IsSymbol(FToken, ','))
      return false;
    Take();
    Directives(Project);
    return true;
  }

  void Semicolon(TPackageProject& Project)
  {
    if (!IsSymbol(FToken, ';'))
      Expected(FToken, QStringLiteral("';'"));
    Take();
    Directives(Project);
  }

  // A unit's file lies in the project's folder or below it.
  static void CheckFile(const QString& File, int Line)
  {
    const QString Clean = QDir::cleanPath(File);
    if (QDir::isAbsolutePath(Clean) || Clean == QLatin1String("..") || Clean.startsWith(QLatin1String("../")) ||
        File.contains(QLatin1Char('\\')) || File.contains(QLatin1Char('"')) || File.contains(QLatin1Char(';')))
      throw EProjectError(Line, QStringLiteral("File name not allowed here: '%1'").arg(File));
  }

  TLexer FLexer;
  TToken FToken{TToken::End, {}, 1};
};

QString Unquoted(QString Value)
{
  Value = Value.trimmed();
  if (Value.size() >= 2 && Value.startsWith(QLatin1Char('"')) && Value.endsWith(QLatin1Char('"')))
    Value = Value.mid(1, Value.size() - 2);
  return Value;
}

}  // namespace

TPackageProject Parse(const QString& Text) { return TParser(Text).Project(); }

TSearchFolders ReadConfiguration(const QString& Text, const QString& BaseFolder)
{
  TSearchFolders Folders;
  const QDir Base(BaseFolder);
  for (const QString& RawLine : Text.split(QLatin1Char('\n'))) {
    const QString Line = RawLine.trimmed();
    if (Line.size() < 3 || Line[0] != QLatin1Char('-'))
      continue;
    const QChar Option = Line[1].toLower();
    if (!QStringLiteral("uiro").contains(Option))
      continue;
    // "-u" may name several folders, separated by ";"
    for (const QString& Piece : Unquoted(Line.mid(2)).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString Folder = QDir::cleanPath(Base.absoluteFilePath(Unquoted(Piece)));
      if (Option == QLatin1Char('u') || Option == QLatin1Char('i') || Option == QLatin1Char('r'))
        if (!Folders.Headers.contains(Folder))
          Folders.Headers << Folder;
      if (Option == QLatin1Char('u') || Option == QLatin1Char('o'))
        if (!Folders.Libraries.contains(Folder))
          Folders.Libraries << Folder;
    }
  }
  return Folders;
}

}  // namespace PackageProject
