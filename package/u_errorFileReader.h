#pragma once
// The report viewer window: reads one report file and shows it on four pages:
// the application and system details as coloured text, the processes and the
// logged exceptions in two grids, the stack traces as text. It is built from
// its stored form description, parses the file once while it is created and
// frees itself when it is closed.

#include "hostfw/RichEdit.h"

#include <QColor>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

class QFrame;
class QTabWidget;

namespace Ui {
class TFrmErroReader;
}

namespace StringGrid {
class TStringGrid;
}

namespace u_errorFileReader {

// Parsed values; not the records of the same names that the writing side uses.
struct TapplicationInformation {
  QString ProductName;
  QString ExecutableSize;
  QString CompanyName;
  QString ExecutablePath;
  QString FileVersion;
  QString Comments;
  QString ProductVersion;
};

struct TSystemInformation {
  QString OSName;
  QString OSVersion;
  QString BuildNumber;
  QString BuildType;
  QString CodeSet;
  QString CountryCode;
  QString BootDevice;
  QString Bits;
  QString SystemDirectory;
  QString RamInUse;
  QString RamTotal;
  QString RamAvailable;
  QString SystemName;
};

struct TCPUInformation {
  QString VendorID;
  QString CPUName;
};

struct TNetworkInfo {
  QString IPAddress;
  QString MACAddress;
};

// The style of one highlight rule.
struct TTextAttributes {
  RichEdit::TFont HighlightFont;
  QColor BackColor;
};

enum TCloseAction { caNone, caHide, caFree, caMinimize };

// The file name given to the latest window's constructor.
extern QString sFileToRead;
// The last key line of an exception section was read and has not yet become
// a grid row.
extern bool bLastreached;

// The 52-character rule under each heading of the details page.
inline const QString Rule = QStringLiteral("-.").repeated(26);

class TFrmErroReader : public QWidget {
  Q_OBJECT
public:
  // A top-level window; an owner, when given, frees it with itself. Parses
  // FileName while it is created; a file that exists but cannot be read
  // raises EInOutError out of the constructor.
  TFrmErroReader(QWidget* AOwner, const QString& FileName);
  ~TFrmErroReader() override;

  const QString& FileName() const { return FFileName; }

  // The controls.
  QFrame* Panel1() const;
  QTabWidget* PageControlApplicationInformation() const;
  RichEdit::TRichEdit* REBoxAppInformation() const;
  StringGrid::TStringGrid* StringGridProcessList() const;
  StringGrid::TStringGrid* StringGridException() const;
  RichEdit::TRichEdit* RichEditErrorCallStack() const;

  // What the parse found.
  const TapplicationInformation& AppInfo() const { return FAppInfo; }
  const TSystemInformation& SysInfo() const { return FSysInfo; }
  const TCPUInformation& CpuInfo() const { return FCpuInfo; }
  const TNetworkInfo& NetInfo() const { return FNetInfo; }

  // Creation and closing.
  void FormCreate(QObject* Sender);
  void FormClose(QObject* Sender, TCloseAction& Action);

  // The parse: the line scan, then the grids and the call stack.
  void ReadApplicationInformation(const QString& FileName);
  void FillUpTheProcessList(const QString& FileName);
  void FillTheStringGridWithProcessListValues(const QString& Line, int FirstRow);
  void FillTheStringGridWithexceptionValues(const QString& Line, int FirstRow);
  void RemoveExtraBlankRowsStringGridProcessList(StringGrid::TStringGrid* Grid, int RowCount);

  // Display and colouring.
  void StringGridProcessListHeaders();
  void DisplayOnMemo();
  void setTheColor();
  void colorMyString(const QString& Text, RichEdit::TRichEdit* Edit);
  void colorOtherThings(const QString& Text, RichEdit::TRichEdit* Edit, int Kind);
  void SetTextColor(RichEdit::TRichEdit* Edit, const QString& Text, const TTextAttributes& Attributes);

protected:
  void closeEvent(QCloseEvent* Event) override;

private:
  void ApplyTaggedValues(const QString& Line);
  void ClearExceptionValues();

  std::unique_ptr<Ui::TFrmErroReader> FUi;
  QString FFileName;

  TapplicationInformation FAppInfo;
  TSystemInformation FSysInfo;
  TCPUInformation FCpuInfo;
  TNetworkInfo FNetInfo;

  QStringList ProcessLines;
  QStringList ExceptionLines;
  QStringList StackTraceLines;
  int RowCounter = 0;
  // A row of the exception grid has been written for the section being read.
  bool FExceptionRowOpen = false;
  // The exception value whose key line had no terminator: an earlier
  // writer's multi-line message, continued on the lines that follow.
  QString* FContinuedValue = nullptr;

  QString ExcClassName;
  QString ExcApplicationName;
  QString ExcDate;
  QString ExcErrorType;
  QString ExcErrorClass;
};

// The viewer window opened last. Each window frees itself when it is closed;
// this pointer then reads null rather than pointing at a freed window.
extern QPointer<TFrmErroReader> FrmErroReader;

}  // namespace u_errorFileReader
