// ripple-trace: runs the installer's ripple banner from the command line and
// prints its fields, so that the simulation can be checked from outside.
//
//   ripple-trace [--drip X Y | --step | --steps N | --colour RRGGBB]...
//
// The arguments are applied in order, starting from still water: --drip is a
// mouse press and release at (X, Y), --step one step painted with the ripple
// colour (white unless --colour set another), --steps N that many. Printed:
// "ReadBuffer" and "WriteBuffer", each followed by 256 rows of 256 signed
// cells, then "Pixels" and 256 rows of 256 RRGGBB values (the picture after
// the last step), or "Pixels" and "none" when no step ran.

#include "hostfw/Image.h"
#include "installer/u_rippleEffect.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace {

using namespace u_rippleEffect;

struct TDrip {
  int X;
  int Y;
};
struct TSteps {
  long long Count;
};
struct TColour {
  TColor Value;
};
using TAction = std::variant<TDrip, TSteps, TColour>;

constexpr const char* Usage =
    "usage: ripple-trace [--drip X Y | --step | --steps N | --colour RRGGBB]...\n";

// Thrown for a bad command line; the text names what was wrong.
struct TUsageError {
  std::string Text;
};

long long ParseInteger(const QString& Text, const char* What, long long Lowest, long long Highest)
{
  bool Ok = false;
  const long long Value = Text.toLongLong(&Ok);
  if (!Ok || Value < Lowest || Value > Highest)
    throw TUsageError{std::string(What) + " must be an integer from " + std::to_string(Lowest) + " to " +
                      std::to_string(Highest) + ", not \"" + Text.toStdString() + "\""};
  return Value;
}

TColor ParseColour(const QString& Text)
{
  bool Ok = Text.size() == 6;
  for (const QChar c : Text)
    Ok = Ok && ((c >= u'0' && c <= u'9') || (c.toLower() >= u'a' && c.toLower() <= u'f'));
  if (!Ok)
    throw TUsageError{"--colour takes six hex digits RRGGBB, not \"" + Text.toStdString() + "\""};
  const unsigned Rgb = Text.toUInt(nullptr, 16);
  // Red in the lowest byte, as the ripple colour is given.
  return ((Rgb >> 16) & 0xFF) | (Rgb & 0xFF00) | ((Rgb & 0xFF) << 16);
}

std::vector<TAction> ParseArguments(const QStringList& Arguments)
{
  constexpr long long IntMax = std::numeric_limits<int>::max();
  std::vector<TAction> Actions;
  for (qsizetype n = 1; n < Arguments.size(); ++n) {
    const QString& Argument = Arguments[n];
    const auto Value = [&](int Ahead) -> const QString& {
      if (n + Ahead >= Arguments.size())
        throw TUsageError{Argument.toStdString() + " needs " + std::to_string(Ahead) + " value(s)"};
      return Arguments[n + Ahead];
    };
    if (Argument == QLatin1String("--drip")) {
      const int X = static_cast<int>(ParseInteger(Value(1), "X of --drip", -IntMax / 2, IntMax / 2));
      const int Y = static_cast<int>(ParseInteger(Value(2), "Y of --drip", -IntMax / 2, IntMax / 2));
      Actions.emplace_back(TDrip{X, Y});
      n += 2;
    } else if (Argument == QLatin1String("--step")) {
      Actions.emplace_back(TSteps{1});
    } else if (Argument == QLatin1String("--steps")) {
      Actions.emplace_back(TSteps{ParseInteger(Value(1), "N of --steps", 0, IntMax)});
      n += 1;
    } else if (Argument == QLatin1String("--colour")) {
      Actions.emplace_back(TColour{ParseColour(Value(1))});
      n += 1;
    } else {
      throw TUsageError{"unknown argument \"" + Argument.toStdString() + "\""};
    }
  }
  return Actions;
}

void AppendField(std::string& Out, const char* Name, const TBuffer& Field)
{
  Out += Name;
  Out += '\n';
  for (int y = 0; y < GridSize; ++y) {
    for (int x = 0; x < GridSize; ++x) {
      if (x)
        Out += ' ';
      Out += std::to_string(InBuffer(Field, x, y));
    }
    Out += '\n';
  }
}

void AppendPixels(std::string& Out, const QImage* Picture)
{
  Out += "Pixels\n";
  if (!Picture) {
    Out += "none\n";
    return;
  }
  static constexpr char Hex[] = "0123456789ABCDEF";
  for (int y = 0; y < GridSize; ++y) {
    const uchar* Line = Picture->constScanLine(y);
    for (int x = 0; x < GridSize; ++x) {
      if (x)
        Out += ' ';
      // Stored blue, green, red, reserved.
      for (int Byte : {2, 1, 0}) {
        Out += Hex[Line[4 * x + Byte] >> 4];
        Out += Hex[Line[4 * x + Byte] & 0xF];
      }
    }
    Out += '\n';
  }
}

}  // namespace

int main(int argc, char* argv[])
{
  // Nothing is shown; the banner control only needs a widget application.
  std::vector<TAction> Actions;
  try {
    QStringList Arguments;
    for (int n = 0; n < argc; ++n)
      Arguments << QString::fromLocal8Bit(argv[n]);
    Actions = ParseArguments(Arguments);
  } catch (const TUsageError& Error) {
    std::fprintf(stderr, "ripple-trace: %s\n%s", Error.Text.c_str(), Usage);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication App(argc, argv);

  Image::TImage Banner;
  Banner.resize(GridSize, GridSize);
  TColor Colour = Colors::clWhite;
  CreatOr(&Banner, Colour);
  bool Stepped = false;
  for (const TAction& Action : Actions) {
    if (const auto* Drip = std::get_if<TDrip>(&Action)) {
      RippleMouseDown(Drip->X, Drip->Y);
      RippleMouseUp(Drip->X, Drip->Y);
    } else if (const auto* Steps = std::get_if<TSteps>(&Action)) {
      for (long long n = 0; n < Steps->Count; ++n)
        ProcessWater(&Banner, Colour);
      Stepped = Stepped || Steps->Count > 0;
    } else {
      Colour = std::get<TColour>(Action).Value;
    }
  }

  std::string Out;
  Out.reserve(3 * GridSize * GridSize * 7);
  AppendField(Out, "ReadBuffer", *ReadBuffer);
  AppendField(Out, "WriteBuffer", *WriteBuffer);
  AppendPixels(Out, Stepped ? &Banner.Picture() : nullptr);
  DestrOyer();
  if (std::fwrite(Out.data(), 1, Out.size(), stdout) != Out.size() || std::fflush(stdout) != 0) {
    std::perror("ripple-trace: writing the trace");
    return 1;
  }
  return 0;
}
