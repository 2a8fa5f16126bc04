#include "package/Vesparo.h"

#include "tests/package/VesparoTestSupport.h"
#include "ui_ComponentForm.h"

#include <QFile>
#include <QPluginLoader>
#include <QUiLoader>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <gtest/gtest.h>

#include <memory>

using namespace VesparoTests;
using Vesparo::TCVVesparo;

namespace {
const QString PluginFolder = QStringLiteral(CORVANE_LIB_DIR "/designer");
const QString DemoFormFile = QStringLiteral(CORVANE_SOURCE_DIR "/tools/demo/DemoForm.ui");

struct TClearHandler {
  ~TClearHandler() { App().SetOnException({}); }
};
}  // namespace

TEST(FormLoading, UicFormAppliesStoredPropertiesBeforeLoaded)
{
  TClearHandler Clear;
  QWidget First, Second;
  Ui::ComponentForm FirstUi, SecondUi;
  FirstUi.setupUi(&First);
  SecondUi.setupUi(&Second);
  TCVVesparo* Component = SecondUi.CVVesparo1;
  EXPECT_TRUE(Component->ActivateMLD());
  EXPECT_TRUE(Component->Mailsendreport());
  EXPECT_EQ(Component->Mailrecipient(), QStringLiteral("support@example.org; dev@example.org"));
  EXPECT_EQ(Component->Mailsubject(), QStringLiteral("Crash"));
  EXPECT_FALSE(App().HasOnException());

  QCoreApplication::processEvents();
  // Both forms loaded; the one loaded last handles the exceptions.
  EXPECT_EQ(App().OnExceptionOwner(), Component);
  First.show();
  EXPECT_FALSE(FirstUi.CVVesparo1->isVisible());
}

TEST(FormLoading, QUiLoaderBuildsTheDemoFormThroughTheDesignerPlugin)
{
  TClearHandler Clear;
  QUiLoader Loader;
  Loader.clearPluginPaths();
  Loader.addPluginPath(PluginFolder);
  ASSERT_TRUE(Loader.availableWidgets().contains(QStringLiteral("Vesparo::TCVVesparo")))
    << Loader.availableWidgets().join(QLatin1Char(' ')).toStdString();

  QFile File(DemoFormFile);
  ASSERT_TRUE(File.open(QIODevice::ReadOnly));
  std::unique_ptr<QWidget> Form(Loader.load(&File));
  ASSERT_TRUE(Form) << Loader.errorString().toStdString();
  auto* Component = Form->findChild<TCVVesparo*>(QStringLiteral("CVVesparo1"));
  ASSERT_NE(Component, nullptr);
  EXPECT_TRUE(Component->ActivateMLD());
  EXPECT_FALSE(Component->IsLoaded());
  QCoreApplication::processEvents();
  EXPECT_TRUE(Component->IsLoaded());
  EXPECT_EQ(App().OnExceptionOwner(), Component);

  Form.reset();
  EXPECT_FALSE(App().HasOnException());
}

TEST(FormLoading, DesignerPluginOffersTheComponentInGroupCorvane)
{
  QPluginLoader Loader(PluginFolder + QStringLiteral("/libCorvaneDesignerPlugin.so"));
  QObject* Instance = Loader.instance();
  ASSERT_NE(Instance, nullptr) << Loader.errorString().toStdString();
  auto* Plugin = qobject_cast<QDesignerCustomWidgetInterface*>(Instance);
  ASSERT_NE(Plugin, nullptr);
  EXPECT_EQ(Plugin->group(), QStringLiteral("Corvane"));
  EXPECT_EQ(Plugin->name(), QStringLiteral("Vesparo::TCVVesparo"));
  EXPECT_FALSE(Plugin->isContainer());
  // ActivateMLD is stored with every form, also when false.
  EXPECT_TRUE(Plugin->domXml().contains(QStringLiteral("<property name=\"ActivateMLD\"><bool>false</bool>")));

  QWidget Form;
  std::unique_ptr<QWidget> Created(Plugin->createWidget(&Form));
  EXPECT_NE(qobject_cast<TCVVesparo*>(Created.get()), nullptr);
}
