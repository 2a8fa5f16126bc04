#include "package/halvernSynTaskDialog.h"

#include "hostfw/Application.h"
#include "hostfw/TextFile.h"
#include "package/Edition.h"
#include "package/HmldFormat.h"
#include "package/Vesparoutil.h"
#include "package/u_errorFileReader.h"
#include "platform/OsVersion.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFrame>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QWindow>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace halvernSynTaskDialog {

namespace {

// Graphics need the GUI; they are made on first use and released with the
// application object, before the GUI goes away.
std::optional<QFont> GDefaultFont;
std::optional<QPixmap> GBitmapOK;
std::optional<QPixmap> GBitmapArrow;
// System icons by id, loaded once as the system shares them between windows.
std::map<int, QPixmap> GSystemIcons;
// Half-size footer icons by id and the colour they were drawn on.
std::map<std::pair<int, QRgb>, QPixmap> GHalfIcons;
bool GPostRoutineAdded = false;

// Text measures by font, wrap width and text. Each dialog measures its fixed
// captions again (the prompt's instruction, button captions, check box and
// footer) and asks for its font's height; laying a text out costs far more
// than finding it here. The entry unused for longest makes room, so that
// texts seen once (an exception's message) do not push the fixed ones out.
class TMeasureCache {
public:
  static constexpr int NoWrap = -1;
  static constexpr int FontPixelSize = -2;

  std::optional<int> Find(const QFont& Font, int Width, const QString& Text)
  {
    for (TEntry& Entry : FEntries)
      if (Entry.Width == Width && Entry.Text == Text && Entry.Font == Font) {
        Entry.LastUse = ++FClock;
        return Entry.Value;
      }
    return std::nullopt;
  }

  void Add(const QFont& Font, int Width, const QString& Text, int Value)
  {
    // A long text is rarely measured twice; it is not worth the memory.
    if (Text.size() > MaxTextLength)
      return;
    TEntry Fresh{Font, Width, Text, Value, ++FClock};
    if (FEntries.size() < MaxEntries) {
      FEntries.push_back(std::move(Fresh));
      return;
    }
    auto Oldest = std::min_element(FEntries.begin(), FEntries.end(),
                                   [](const TEntry& A, const TEntry& B) { return A.LastUse < B.LastUse; });
    *Oldest = std::move(Fresh);
  }

