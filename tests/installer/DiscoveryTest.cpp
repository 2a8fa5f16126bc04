// The list of installed IDEs with their icons, and the list view it fills.

#include "installer/u_supportUnit.h"

#include "hostfw/ListView.h"
#include "tests/installer/IdeRegistry.h"
#include "tests/support/TempEnvironment.h"

#include <QDir>
#include <QFile>
#include <QPixmap>

#include <gtest/gtest.h>

using namespace u_supportUnit;
using InstallerTest::PutString;
using InstallerTest::PutUserString;
using ListView::TImageList;
using ListView::TListItem;
using ListView::TListView;

namespace {

QIcon Filled(Qt::GlobalColor Colour)
{
  QPixmap Pixmap(16, 16);
  Pixmap.fill(Colour);
  return QIcon(Pixmap);
}

QString MakeApp(const QString& Folder, const QString& Name)
{
  QDir().mkpath(Folder);
  const QString Path = Folder + QLatin1Char('/') + Name;
  QFile::copy(QStringLiteral("/bin/true"), Path);
  return Path;
}

TEST(ListView, ItemsColumnsSelectionAndIcons)
{
  TListView View;
  TImageList Images;
  View.SetColumns({QStringLiteral("Version"), QStringLiteral("Path")});
  EXPECT_EQ(View.Columns(), (QStringList{QStringLiteral("Version"), QStringLiteral("Path")}));
  EXPECT_TRUE(View.RowSelect());
  View.SetSmallImages(&Images);

  TListItem* Item = View.AddItem();
  Item->SetCaption(QStringLiteral("Delphi 6"));
  Item->AddSubItem(QStringLiteral("/d6/Bin/delphi32.exe"));
  Item->SetImageIndex(0);
  EXPECT_TRUE(Item->icon(0).isNull());
  // The item takes its icon once the image list has one there.
  EXPECT_EQ(Images.ReplaceIcon(-1, Filled(Qt::red)), 0);
  EXPECT_FALSE(Item->icon(0).isNull());
  EXPECT_EQ(Item->icon(0).pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));
  EXPECT_EQ(Images.ReplaceIcon(0, Filled(Qt::blue)), 0);
  EXPECT_EQ(Item->icon(0).pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::blue));
  EXPECT_EQ(Images.ReplaceIcon(5, Filled(Qt::green)), -1);
  EXPECT_EQ(Images.ReplaceIcon(-1, QIcon()), -1);
  EXPECT_EQ(Images.Count(), 1);

  EXPECT_EQ(Item->Caption(), QStringLiteral("Delphi 6"));
  EXPECT_EQ(Item->SubItems(), QStringList{QStringLiteral("/d6/Bin/delphi32.exe")});
  EXPECT_EQ(Item->text(1), QStringLiteral("/d6/Bin/delphi32.exe"));
  EXPECT_EQ(View.Selected(), nullptr);
  View.SetSelected(Item);
  EXPECT_EQ(View.Selected(), Item);
  EXPECT_EQ(View.Item(0), Item);
  EXPECT_EQ(View.Item(1), nullptr);
  View.SetRowSelect(false);
  EXPECT_FALSE(View.RowSelect());

  // An image list that goes leaves items without icons, not dangling.
  {
    TImageList Short;
    Short.ReplaceIcon(-1, Filled(Qt::green));
    View.SetSmallImages(&Short);
    EXPECT_FALSE(Item->icon(0).isNull());
  }
  EXPECT_EQ(View.SmallImages(), nullptr);
  EXPECT_TRUE(Item->icon(0).isNull());
}

TEST(Discovery, InstalledIdesInTableOrderWithTheirIcons)
{
  TestSupport::TTempEnvironment Env;
  const QString Root = Env.Root();
  // Registered out of order; the list follows the table.
  const QString XE3 = MakeApp(Root + QStringLiteral("/xe3/Bin"), QStringLiteral("bds.exe"));
  const QString D6 = MakeApp(Root + QStringLiteral("/d6/Bin"), QStringLiteral("delphi32.exe"));
  const QString XE = MakeApp(Root + QStringLiteral("/xe/Bin"), QStringLiteral("bds.exe"));
  PutUserString(DelphiRegPaths[12], QStringLiteral("App"), XE3);
  PutUserString(DelphiRegPaths[2], QStringLiteral("App"), D6);
  PutUserString(DelphiRegPaths[10], QStringLiteral("App"), XE);
  // Deleted since it was registered; a folder is no executable either.
  PutUserString(DelphiRegPaths[3], QStringLiteral("App"), Root + QStringLiteral("/d7/Bin/delphi32.exe"));
  PutUserString(DelphiRegPaths[9], QStringLiteral("App"), Root);
  PutUserString(DelphiRegPaths[11], QStringLiteral("RootDir"), Root);
  // Known to the machine only.
  PutString(Registry::HKEY_LOCAL_MACHINE, DelphiRegPaths[6], QStringLiteral("App"), D6);

  TListView View;
  TImageList Images;
  View.SetSmallImages(&Images);
  View.AddItem()->SetCaption(QStringLiteral("kept"));
  LoadInstalledVersions(&View, &Images);

  ASSERT_EQ(View.ItemCount(), 4);
  EXPECT_EQ(View.Item(0)->Caption(), QStringLiteral("kept"));
  const QStringList Names{QStringLiteral("Delphi 6"), QStringLiteral("RAD Studio XE"), QStringLiteral("RAD Studio XE3")};
  const QStringList Apps{D6, XE, XE3};
  ASSERT_EQ(Images.Count(), 3);
  for (int I = 0; I < 3; ++I) {
    const TListItem* Item = View.Item(I + 1);
    EXPECT_EQ(Item->Caption(), Names[I]);
    EXPECT_EQ(Item->SubItems(), QStringList{Apps[I]});
    EXPECT_EQ(Item->ImageIndex(), I);
    EXPECT_FALSE(Item->icon(0).isNull());
  }
  // Nothing was created for the machine's IDE or the one without "App".
  EXPECT_FALSE(InstallerTest::UserKeyExists(DelphiRegPaths[6]));
}

TEST(Discovery, IconsOnlyForExistingFiles)
{
  QTemporaryDir Dir;
  TImageList Images;
  ExtractIconFileToImageList(&Images, Dir.path() + QStringLiteral("/missing"));
  ExtractIconFileToImageList(&Images, QString());
  EXPECT_EQ(Images.Count(), 0);
  ExtractIconFileToImageList(&Images, MakeApp(Dir.path(), QStringLiteral("ide")));
  ASSERT_EQ(Images.Count(), 1);
  EXPECT_EQ(Images.Icon(0).availableSizes().value(0), QSize(16, 16));
}

TEST(Discovery, TableOfVersions)
{
  EXPECT_EQ(DelphiVersionsNames[int(TDelphiVersions::Delphi2006)], QStringLiteral("BDS 2006"));
  EXPECT_EQ(DelphiRegPaths[int(TDelphiVersions::Delphi2009)], QStringLiteral("\\Software\\CodeGear\\BDS\\6.0"));
  QStringList Codes;
  for (int I = 0; I < DelphiVersionsCount; ++I)
    Codes.append(EditionCode(TDelphiVersions(I)));
  EXPECT_EQ(Codes.join(QLatin1Char(',')), QStringLiteral(",,D6,D7,,,D2006,,,D2010,,DXE2,DXE3"));
}

}  // namespace
