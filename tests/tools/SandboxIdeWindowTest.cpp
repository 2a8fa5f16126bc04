#include "tools/sandbox-ide/IdeTable.h"
#include "tools/sandbox-ide/IdeWindow.h"

#include "platform/Registry.h"

#include "tests/support/TempEnvironment.h"
#include "tests/tools/ToolRun.h"

#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>

#include <gtest/gtest.h>

TEST(SandboxIdeWindow, ListsThePackagesAndOpensTheDesignerWithTheirComponents)
{
  TestSupport::TTempEnvironment Env;
  const QString Root = Env.Root() + QStringLiteral("/ide");
  ASSERT_EQ(ToolRun::Run(QStringLiteral(CORVANE_BIN_DIR "/sandbox-ide"),
                         {QStringLiteral("register"), QStringLiteral("RAD Studio 2010"), Root})
              .Code,
            0);
  const IdeTable::TIde Ide = *IdeTable::ByName(QStringLiteral("RAD Studio 2010"));
  const QString Plugin = QStringLiteral(CORVANE_LIB_DIR "/designer/libCorvaneDesignerPlugin.so");
  {
    Registry::TRegistry Store;
    ASSERT_TRUE(Store.OpenKey(Ide.Key + QStringLiteral("\\Known Packages"), false));
    Store.WriteString(Plugin, QStringLiteral("Corvane"));
    Store.WriteString(Env.Root() + QStringLiteral("/gone.bpl"), QStringLiteral("gone"));
  }
  // The designer here says what it was given.
  const QString Designer = Env.Root() + QStringLiteral("/designer");
  const QString Seen = Env.Root() + QStringLiteral("/seen");
  TestSupport::WriteAll(Designer, ("#!/bin/sh\nls \"$QT_PLUGIN_PATH\"/designer > '" + Seen + ".part' && mv '" + Seen +
                                   ".part' '" + Seen + "'\n")
                                    .toLocal8Bit());
  QFile::setPermissions(Designer, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  Env.Set("CORVANE_DESIGNER", Designer);

  TIdeWindow Window(Ide);
  ASSERT_EQ(Window.PackageList()->topLevelItemCount(), 2);
  const QTreeWidgetItem* Loaded = Window.PackageList()->findItems(Plugin, Qt::MatchExactly).value(0);
  ASSERT_NE(Loaded, nullptr);
  EXPECT_EQ(Loaded->text(2), QStringLiteral("exists"));
  EXPECT_EQ(Loaded->text(3), QStringLiteral("yes"));
  EXPECT_EQ(Loaded->text(4), QStringLiteral("TCVVesparo"));

  Window.DesignerButton()->click();
  for (int Try = 0; Try < 200 && !QFileInfo::exists(Seen); ++Try)
    QThread::msleep(50);
  EXPECT_EQ(TestSupport::ReadAll(Seen), QByteArray("libCorvaneDesignerPlugin.so\n"));
  EXPECT_TRUE(QFileInfo::exists(Root + QStringLiteral("/Bin/DesignerPlugins/designer/libCorvaneDesignerPlugin.so")));
}