  void Clear() { FEntries.clear(); }

private:
  static constexpr std::size_t MaxEntries = 64;
  static constexpr qsizetype MaxTextLength = 512;
  struct TEntry {
    QFont Font;
    int Width;
    QString Text;
    int Value;
    std::uint64_t LastUse;
  };
  std::vector<TEntry> FEntries;
  std::uint64_t FClock = 0;
};
TMeasureCache GMeasures;

void ReleaseUnitGraphics()
{
  GDefaultFont.reset();
  GBitmapOK.reset();
  GBitmapArrow.reset();
  GSystemIcons.clear();
  GHalfIcons.clear();
  GMeasures.Clear();
  GPostRoutineAdded = false;
}

void ReleaseWithTheApplication()
{
  if (!GPostRoutineAdded) {
    qAddPostRoutine(ReleaseUnitGraphics);
    GPostRoutineAdded = true;
  }
}

TTaskDialogIndirect LookUpTaskDialogIndirect()
{
  OsVersion::OSVERSIONINFOEXW Info{};
  Info.dwOSVersionInfoSize = OsVersion::OsVersionInfoExSize;
  if (!OsVersion::GetVersionExW(&Info) || Info.dwMajorVersion <= 5)
    return nullptr;
  return &TaskDialog::TaskDialogIndirect;
}

// The native stand-in runs its modal loop through the application object,
// so that whatever answers our modal dialogs answers it too.
struct TUnitLifetime {
  TUnitLifetime()
  {
    TaskDialog::SetModalRunner([](QDialog& Dialog) {
      if (auto* App = Application::Instance())
        return App->ExecModal(Dialog);
      return Dialog.exec();
    });
  }
  ~TUnitLifetime() { TaskDialog::SetModalRunner({}); }
} UnitLifetime;

// The 16 colours of the glyphs; index 0 is the transparent one.
const QList<QRgb>& SixteenColours()
{
  static const QList<QRgb> Colours{
    qRgba(0, 0, 0, 0),     qRgb(0, 0, 0),       qRgb(128, 0, 0),     qRgb(0, 128, 0),
    qRgb(128, 128, 0),     qRgb(0, 0, 128),     qRgb(128, 0, 128),   qRgb(0, 128, 128),
    qRgb(192, 192, 192),   qRgb(128, 128, 128), qRgb(255, 0, 0),     qRgb(0, 255, 0),
    qRgb(255, 255, 0),     qRgb(0, 0, 255),     qRgb(255, 0, 255),   qRgb(255, 255, 255),
  };
  return Colours;
}

// Down to the 16 colours: each pixel takes the nearest colour, pixels that
// are mostly transparent the transparent one.
QImage ToSixteenColours(const QImage& Drawn)
{
  const QList<QRgb>& Colours = SixteenColours();
  QImage Result(Drawn.size(), QImage::Format_Indexed8);
  Result.setColorTable(Colours);
  for (int Y = 0; Y < Drawn.height(); ++Y) {
    for (int X = 0; X < Drawn.width(); ++X) {
      const QRgb Pixel = Drawn.pixel(X, Y);
      int Best = 0;
      if (qAlpha(Pixel) >= 128) {
        int BestDistance = INT_MAX;
        for (int I = 1; I < Colours.size(); ++I) {
          const int DR = qRed(Pixel) - qRed(Colours[I]), DG = qGreen(Pixel) - qGreen(Colours[I]),
                    DB = qBlue(Pixel) - qBlue(Colours[I]);
          const int Distance = DR * DR + DG * DG + DB * DB;
          if (Distance < BestDistance) {
            BestDistance = Distance;
            Best = I;
          }
        }
      }
      Result.setPixel(X, Y, uint(Best));
    }
  }
  return Result;
}

// Our own artwork: a green tick for OK, a green arrow for command links.
QImage DrawOkGlyph()
{
  QImage Image(24, 24, QImage::Format_ARGB32);
  Image.fill(Qt::transparent);
  QPainter Painter(&Image);
  Painter.setRenderHint(QPainter::Antialiasing, false);
  QPen Pen(QColor(0, 128, 0), 4, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
  Painter.setPen(Pen);
  Painter.drawPolyline(QPolygon({QPoint(4, 12), QPoint(9, 18), QPoint(20, 5)}));
  return Image;
}

QImage DrawArrowGlyph()
{
  QImage Image(16, 16, QImage::Format_ARGB32);
  Image.fill(Qt::transparent);
  QPainter Painter(&Image);
  Painter.setRenderHint(QPainter::Antialiasing, false);
  Painter.setPen(Qt::NoPen);
  Painter.setBrush(QColor(0, 128, 0));
  Painter.drawRect(2, 6, 7, 4);
  Painter.drawPolygon(QPolygon({QPoint(8, 2), QPoint(14, 8), QPoint(8, 14)}));
  return Image;
}

QFont WithHeight(QFont Font, int Height)
{
  Font.setPixelSize(-Height);
  return Font;
}

// A measure from the cache, or taken by Measure and kept.
template <typename TMeasure>
int Measured(const QFont& Font, int Width, const QString& Text, TMeasure Measure)
{
  if (const std::optional<int> Known = GMeasures.Find(Font, Width, Text))
    return *Known;
  const int Value = Measure();
  ReleaseWithTheApplication();
  GMeasures.Add(Font, Width, Text, Value);
  return Value;
}

int FontHeight(const QFont& Font)
{
  return Measured(Font, TMeasureCache::FontPixelSize, QString(), [&Font] { return -QFontInfo(Font).pixelSize(); });
}

// The width of Text on one line in Font, as a canvas measures it.
int TextWidthIn(const QFont& Font, const QString& Text)
{
  return Measured(Font, TMeasureCache::NoWrap, Text,
                  [&Font, &Text] { return QFontMetrics(Font).horizontalAdvance(Text); });
}

// The height of Text in Font, broken at words to fit Width.
int WrappedHeightIn(const QFont& Font, int Width, const QString& Text)
{
  return Measured(Font, Width, Text, [&Font, Width, &Text] {
    return QFontMetrics(Font).boundingRect(QRect(0, 0, Width, INT_MAX / 2), Qt::TextWordWrap, Text).height();
  });
}

// A line list as the runtime's string lists read it: CR LF, LF or CR end a
// line; a last line break adds no empty line.
QStringList Lines(const QString& Text)
{
  if (Text.isEmpty())
    return {};
  static const QRegularExpression Break(QStringLiteral("\r\n|\r|\n"));
  QStringList Result = Text.split(Break);
  if (Result.size() > 1 && Result.last().isEmpty())
    Result.removeLast();
  return Result;
}

// How a label shows a text: line breaks of any kind break the line.
QString Displayed(const QString& Text)
{
  QString Result = Text;
  Result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  Result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return Result;
}

// A label whose clicks reach a handler.
class TClickLabel : public QLabel {
public:
  using QLabel::QLabel;
  std::function<void(QObject*)> OnClick;

protected:
  void mouseReleaseEvent(QMouseEvent* Event) override
  {
    QLabel::mouseReleaseEvent(Event);
    if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint()) && OnClick)
      OnClick(this);
  }
};

// The emulated dialog's form: Esc presses the cancel button, when there is
// one, so that it runs its click handler as a mouse click would.
class TEmulatedForm : public QDialog {
public:
  using QDialog::QDialog;
  void reject() override
  {
    for (TSynButton* Button : findChildren<TSynButton*>())
      if (Button->Cancel() && Button->isVisible() && Button->isEnabled()) {
        Button->click();
        return;
      }
  }
};

}  // namespace

TTaskDialogEx DefaultTaskDialog{TTaskDialog{}, {}, 0, {}, tiInformation, tfiWarning, 0, 0, false, false};

