#pragma once
// What the viewer window shows, as text for scripts, and the command line of
// the viewer program.

#include <QString>
#include <QStringList>

namespace u_errorFileReader {
class TFrmErroReader;
}

namespace ViewerPages {

// The four pages in order, each after its caption in brackets: the lines of
// the details, every grid row from row 0 with its cells joined by a tab, the
// lines of the call stack. Lines end with LF.
QString PagesText(const u_errorFileReader::TFrmErroReader& Form);

// The existing files the program's parameter can stand for. The component
// passes the report path with "^" in place of every blank, unquoted, so each
// "^" is a blank or a "^" of the path itself; the folders are searched name
// by name. The search stops at the second file found.
QStringList ReportFilesOfParameter(const QString& Parameter);

// The report path from the program's parameter: the one existing file it
// stands for; when there is none, the parameter with every "^" a blank.
// Raises when it stands for several files: which was meant cannot be told,
// and showing another program's report as this one's is worse than none.
QString ReportPathFromParameter(const QString& Parameter);

struct TViewerCommand {
  enum TKind { Show, Print, Usage } Kind = Usage;
  QString FileName;  // Print: the file; Show: the parameter as given
};

// "FILE^PATH" shows the report, "--print FILE" prints it; anything else
// (-h, --help, an option it does not know) asks for the usage. Options come
// first: parameters from the path on, which a shell may have split apart at
// blanks, are joined again with blanks.
TViewerCommand ParseViewerCommand(const QStringList& Arguments);

inline constexpr const char* ViewerUsage =
  "usage: CorvaneViewer REPORT_PATH\n"
  "       CorvaneViewer --print FILE\n"
  "  REPORT_PATH      the report file, with \"^\" in place of every blank\n"
  "  --print FILE     write what the viewer window shows for FILE to standard output\n"
  "environment: CORVANE_VIEWER_PRINT_AND_QUIT=1 makes the window, once shown, write what it\n"
  "  shows as --print does and quit\n";

}  // namespace ViewerPages
