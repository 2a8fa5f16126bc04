#pragma once
// What the component tests share: the application object, an answering
// machine for the modal boxes, and a component that records its passes.

#include "hostfw/Application.h"
#include "hostfw/TextFile.h"
#include "package/Vesparo.h"
#include "package/Vesparoutil.h"
#include "tests/support/QueuedClick.h"
#include "tests/support/ShownBoxes.h"

#include <QCoreApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

#include <functional>

namespace VesparoTests {

using TestSupport::TShownBoxes;

inline const QString KnownEnvironmentLine = QStringLiteral("OSName:Test machine;");

inline Application::TApplication& App() { return *Application::Instance(); }

// The environment step replaced by one known line, so that what the
// pipeline itself writes can be checked to the byte.
class TRecordingVesparo : public Vesparo::TCVVesparo {
public:
  using TCVVesparo::TCVVesparo;
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