TTaskDialogIndirect TaskDialogIndirect = LookUpTaskDialogIndirect();

// The fixed tables.

QString CommonButtonCaption(TCommonButton Button)
{
  // The framework's own localised captions.
  switch (Button) {
  case cbOK: return Edition::EditionText(QCoreApplication::translate("QPlatformTheme", "OK"));
  case cbYes: return Edition::EditionText(QCoreApplication::translate("QPlatformTheme", "&Yes"));
  case cbNo: return Edition::EditionText(QCoreApplication::translate("QPlatformTheme", "&No"));
  case cbCancel: return Edition::EditionText(QCoreApplication::translate("QPlatformTheme", "Cancel"));
  case cbRetry: return Edition::EditionText(QCoreApplication::translate("QPlatformTheme", "Retry"));
  case cbClose: return Edition::EditionText(QCoreApplication::translate("QPlatformTheme", "Close"));
  }
  return {};
}

int CommonButtonModalResult(TCommonButton Button)
{
  constexpr int Results[] = {mrOk, mrYes, mrNo, mrCancel, mrRetry, mrAbort};
  return Results[Button];
}

int TaskDialogIconNative(TTaskDialogIcon Icon)
{
  constexpr int Values[] = {17, 84, 99, 98, 81, 0, 78};
  return Values[Icon];
}

int TaskDialogIconEmulated(TTaskDialogIcon Icon)
{
  constexpr int Values[] = {0, 32515, 32514, 32513, 32516, 0, 32517};
  return Values[Icon];
}

QString TaskDialogIconDefaultInstruction(TTaskDialogIcon Icon)
{
  switch (Icon) {
  case tiWarning: return Edition::EditionText(QCoreApplication::translate("halvernSynTaskDialog", "Warning"));
  case tiQuestion: return Edition::EditionText(QCoreApplication::translate("halvernSynTaskDialog", "Confirm"));
  case tiError: return Edition::EditionText(QCoreApplication::translate("halvernSynTaskDialog", "Error"));
  case tiInformation:
  case tiShield: return Edition::EditionText(QCoreApplication::translate("halvernSynTaskDialog", "Information"));
  case tiBlank:
  case tiNotUsed: break;
  }
  return {};
}

int TaskDialogFooterIconNative(TTaskDialogFooterIcon Icon)
{
  constexpr int Values[] = {17, 84, 99, 98, 65533, 65532};
  return Values[Icon];
}

int TaskDialogFooterIconEmulated(TTaskDialogFooterIcon Icon)
{
  constexpr int Values[] = {0, 32515, 32514, 32513, 32516, 32517};
  return Values[Icon];
}

QPixmap DrawSystemIcon(int Id)
{
  QStyle::StandardPixmap Which;
  switch (Id) {
  case 32513: Which = QStyle::SP_MessageBoxCritical; break;
  case 32514: Which = QStyle::SP_MessageBoxQuestion; break;
  case 32515: Which = QStyle::SP_MessageBoxWarning; break;
  case 32516: Which = QStyle::SP_MessageBoxInformation; break;
  case 32517: Which = QStyle::SP_ComputerIcon; break;
  default: return {};
  }
  // Always the system icon's size, whatever size the style draws it at.
  QPixmap Icon(SystemIconSize, SystemIconSize);
  Icon.fill(Qt::transparent);
  QPainter Painter(&Icon);
  const QPixmap Drawn = QApplication::style()->standardIcon(Which).pixmap(SystemIconSize, SystemIconSize);
  Painter.drawPixmap((SystemIconSize - Drawn.width()) / 2, (SystemIconSize - Drawn.height()) / 2, Drawn);
  return Icon;
}

QPixmap LoadSystemIcon(int Id)
{
  const auto Found = GSystemIcons.find(Id);
  if (Found != GSystemIcons.end())
    return Found->second;
  const QPixmap Icon = DrawSystemIcon(Id);
  if (!Icon.isNull()) {
    ReleaseWithTheApplication();
    GSystemIcons.emplace(Id, Icon);
  }
  return Icon;
}

QPixmap LoadHalfSizeIcon(int Id, const QColor& Background)
{
  const std::pair<int, QRgb> Key{Id, Background.rgba()};
  const auto Found = GHalfIcons.find(Key);
  if (Found != GHalfIcons.end())
    return Found->second;
  const QPixmap Icon = LoadSystemIcon(Id);
  if (Icon.isNull())
    return {};
  QPixmap Half(Icon.width() / 2, Icon.height() / 2);
  Half.fill(Background);
  {
    QPainter Painter(&Half);
    Painter.setRenderHint(QPainter::SmoothPixmapTransform);
    Painter.drawPixmap(Half.rect(), Icon);
  }
  ReleaseWithTheApplication();
  GHalfIcons.emplace(Key, Half);
  return Half;
}

// Text functions.

QString CR(const QString& Text)
{
  if (!Text.contains(QLatin1String("\\n")))
    return Text;
  QString Result = Text;
  return Result.replace(QLatin1String("\\n"), QLatin1String("\n"));
}

