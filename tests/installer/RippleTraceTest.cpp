// ripple-trace from outside: the numbers of a drip, the borders, its
// errors, and a bit-exact comparison with an independent model in Python.

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QStringList>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct TTrace {
  int Code = -1;
  QByteArray Out;
  QByteArray Err;
};

TTrace RunProgram(const QString& Program, const QStringList& Arguments,
                  const QProcessEnvironment& Environment = QProcessEnvironment::systemEnvironment())
{
  QProcess Process;
  Process.setProcessEnvironment(Environment);
  Process.start(Program, Arguments);
  TTrace Result;
  if (!Process.waitForFinished(120000))
    return Result;
  Result.Code = Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
  Result.Out = Process.readAllStandardOutput();
  Result.Err = Process.readAllStandardError();
  return Result;
}

TTrace Trace(const QStringList& Arguments)
{
  return RunProgram(QStringLiteral(CORVANE_BIN_DIR "/ripple-trace"), Arguments);
}

// The blocks of a trace, parsed.
struct TBlocks {
  std::vector<std::vector<int>> Read, Write;
  QList<QByteArray> Pixels;  // lines after "Pixels"
};

std::vector<std::vector<int>> Field(const QList<QByteArray>& Lines, int First)
{
  std::vector<std::vector<int>> Rows;
  for (int y = 0; y < 256; ++y) {
    std::vector<int> Row;
    for (const QByteArray& Cell : Lines[First + y].split(' '))
      Row.push_back(Cell.toInt());
    EXPECT_EQ(Row.size(), 256u) << "row " << y;
    Rows.push_back(Row);
  }
  return Rows;
}

TBlocks Parse(const QByteArray& Out)
{
  QList<QByteArray> Lines = Out.split('\n');
  EXPECT_EQ(Lines.takeLast(), QByteArray());  // ended by a line break
  TBlocks Blocks;
  if (Lines.size() < 2 * 257 + 2) {
    ADD_FAILURE() << "short trace: " << Lines.size() << " lines";
    return Blocks;
  }
  EXPECT_EQ(Lines[0], "ReadBuffer");
  EXPECT_EQ(Lines[257], "WriteBuffer");
  EXPECT_EQ(Lines[514], "Pixels");
  Blocks.Read = Field(Lines, 1);
  Blocks.Write = Field(Lines, 258);
  Blocks.Pixels = Lines.mid(515);
  return Blocks;
}

bool AllZero(const std::vector<std::vector<int>>& Rows)
{
  for (const auto& Row : Rows)
    for (int Cell : Row)
      if (Cell)
        return false;
  return true;
}

TEST(RippleTrace, OneDripOnStillWater)
{
  const TTrace Run = Trace({"--drip", "100", "100"});
  ASSERT_EQ(Run.Code, 0) << Run.Err.constData();
  const TBlocks Blocks = Parse(Run.Out);
  ASSERT_EQ(Blocks.Write.size(), 256u);
  // Rows first, then columns.
  EXPECT_EQ(Blocks.Write[100][100], 16);
  EXPECT_EQ(Blocks.Write[100][106], 8);
  EXPECT_EQ(Blocks.Write[100][111], 1);
  EXPECT_EQ(Blocks.Write[100][112], 0);
  EXPECT_EQ(Blocks.Write[112][100], 0);
  EXPECT_TRUE(AllZero(Blocks.Read));
  EXPECT_EQ(Blocks.Pixels, QList<QByteArray>{"none"});
}

TEST(RippleTrace, DripsAtAndBeyondTheEdges)
{
  const TBlocks Corner = Parse(Trace({"--drip", "0", "0"}).Out);
  ASSERT_EQ(Corner.Write.size(), 256u);
  EXPECT_EQ(Corner.Write[0][0], 16);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x)
      if (Corner.Write[y][x]) {
        ASSERT_LT(x * x + y * y, 144) << x << "," << y;
      }

  const TBlocks Beyond = Parse(Trace({"--drip", "300", "50", "--drip", "-20", "-20", "--step"}).Out);
  EXPECT_TRUE(AllZero(Beyond.Read));
  EXPECT_TRUE(AllZero(Beyond.Write));
}

TEST(RippleTrace, StillWaterStaysStill)
{
  const TBlocks Blocks = Parse(Trace({"--colour", "A0B0C0", "--steps", "6"}).Out);
  EXPECT_TRUE(AllZero(Blocks.Read));
  EXPECT_TRUE(AllZero(Blocks.Write));
  ASSERT_EQ(Blocks.Pixels.size(), 256);
  const QByteArray Row = QByteArray("A0B0C0 ").repeated(255) + "A0B0C0";
  for (const QByteArray& Line : Blocks.Pixels)
    ASSERT_EQ(Line, Row);
}

