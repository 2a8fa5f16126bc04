#pragma once
// What the task-dialog and prompt tests share: a private data folder with a
// report for the hand-off to complete, and a way to meet the dialog while it
// is on screen.

#include "package/Vesparoutil.h"
#include "tests/package/TaskDialogOnScreen.h"
#include "tests/package/VesparoTestSupport.h"
#include "tests/support/TempEnvironment.h"

#include <gtest/gtest.h>

namespace TaskDialogTests {

// A data folder of the test's own, with a report file in it.
class TWithReport : public ::testing::Test {
protected:
  void SetUp() override
  {
    Vesparoutil::ForceDataFolder(Vesparoutil::DataFolderPath());
    TestSupport::WriteAll(ReportPath(), "report\r\n");
    Vesparoutil::sJpegFileName.clear();
    Vesparoutil::sZipFileName.clear();
    Vesparoutil::sZipFileNameForMailing.clear();
  }
  void TearDown() override { VesparoTests::RemoveBugReportCopies(); }
  static QString ReportPath() { return Vesparoutil::FullHmldFilePath(); }

  TestSupport::TTempEnvironment Env;
};

}  // namespace TaskDialogTests