QString N(const QString& Text) { return Text.isEmpty() ? QString() : CR(Text); }

QString NoCR(const QString& Line, QString& Hint)
{
  const qsizetype Break = Line.indexOf(QLatin1String("\\n"));
  if (Break < 0) {
    Hint.clear();
    return Line;
  }
  Hint = CR(Line.mid(Break + 2));
  return Line.left(Break);
}

QString GetNextStringLineToWS(const QString& Text, qsizetype& Pos)
{
  const qsizetype Start = Pos;
  while (Pos < Text.size() && Text[Pos].unicode() >= 32)
    ++Pos;
  const QString Line = CR(Text.mid(Start, Pos - Start));
  while (Pos < Text.size() && Text[Pos].unicode() < 32 && Text[Pos].unicode() != 0)
    ++Pos;
  return Line;
}

QString UnAmp(const QString& Text)
{
  QString Result = Text;
  return Result.remove(QLatin1Char('&'));
}

void AddRU(const QString& Text, int& Count, int FirstId, std::vector<TaskDialog::TASKDIALOG_BUTTON>& Entries)
{
  const QString List = Text.trimmed();
  qsizetype Pos = 0;
  while (Pos < List.size() && List[Pos].unicode() != 0) {
    if (Count >= int(Entries.size()))
      Entries.resize(Entries.size() + 16);
    Entries[size_t(Count)].nButtonID = Count + FirstId;
    Entries[size_t(Count)].pszButtonText = GetNextStringLineToWS(List, Pos);
    ++Count;
  }
}

// Unit graphics.

const QFont& DefaultFont()
{
  if (!GDefaultFont) {
    const QStringList Families = QFontDatabase::families();
    QFont Font;
    if (Families.contains(QStringLiteral("Calibri"))) {
      Font = QFont(QStringLiteral("Calibri"));
      Font.setPixelSize(14);
    } else {
      Font = QFont(Families.contains(QStringLiteral("Tahoma")) ? QStringLiteral("Tahoma") : QStringLiteral("Arial"));
      Font.setPixelSize(13);
    }
    Font.setWeight(QFont::Normal);
    Font.setItalic(false);
    Font.setUnderline(false);
    Font.setStrikeOut(false);
    // Glyph by glyph, as the system's own dialogs draw their texts: scripts
    // that need shaping still get it, Latin text skips the shaper, by far
    // the largest cost of building a dialog.
    Font.setStyleStrategy(QFont::PreferNoShaping);
    GDefaultFont = Font;
    ReleaseWithTheApplication();
  }
  return *GDefaultFont;
}

QPixmap LoadBitmapResource(const QString& Name)
{
  if (Name == QLatin1String("BTNOKHMLD"))
    return QPixmap::fromImage(ToSixteenColours(DrawOkGlyph()));
  if (Name == QLatin1String("BTNARROWHMLD"))
    return QPixmap::fromImage(ToSixteenColours(DrawArrowGlyph()));
  return {};
}

const QPixmap& BitmapOK()
{
  if (!GBitmapOK) {
    GBitmapOK = LoadBitmapResource(QStringLiteral("BTNOKHMLD"));
    ReleaseWithTheApplication();
  }
  return *GBitmapOK;
}

const QPixmap& BitmapArrow()
{
  if (!GBitmapArrow) {
    GBitmapArrow = LoadBitmapResource(QStringLiteral("BTNARROWHMLD"));
    ReleaseWithTheApplication();
  }
  return *GBitmapArrow;
}

// TSynButton.

TSynButton::TSynButton(QWidget* Owner, TCommonButton Button, int Left, int Top, int Width, int Height)
  : TSynButton(Owner, CommonButtonCaption(Button), CommonButtonModalResult(Button), Left, Top, Width, Height)
{
  if (Button == cbOK) {
    setDefault(true);
    SetBitmap(&BitmapOK());
  } else if (Button == cbCancel) {
    SetCancel(true);
  }
}

TSynButton::TSynButton(QWidget* Owner, const QString& Caption, int ModalResult, int Left, int Top, int Width,
                       int Height)
  : QPushButton(Caption, Owner), FModalResult(ModalResult)
{
  setGeometry(Left, Top, Width, Height);
  connect(this, &QPushButton::clicked, this, &TSynButton::Clicked);
}

void TSynButton::SetBitmap(const QPixmap* Bitmap)
{
  if (!Bitmap || Bitmap->isNull())
    return;
  setIcon(QIcon(*Bitmap));
  setIconSize(Bitmap->size());
}

void TSynButton::DoDropDown()
{
  if (QMenu* DropDown = menu())
    DropDown->popup(mapToGlobal(rect().bottomLeft()));
}

void TSynButton::Clicked()
{
  // The handler runs while the form is still on screen; the modal result
  // closes it afterwards.
  if (OnClick)
    OnClick(this);
  if (FModalResult != mrNone)
    if (auto* Form = qobject_cast<QDialog*>(window()))
      Form->done(FModalResult);
}

