#include "tools/viewer/ViewerPages.h"

#include "hostfw/RichEdit.h"
#include "hostfw/StringGrid.h"
#include "package/u_errorFileReader.h"

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

QString ReportPathFromParameter(const QString& Parameter)
{
  QString Path = Parameter;
  return Path.replace(QLatin1Char('^'), QLatin1Char(' '));
}

TViewerCommand ParseViewerCommand(const QStringList& Arguments)
{
  TViewerCommand Command;
  if (Arguments.isEmpty())
    return Command;
  if (Arguments.first() == QLatin1String("--print")) {
    if (Arguments.size() == 2 && !Arguments[1].isEmpty()) {
      Command.Kind = TViewerCommand::Print;
      Command.FileName = Arguments[1];
    }
    return Command;
  }
  if (Arguments.first() == QLatin1String("--help") || Arguments.first() == QLatin1String("-h"))
    return Command;
  const QString Parameter = Arguments.join(QLatin1Char(' '));
  if (Parameter.isEmpty())
    return Command;
  Command.Kind = TViewerCommand::Show;
  Command.FileName = ReportPathFromParameter(Parameter);
  return Command;
}

}  // namespace ViewerPages
