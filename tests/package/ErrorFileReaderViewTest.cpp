// What the viewer window shows when it opens: each text from its first line
// on, with nothing drawn selected.

#include "tests/package/ViewerTestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

using namespace ViewerTests;
using u_errorFileReader::TFrmErroReader;

TEST(ErrorFileReaderView, EachTextOpensAtItsFirstLineWithNothingDrawnSelected)
{
  const TReportFile File(FullReport());
  TFrmErroReader Form(nullptr, File.Name());
  Form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  ExpectEachTextAtItsTopWithNothingSelected(Form);
}