// TTaskDialog.

int TTaskDialog::Execute(TCommonButtons aCommonButtons, int aButtonDef, TTaskDialogFlags aFlags,
                         TTaskDialogIcon aDialogIcon, TTaskDialogFooterIcon aFooterIcon, int aRadioDef, int aWidth,
                         QWidget* aParent, bool NonNative, bool aClassicStyle)
{
  // A failure belongs to the call that met it; a kept record is shown again.
  ClickFailure = nullptr;
  PackingFailure = nullptr;
  if constexpr (Edition::AnsiTexts) {
    // This edition's record holds 8-bit texts.
    for (QString* Text : {&Title, &Inst, &Content, &Buttons, &Radios, &Info, &InfoExpanded, &InfoCollapse, &Footer,
                          &Verify, &Selection, &Query})
      *Text = Edition::EditionText(*Text);
  }
  if (aCommonButtons.IsEmpty() && Buttons.isEmpty()) {
    aCommonButtons = {cbOK};
    if (aButtonDef == 0)
      aButtonDef = 1;
  }
  auto* App = Application::Instance();
  if (Title.isEmpty()) {
    if (App && App->MainForm())
      Title = App->MainForm()->windowTitle();
    else
      Title = App ? App->Title() : QCoreApplication::applicationName();
  }
  if (Inst.isEmpty())
    Inst = TaskDialogIconDefaultInstruction(aDialogIcon);
  if (!aParent) {
    aParent = QApplication::activeWindow();
    if (!aParent && App)
      aParent = App->Handle();
  }
  if (TaskDialogIndirect && !NonNative && !aFlags.Contains(tdfQuery) && Selection.isEmpty())
    return ExecuteNative(aCommonButtons, aButtonDef, aFlags, aDialogIcon, aFooterIcon, aRadioDef, aWidth, aParent);
  return ExecuteEmulated(aCommonButtons, aButtonDef, aFlags, aDialogIcon, aFooterIcon, aRadioDef, aWidth,
                         aClassicStyle);
}

int TTaskDialog::ExecuteNative(TCommonButtons aCommonButtons, int aButtonDef, TTaskDialogFlags aFlags,
                               TTaskDialogIcon aDialogIcon, TTaskDialogFooterIcon aFooterIcon, int aRadioDef,
                               int aWidth, QWidget* aParent)
{
  std::vector<TaskDialog::TASKDIALOG_BUTTON> ButtonEntries, RadioEntries;
  int ButtonCount = 0, RadioCount = 0;
  AddRU(Buttons, ButtonCount, 100, ButtonEntries);
  AddRU(Radios, RadioCount, 200, RadioEntries);

  TaskDialog::TASKDIALOGCONFIG Config;
  Config.cbSize = TaskDialog::TaskDialogConfigSize;
  Config.hwndParent = aParent;
  Config.hInstance = nullptr;
  Config.dwFlags = aFlags.Bits();
  if (!Verify.isEmpty() && VerifyChecked)
    Config.dwFlags |= TaskDialog::TDF_VERIFICATION_FLAG_CHECKED;
  if (ButtonCount == 0 && aCommonButtons == TCommonButtons{cbOK})
    Config.dwFlags |= TaskDialog::TDF_ALLOW_DIALOG_CANCELLATION;
  Config.dwCommonButtons = aCommonButtons.Bits();
  Config.pszWindowTitle = N(Title);
  Config.pszMainInstruction = N(Inst);
  Config.pszContent = N(Content);
  Config.pszVerificationText = N(Verify);
  Config.pszExpandedInformation = N(Info);
  Config.pszExpandedControlText = N(InfoExpanded);
  Config.pszCollapsedControlText = N(InfoCollapse);
  Config.pszFooter = N(Footer);
  Config.pszMainIcon = TaskDialogIconNative(aDialogIcon);
  Config.pszFooterIcon = TaskDialogFooterIconNative(aFooterIcon);
  if (ButtonCount > 0) {
    Config.cButtons = std::uint32_t(ButtonCount);
    Config.pButtons = ButtonEntries.data();
  }
  if (RadioCount > 0) {
    Config.cRadioButtons = std::uint32_t(RadioCount);
    Config.pRadioButtons = RadioEntries.data();
  }
  Config.nDefaultButton = aButtonDef;
  Config.nDefaultRadioButton = aRadioDef;
  Config.cxWidth = std::uint32_t(aWidth);

  int Result = 0;
  if (TaskDialogIndirect(&Config, &Result, &RadioRes, &VerifyChecked) < 0)
    Result = 0;
  return Result;
}

