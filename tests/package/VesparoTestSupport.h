#pragma once
// What the component tests share: the application object, an answering
// machine for the modal boxes, and a component that records its passes.

#include "hostfw/Application.h"
#include "hostfw/TextFile.h"
#include "package/Vesparo.h"
#include "package/SynZip.h"
#include "package/Vesparoutil.h"
#include "tests/support/QueuedClick.h"
#include "tests/support/ShownBoxes.h"
#include "tests/support/TempEnvironment.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>

#include <functional>

namespace VesparoTests {

using TestSupport::TShownBoxes;

inline const QString KnownEnvironmentLine = QStringLiteral("OSName:Test machine;");

inline Application::TApplication& App() { return *Application::Instance(); }

// Every pass leaves a copy of its archive in the "bugreport" folder beside
// the test program, shared by every test program there. Removes the copies
// whose report names the current data folder (a test's own temporary one).
inline void RemoveBugReportCopies()
{
  const QByteArray DataFolder = Vesparoutil::DataFolderPath().toLatin1();
  const QDir Copies(Vesparoutil::ExtractFilePath(Vesparoutil::ApplicationExeName()) + QStringLiteral("bugreport"));
  for (const QString& Name : Copies.entryList({QStringLiteral("bugReport_*.zip")}, QDir::Files)) {
    try {
      const SynZip::TZipRead Copy(Copies.filePath(Name));
      bool Ours = false;
      for (int I = 0; I < Copy.Count() && !Ours; ++I)
        Ours = Copy.Entry(I).zipName.endsWith(Vesparoutil::ReportFileSuffix) && Copy.UnZip(I).contains(DataFolder);
      if (Ours)
        QFile::remove(Copies.filePath(Name));
    } catch (const Exception&) {
      // Not an archive of ours.
    }
  }
}

// The environment step replaced by one known line, so that what the
// pipeline itself writes can be checked to the byte.
class TRecordingVesparo : public Vesparo::TCVVesparo {
public:
  using TCVVesparo::TCVVesparo;
  ~TRecordingVesparo() override { RemoveBugReportCopies(); }
  int Passes = 0;
  bool VersionInformation() override
  {
    ++Passes;
    Vesparoutil::ForceDataFolder(Vesparoutil::DataFolderPath());
    TextFile::TTextFile Report(Vesparoutil::FullHmldFilePath());
    Report.Rewrite();
    Report.WriteLn(KnownEnvironmentLine);
    Report.Close();
    return true;
  }
};

// A button whose click handler throws what Raise throws.
struct TRaisingButton {
  QPushButton Button;
  explicit TRaisingButton(std::function<void()> Raise)
  {
    QObject::connect(&Button, &QPushButton::clicked, &Button, std::move(Raise));
  }
  void Click() { TestSupport::ClickThroughEventLoop(Button); }
};

}  // namespace VesparoTests
