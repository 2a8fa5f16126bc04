// Linked against the D6 edition: the texts it shows have passed through the
// ANSI code page, the report is the same as the other editions write.

#include "hostfw/Application.h"
#include "hostfw/Exceptions.h"
#include "package/Vesparo.h"
#include "package/Vesparoutil.h"
#include "platform/AnsiCodePage.h"
#include "tests/support/TempEnvironment.h"

#include <QDialog>
#include <QLabel>

#include <gtest/gtest.h>

TEST(EditionD6, PromptTextsAreAnsiTexts)
{
  TestSupport::TTempEnvironment Env;
  AnsiCodePage::SetACP(1252);
  auto& App = *Application::Instance();
  QStringList Shown;
  App.SetModalHook([&](QDialog& Dialog) {
    Shown << Dialog.findChild<QLabel*>(QStringLiteral("Content"))->text();
    Dialog.accept();
  });
  Vesparo::TCVVesparo Component;
  Component.SetMLDActive(true);
  Component.GlobalExceptionHandlerThis(&Component, std::make_exception_ptr(Exception(QStringLiteral("Größe ж"))));
  App.SetModalHook({});
  AnsiCodePage::SetACP(0);

  EXPECT_EQ(Shown, QStringList{QStringLiteral("Details:\nGröße ?")});
  EXPECT_TRUE(TestSupport::ReadAll(Vesparoutil::FullHmldFilePath())
                .contains("Excep_ClassName :Vesparo::TCVVesparo;\r\n"
                          "Excep_ApplicationName :test_package_edition_d6;\r\n"));
}