int TTaskDialog::ExecuteEmulated(TCommonButtons aCommonButtons, int aButtonDef, TTaskDialogFlags aFlags,
                                 TTaskDialogIcon aDialogIcon, TTaskDialogFooterIcon aFooterIcon, int aRadioDef,
                                 int aWidth, bool aClassicStyle)
{
  auto* App = Application::Instance();
  // Freed on every way out, with all its controls. Not a child of the main
  // form, only above its window: a form closed and freed by an event while
  // the prompt is open would free the prompt, comment and all, under the
  // report that is still reading them.
  auto Form = std::make_unique<TEmulatedForm>(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  if (QWidget* Owner = App && App->Handle() ? App->Handle()->window() : nullptr; Owner && Owner->windowHandle()) {
    Form->winId();
    Form->windowHandle()->setTransientParent(Owner->windowHandle());
  }
  Form->setObjectName(QStringLiteral("TaskDialogForm"));
  if (!aClassicStyle)
    Form->setFont(DefaultFont());
  const int FH = FontHeight(Form->font());
  const QFont Canvas = Form->font();
  auto TextWidth = [&Canvas](const QString& Text) { return TextWidthIn(Canvas, Text); };

  int W = aWidth;
  if (W == 0) {
    if (TextWidth(Inst) > 300 || TextWidth(Content) > 300)
      W = 480;
    else
      W = Buttons.size() <= 40 ? 420 : 480;
  }
  Form->resize(W, 200);
  Form->setWindowTitle(Title);

  auto* Panel = new QFrame(Form.get());
  Panel->setObjectName(QStringLiteral("Panel"));
  Panel->setFrameShape(QFrame::NoFrame);
  if (!aClassicStyle) {
    Panel->setAutoFillBackground(true);
    QPalette White = Panel->palette();
    White.setColor(QPalette::Window, QColor(0xFF, 0xFF, 0xFF));
    Panel->setPalette(White);
  }
  QWidget* Parent = Panel;

  int X = 0, Y = 0, XB = 0;
  int M = aClassicStyle ? 10 : 24;
  QLabel* Image = nullptr;
  const QPixmap Icon = LoadSystemIcon(TaskDialogIconEmulated(aDialogIcon));
  if (!Icon.isNull()) {
    Image = new QLabel(Panel);
    Image->setObjectName(QStringLiteral("Image"));
    Image->setPixmap(Icon);
    Image->setGeometry(M, M, Icon.width(), Icon.height());
    X = Image->width() + 2 * M;
    Y = M + (aClassicStyle ? 8 : 0);
  } else {
    if (!aClassicStyle)
      M *= 2;
    X = M;
    Y = M;
  }

  auto AddLabel = [&](const QString& Text, bool BigText, const QString& Name) {
    auto* Label = new TClickLabel(Parent);
    Label->setObjectName(Name);
    Label->setWordWrap(true);
    Label->setTextFormat(Qt::PlainText);
    if (BigText) {
      if (aClassicStyle) {
        QFont Bold = WithHeight(Label->font(), FH - 2);
        Bold.setBold(true);
        Label->setFont(Bold);
      } else {
        Label->setFont(WithHeight(Label->font(), FH - 4));
        QPalette Blue = Label->palette();
        Blue.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0xB0));
        Label->setPalette(Blue);
      }
    } else if (const QFont Normal = WithHeight(Label->font(), FH); Normal != Label->font()) {
      // Usually the form's own font already: then the label keeps sharing it.
      Label->setFont(Normal);
    }
    const QString Caption = Displayed(CR(Text));
    Label->setText(Caption);
    const int Width = W - X - 8;
    // An empty label keeps the height of one line.
    const int Height = WrappedHeightIn(Label->font(), Width, Caption.isEmpty() ? QStringLiteral(" ") : Caption);
    Label->setGeometry(X, Y, Width, Height);
    Label->setCursor(Qt::PointingHandCursor);
    Label->OnClick = [this](QObject* Sender) { Label1Click(Sender); };
    Y += Height + 16;
  };

  AddLabel(Inst, true, QStringLiteral("Inst"));
  AddLabel(Content, false, QStringLiteral("Content"));
  if (!Info.isEmpty())
    AddLabel(Info, false, QStringLiteral("Info"));

  const bool CommandLinks = aFlags.Contains(tdfUseCommandLinks);
  if (CommandLinks && !Buttons.isEmpty()) {
    Y += 8;
    const QStringList Links = Lines(Buttons.trimmed());
    for (int I = 0; I < Links.size(); ++I) {
      QString Hint;
      const QString Caption = NoCR(Links[I], Hint);
      auto* Link = new TSynButton(Parent, Caption, 100 + I, X, Y, W - X - (aClassicStyle ? 10 : 16), 40);
      Link->setObjectName(QStringLiteral("CommandLink%1").arg(I));
      if (aClassicStyle) {
        QFont Bold = WithHeight(Link->font(), FH - 2);
        Bold.setBold(true);
        Link->setFont(Bold);
      } else {
        Link->setFont(WithHeight(Link->font(), FH - 3));
      }
      if (!Hint.isEmpty())
        Link->setToolTip(Hint);
      // Glyph margin and spacing: the caption stands left, after the glyph.
      Link->setStyleSheet(QStringLiteral("text-align: left; padding-left: %1px;").arg(aClassicStyle ? 7 : 24));
      if (!aFlags.Contains(tdfUseCommandLinksNoIcon))
        Link->SetBitmap(&BitmapArrow());
      if (100 + I == aButtonDef)
        Link->setFocus();
      Y += Link->height() + 2;
    }
    Y += 24;
  }

  QList<QRadioButton*> RadioButtons;
  if (!Radios.isEmpty()) {
    const QStringList Items = Lines(Radios.trimmed());
    for (int I = 0; I < Items.size(); ++I) {
      QString Hint;
      auto* Radio = new QRadioButton(NoCR(Items[I], Hint), Parent);
      Radio->setObjectName(QStringLiteral("Radio%1").arg(I));
      Radio->setGeometry(X + 16, Y, W - 32 - X, 6 - FH);
      if (!Hint.isEmpty())
        Radio->setToolTip(Hint);
      Y += Radio->height();
      if (I == 0 || 200 + I == aRadioDef)
        Radio->setChecked(true);
      RadioButtons << Radio;
    }
    Y += 24;
  }

  QComboBox* Combo = nullptr;
  QLineEdit* Edit = nullptr;
  if (!Selection.isEmpty()) {
    Combo = new QComboBox(Parent);
    Combo->setObjectName(QStringLiteral("Selection"));
    Combo->setGeometry(X, Y, W - 32 - X, 22);
    Combo->setEditable(aFlags.Contains(tdfQuery));
    Combo->addItems(Lines(Selection.trimmed()));
    Combo->setCurrentIndex(Combo->findText(Query, Qt::MatchExactly | Qt::MatchCaseSensitive));
    if (Combo->isEditable() && Combo->currentIndex() < 0)
      Combo->setEditText(QString());
    Y += 42;
  } else if (aFlags.Contains(tdfQuery)) {
    Edit = new QLineEdit(Parent);
    Edit->setObjectName(QStringLiteral("Query"));
    Edit->setGeometry(X, Y, W - 16 - X, 22);
    QFont EditFont = Edit->font();
    EditFont.setFamily(QStringLiteral("Calibri"));
    Edit->setFont(EditFont);
    QPalette Blue = Edit->palette();
    Blue.setColor(QPalette::Text, QColor(0x00, 0x00, 0xFF));
    Edit->setPalette(Blue);
    Edit->setText(Query);
    if (aFlags.Contains(tdfQueryMasked)) {
      Edit->setEchoMode(QLineEdit::Password);
      Edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    }
    if (aFlags.Contains(tdfQueryFieldFocused))
      Edit->setFocus();
    Y += 42;
  }

  Panel->setGeometry(0, 0, W, Y);
  Parent = Form.get();

  const bool ButtonRow =
    !aCommonButtons.IsEmpty() || !Verify.isEmpty() || (!Buttons.isEmpty() && !CommandLinks);
  QCheckBox* VerifyBox = nullptr;
  QList<QWidget*> RowButtons;  // left to right
  if (ButtonRow) {
    Y += 16;
    XB = W;
    auto AddButton = [&](const QString& Caption, int Result) {
      const QString Text = UnAmp(Caption);
      const int WB = TextWidth(Text) + 52;
      XB -= WB;
      if (XB < X / 2) {
        XB = W - WB;
        Y += 32;
      }
      auto* Button = aClassicStyle ? new TSynButton(Parent, Text, Result, XB, Y, WB - 10, 22)
                                   : new TSynButton(Parent, Text, Result, XB, Y, WB - 12, 28);
      Button->setObjectName(QStringLiteral("Button%1").arg(Result));
      RowButtons.prepend(Button);
      Button->OnClick = [this](QObject* Sender) { ButtonClick(Sender); };
      if (Result == mrOk) {
        Button->setDefault(true);
        Button->SetBitmap(&BitmapOK());
        if (aCommonButtons == TCommonButtons{cbOK})
          Button->SetCancel(true);
      } else if (Result == mrCancel) {
        Button->SetCancel(true);
      }
      if (Result == aButtonDef)
        Button->setFocus();
    };
    if (!CommandLinks) {
      const QStringList Customs = Lines(Buttons.trimmed());
      for (qsizetype I = Customs.size() - 1; I >= 0; --I) {
        QString Hint;
        AddButton(NoCR(Customs[I], Hint), 100 + int(I));
      }
    }
    for (int B = cbClose; B >= cbOK; --B)
      if (aCommonButtons.Contains(TCommonButton(B)))
        AddButton(CommonButtonCaption(TCommonButton(B)), CommonButtonModalResult(TCommonButton(B)));
    if (!Verify.isEmpty()) {
      if (TextWidth(Verify) + X + 16 > XB) {
        Y += 32;
        XB = W;
      }
      VerifyBox = new QCheckBox(Verify, Parent);
      VerifyBox->setObjectName(QStringLiteral("Verify"));
      VerifyBox->setGeometry(X, Y, XB - X, 24);
      VerifyBox->setChecked(VerifyChecked != 0);
    }
    Y += 36;
  } else {
    XB = 0;
  }

  if (!Footer.isEmpty()) {
    if (ButtonRow) {
      const int BX = Image && Y < Image->y() + Image->height() ? X : 2;
      auto* Separator = new QFrame(Parent);
      Separator->setObjectName(QStringLiteral("Separator"));
      Separator->setFrameShape(QFrame::HLine);
      Separator->setFrameShadow(QFrame::Sunken);
      Separator->setGeometry(BX, Y, W - BX - 2, 2);
    }
    Y += 16;
    const QPixmap Half =
      LoadHalfSizeIcon(TaskDialogFooterIconEmulated(aFooterIcon), Form->palette().color(QPalette::Window));
    if (!Half.isNull()) {
      auto* FooterImage = new QLabel(Parent);
      FooterImage->setObjectName(QStringLiteral("FooterImage"));
      FooterImage->setPixmap(Half);
      FooterImage->setGeometry(24, Y, Half.width(), Half.height());
      X = Half.width() + 40;
    } else {
      X = 24;
    }
    AddLabel(Footer, false, QStringLiteral("Footer"));
  }

  // Tab order: the button row first, left to right, then the panel's
  // controls, then the check box.
  QList<QWidget*> TabOrder = RowButtons;
  for (QWidget* Control : Panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (Control->focusPolicy() & Qt::TabFocus)
      TabOrder << Control;
  if (VerifyBox)
    TabOrder << VerifyBox;
  for (qsizetype I = 1; I < TabOrder.size(); ++I)
    QWidget::setTabOrder(TabOrder[I - 1], TabOrder[I]);

  Form->setFixedSize(W, Y);
  if (QScreen* Screen = Form->screen())
    Form->move(Screen->availableGeometry().center() - QPoint(W / 2, Y / 2));

  const int Result = App ? App->ExecModal(*Form) : Form->exec();

  // The report is handed on whichever way the form closed.
  WriteCommentsZipAndImageNameToFile(Edit ? Edit->text() : QString(), Vesparoutil::sJpegFileName,
                                     Vesparoutil::sZipFileName);
  // An archive or copy that cannot be written is told once the rest is
  // done; no archive, no copy.
  try {
    const QString Archive = Vesparoutil::SynZipZipper(Vesparoutil::sZipFileName, Vesparoutil::sJpegFileName);
    if (!Archive.isEmpty()) {
      Vesparoutil::sZipFileName = Vesparoutil::sZipFileNameForMailing = Archive;
      Vesparoutil::CopybugReportToDirectory(Archive);
    }
  } catch (...) {
    PackingFailure = std::current_exception();
  }

  if (Combo) {
    SelectionRes = Combo->currentIndex();
    Query = Combo->currentText();
  } else if (Edit) {
    Query = Edit->text();
  }
  if (VerifyBox)
    VerifyChecked = VerifyBox->isChecked() ? -1 : 0;
  RadioRes = 0;
  for (int I = 0; I < RadioButtons.size(); ++I)
    if (RadioButtons[I]->isChecked())
      RadioRes = 200 + I;
  Form.reset();

  if (ClickFailure)
    std::rethrow_exception(ClickFailure);
  if (PackingFailure)
    std::rethrow_exception(PackingFailure);
  return Result;
}

