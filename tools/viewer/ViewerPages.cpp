#include "tools/viewer/ViewerPages.h"

#include "hostfw/Exceptions.h"
#include "hostfw/RichEdit.h"
#include "hostfw/StringGrid.h"
#include "package/u_errorFileReader.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace ViewerPages {

namespace {
void AddGrid(QStringList& Lines, const StringGrid::TStringGrid& Grid)
{
  for (int Row = 0; Row < Grid.RowCount(); ++Row) {
    QStringList Cells;
    for (int Col = 0; Col < Grid.ColCount(); ++Col)
      Cells << Grid.Cells(Col, Row);
    Lines << Cells.join(QLatin1Char('\t'));
  }
}
}  // namespace

QString PagesText(const u_errorFileReader::TFrmErroReader& Form)
{
  QStringList Lines;
  Lines << QStringLiteral("[Application and system information]");
  Lines << Form.REBoxAppInformation()->Lines();
  Lines << QStringLiteral("[Process information]");
  AddGrid(Lines, *Form.StringGridProcessList());
  Lines << QStringLiteral("[Exception Details]");
  AddGrid(Lines, *Form.StringGridException());
  Lines << QStringLiteral("[Error call stack]");
  Lines << Form.RichEditErrorCallStack()->Lines();
  return Lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

namespace {
const QLatin1Char Caret('^');

// Whether a name found in a folder is one that an encoded name stands for.
bool StandsFor(QStringView Encoded, QStringView Name)
{
  if (Encoded.size() != Name.size())
    return false;
  for (qsizetype I = 0; I < Name.size(); ++I)
    if (Encoded[I] != Name[I] && !(Encoded[I] == Caret && Name[I] == QLatin1Char(' ')))
      return false;
  return true;
}

QString Joined(const QString& Folder, const QString& Name)
{
  if (Folder.isEmpty())
    return Name;
  return Folder.endsWith(QLatin1Char('/')) ? Folder + Name : Folder + QLatin1Char('/') + Name;
}

void Search(QString Path, const QStringList& Parts, qsizetype Next, QStringList& Found)
{
  for (; Next < Parts.size() && !Parts[Next].contains(Caret); ++Next)
    Path = Joined(Path, Parts[Next]);
  if (Next == Parts.size()) {
    const QFileInfo Info(Path);
    if (Info.exists() && !Info.isDir())
      Found << Path;
    return;
  }
  const QString& Encoded = Parts[Next];
  const QDir Folder(Path.isEmpty() ? QStringLiteral(".") : Path);
  QStringList Names =
    Folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  // A folder that may be passed but not listed: the two readings that
  // matter, all blanks and all carets.
  if (Names.isEmpty() && !Folder.isReadable())
    Names = QStringList{QString(Encoded).replace(Caret, QLatin1Char(' ')), Encoded};
  for (const QString& Name : Names) {
    if (Found.size() > 1)
      return;
    if (StandsFor(Encoded, Name))
      Search(Joined(Path, Name), Parts, Next + 1, Found);
  }
}
}  // namespace

QStringList ReportFilesOfParameter(const QString& Parameter)
{
  QStringList Found;
  if (Parameter.isEmpty())
    return Found;
  QStringList Parts = Parameter.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  Search(Parameter.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QString(), Parts, 0, Found);
  return Found;
}

QString ReportPathFromParameter(const QString& Parameter)
{
  const QStringList Found = ReportFilesOfParameter(Parameter);
  if (Found.size() > 1)
    throw Exception(QStringLiteral("The report \"%1\" cannot be told apart: both \"%2\" and \"%3\" exist. "
                                   "No report is shown.")
                      .arg(Parameter, Found[0], Found[1]));
  if (Found.size() == 1)
    return Found.first();
  return QString(Parameter).replace(Caret, QLatin1Char(' '));
}

TViewerCommand ParseViewerCommand(const QStringList& Arguments)
{
  TViewerCommand Command;
  QCommandLineParser Parser;
  const QCommandLineOption Print(QStringLiteral("print"), QString(), QStringLiteral("FILE"));
  const QCommandLineOption Help({QStringLiteral("h"), QStringLiteral("help")}, QString());
  Parser.addOptions({Print, Help});
  // Options come first: once the report path has begun, every word is part
  // of it.
  Parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
  if (!Parser.parse(QStringList{QString()} + Arguments) || Parser.isSet(Help))
    return Command;
  const QStringList Parameters = Parser.positionalArguments();
  if (Parser.isSet(Print)) {
    if (Parameters.isEmpty() && Parser.values(Print).size() == 1 && !Parser.value(Print).isEmpty()) {
      Command.Kind = TViewerCommand::Print;
      Command.FileName = Parser.value(Print);
    }
    return Command;
  }
  const QString Parameter = Parameters.join(QLatin1Char(' '));
  if (Parameter.isEmpty())
    return Command;
  Command.Kind = TViewerCommand::Show;
  Command.FileName = Parameter;
  return Command;
}

}  // namespace ViewerPages