TEST(RippleTrace, BorderCellsKeepTheirValueAcrossSwaps)
{
  // The drip is in WriteBuffer; after an odd number of steps its buffer is
  // ReadBuffer, after an even number WriteBuffer again.
  const TBlocks Dripped = Parse(Trace({"--drip", "60", "1"}).Out);
  const TBlocks Odd = Parse(Trace({"--drip", "60", "1", "--steps", "3"}).Out);
  const TBlocks Even = Parse(Trace({"--drip", "60", "1", "--steps", "4"}).Out);
  ASSERT_EQ(Dripped.Write[1][60], 16);
  for (int Row : {0, 1})
    for (int x = 0; x < 256; ++x) {
      ASSERT_EQ(Odd.Read[Row][x], Dripped.Write[Row][x]) << x;
      ASSERT_EQ(Even.Write[Row][x], Dripped.Write[Row][x]) << x;
    }
  EXPECT_NE(Odd.Read[2], Dripped.Write[2]);  // row 2 is computed
}

TEST(RippleTrace, BadArgumentsAreRefusedClearly)
{
  struct TCase {
    QStringList Arguments;
    const char* Says;
  };
  const std::vector<TCase> Cases = {
      {{"--drip", "1"}, "--drip needs 2 value(s)"},
      {{"--drip", "x", "1"}, "X of --drip must be an integer"},
      {{"--steps", "-1"}, "N of --steps must be an integer from 0"},
      {{"--steps", "99999999999"}, "N of --steps must be an integer from 0"},
      {{"--steps"}, "--steps needs 1 value(s)"},
      {{"--colour", "FFF"}, "--colour takes six hex digits RRGGBB"},
      {{"--colour", "12345G"}, "--colour takes six hex digits RRGGBB"},
      {{"--colour", "+12345"}, "--colour takes six hex digits RRGGBB"},
      {{"--stepp"}, "unknown argument \"--stepp\""},
      {{"--step", ""}, "unknown argument \"\""},
  };
  for (const TCase& Case : Cases) {
    const TTrace Run = Trace(Case.Arguments);
    EXPECT_EQ(Run.Code, 2) << Case.Says;
    EXPECT_TRUE(Run.Out.isEmpty()) << Case.Says;
    EXPECT_TRUE(Run.Err.contains(Case.Says)) << Run.Err.constData();
    EXPECT_TRUE(Run.Err.contains("usage: ripple-trace")) << Case.Says;
  }
}

// A base picture of the wrong size beside the program is reported and
// replaced by the plain base; the ripple runs all the same.
TEST(RippleTrace, WrongSizedArtworkStillRipples)
{
  QTemporaryDir Dir;
  const QString Copy = Dir.filePath("ripple-trace");
  ASSERT_TRUE(QFile::copy(QStringLiteral(CORVANE_BIN_DIR "/ripple-trace"), Copy));
  ASSERT_TRUE(QImage(100, 50, QImage::Format_RGB32).save(Dir.filePath("Reflect.bmp"), "BMP"));
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert("QT_LOGGING_RULES", "corvane.installer.warning=true");
  const QStringList Arguments = {"--drip", "128", "128", "--steps", "2"};
  const TTrace Beside = RunProgram(Copy, Arguments, Environment);
  ASSERT_EQ(Beside.Code, 0) << Beside.Err.constData();
  EXPECT_TRUE(Beside.Err.contains("is 100 x 50 pixels, not 256 x 256")) << Beside.Err.constData();
  EXPECT_TRUE(Beside.Out == Trace(Arguments).Out);
}

// Drips near every edge, overlapping drips, colour changes between steps,
// and drips fed every step until cells wrap past 127.
TEST(RippleTrace, MatchesAnIndependentModelBitForBit)
{
  QStringList Arguments = {"--colour", "3366CC", "--drip", "100", "100", "--steps", "3",
                           "--drip", "106", "97", "--drip", "0", "0", "--step",
                           "--drip", "250", "3", "--drip", "2", "254", "--colour", "10E0FF",
                           "--steps", "2", "--drip", "300", "50"};
  for (int n = 0; n < 10; ++n)
    Arguments << "--drip" << "60" << "60" << "--drip" << "66" << "60" << "--step";
  const TTrace Ours = Trace(Arguments);
  ASSERT_EQ(Ours.Code, 0) << Ours.Err.constData();
  const TTrace Model = RunProgram(QStringLiteral("python3"),
                           QStringList{QStringLiteral(CORVANE_SOURCE_DIR "/tests/installer/ripple_model.py")} + Arguments);
  ASSERT_EQ(Model.Code, 0) << Model.Err.constData();
  ASSERT_EQ(Ours.Out.size(), Model.Out.size());
  EXPECT_TRUE(Ours.Out == Model.Out) << "first difference at byte "
                                     << std::mismatch(Ours.Out.begin(), Ours.Out.end(), Model.Out.begin()).first - Ours.Out.begin();
  // The feed drives cells past a byte, so the wrap is part of what matched.
  EXPECT_FALSE(Model.Err.contains("wrapped 0\n")) << Model.Err.constData();
  EXPECT_TRUE(Model.Err.contains("wrapped ")) << Model.Err.constData();
}

}  // namespace