void TTaskDialog::WriteCommentsZipAndImageNameToFile(const QString& Comments, const QString& ImagePath,
                                                     const QString& ZipPath)
{
  Vesparoutil::ForceDataFolder(Vesparoutil::DataFolderPath());
  TextFile::TTextFile Report(Vesparoutil::FullHmldFilePath());
  Report.Append();
  for (const QString& Line : HmldFormat::CommentBlockLines(Comments, ImagePath, ZipPath))
    Report.WriteLn(Line);
  Report.Close();
}

void TTaskDialog::ButtonClick(QObject*)
{
  // Taken here, while the dialog is the foreground window. A failure must
  // neither keep the dialog open nor escape into the modal loop, where it
  // would start another report from inside this one.
  try {
    Vesparoutil::TakeScreenShotAndSaveInapplicationFolder();
  } catch (...) {
    if (!ClickFailure)
      ClickFailure = std::current_exception();
  }
}

void TTaskDialog::Label1Click(QObject* Sender)
{
  auto* Viewer = new u_errorFileReader::TFrmErroReader(nullptr, Vesparoutil::FullHmldFilePath());
  u_errorFileReader::FrmErroReader = Viewer;
  // The viewer belongs to no owner, but it stays usable beside the modal
  // dialog it was opened from, and outlives it.
  if (auto* Widget = qobject_cast<QWidget*>(Sender)) {
    Viewer->winId();
    if (QWindow* Dialog = Widget->window()->windowHandle())
      Viewer->windowHandle()->setTransientParent(Dialog);
  }
  Viewer->show();
}

int TTaskDialogEx::Execute(QWidget* aParent)
{
  return Base.Execute(CommonButtons, ButtonDef, Flags, DialogIcon, FooterIcon, RadioDef, Width, aParent, NonNative,
                      ClassicStyle);
}

}  // namespace halvernSynTaskDialog
