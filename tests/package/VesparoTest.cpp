#include "package/Vesparo.h"

#include "hostfw/StringList.h"
#include "tests/package/VesparoTestSupport.h"
#include "tests/support/TempEnvironment.h"

#include <QFileInfo>
#include <QMetaProperty>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace VesparoTests;
using Vesparo::TCVVesparo;

namespace {
// Also forgets a written report, so that the test program's end hands
// nothing to a viewer.
struct TClearHandler {
  ~TClearHandler()
  {
    App().SetOnException({});
    Vesparo::bShallOpen = false;
  }
};
}  // namespace

TEST(Vesparo, PublishedPropertiesInDeclarationOrder)
{
  const QMetaObject& Meta = TCVVesparo::staticMetaObject;
  QStringList Names;
  for (int I = Meta.propertyOffset(); I < Meta.propertyCount(); ++I)
    Names << QString::fromLatin1(Meta.property(I).name());
  EXPECT_EQ(Names, (QStringList{"Mailsendreport", "MailsendAttachment", "MailTypesen", "Mailrecipient", "Mailsubject",
                                "MailMessage", "ActivateMLD"}));
  const QMetaProperty MailType = Meta.property(Meta.indexOfProperty("MailTypesen"));
  ASSERT_TRUE(MailType.isEnumType());
  EXPECT_EQ(MailType.enumerator().keyCount(), 1);
  EXPECT_STREQ(MailType.enumerator().key(0), "maOutlook");
  EXPECT_TRUE(Meta.property(Meta.indexOfProperty("ActivateMLD")).isStored());

  TCVVesparo Component;
  EXPECT_FALSE(Component.ActivateMLD());
  EXPECT_FALSE(Component.Mailsendreport());
  EXPECT_EQ(Component.MailTypesen(), Vesparo::maOutlook);
  EXPECT_TRUE(Component.setProperty("ActivateMLD", true));
  EXPECT_TRUE(Component.ActivateMLD());
}

TEST(Vesparo, ActiveComponentBecomesTheHandlerWhenLoaded)
{
  TClearHandler Clear;
  TCVVesparo Component;
  Component.SetMLDActive(true);
  EXPECT_FALSE(App().HasOnException());  // not before it has loaded
  QCoreApplication::processEvents();
  EXPECT_EQ(App().OnExceptionOwner(), &Component);

  // Changing the switch afterwards installs or removes nothing.
  Component.SetMLDActive(false);
  EXPECT_EQ(App().OnExceptionOwner(), &Component);
}

TEST(Vesparo, InactiveComponentChangesNothing)
{
  TClearHandler Clear;
  TestSupport::TTempEnvironment Env;
  TShownBoxes Shown;
  QObject HostHandlerOwner;
  int HostCalls = 0;
  App().SetOnException([&](QObject*, const std::exception_ptr&) { ++HostCalls; }, &HostHandlerOwner);
  TCVVesparo Component;
  QCoreApplication::processEvents();
  EXPECT_EQ(App().OnExceptionOwner(), &HostHandlerOwner);
  // Switched on only after loading: still not the handler.
  Component.SetMLDActive(true);
  EXPECT_EQ(App().OnExceptionOwner(), &HostHandlerOwner);

  App().SetOnException({});
  TRaisingButton Button([] { throw std::runtime_error("shown by default"); });
  Button.Click();
  EXPECT_EQ(Shown.Texts, QStringList{QStringLiteral("shown by default")});
  EXPECT_FALSE(QFileInfo::exists(Vesparoutil::FullHmldFilePath()));
  EXPECT_FALSE(Vesparo::bShallOpen);
}

TEST(Vesparo, LastLoadedActiveComponentWinsAndReplacesTheHostHandler)
{
  TClearHandler Clear;
  TestSupport::TTempEnvironment Env;
  TShownBoxes Shown;
  int HostCalls = 0;
  App().SetOnException([&](QObject*, const std::exception_ptr&) { ++HostCalls; });
  TRecordingVesparo First, Second;
  First.SetMLDActive(true);
  Second.SetMLDActive(true);
  QCoreApplication::processEvents();
  TRaisingButton Button([] { throw std::runtime_error("who handles me"); });
  Button.Click();
  EXPECT_EQ(First.Passes, 0);
  EXPECT_EQ(Second.Passes, 1);
  EXPECT_EQ(HostCalls, 0);
}

TEST(Vesparo, DestroyedComponentIsNeverCalled)
{
  TClearHandler Clear;
  TestSupport::TTempEnvironment Env;
  TShownBoxes Shown;
  QObject OtherOwner;
  {
    TRecordingVesparo Component;
    Component.SetMLDActive(true);
    Component.LoadedNow();
    EXPECT_EQ(App().OnExceptionOwner(), &Component);
  }
  EXPECT_FALSE(App().HasOnException());
  TRaisingButton Button([] { throw std::runtime_error("after the form closed"); });
  Button.Click();
  EXPECT_EQ(Shown.Texts, QStringList{QStringLiteral("after the form closed")});

  // A component that is no longer the handler leaves the current one alone.
  auto* Old = new TRecordingVesparo;
  Old->SetMLDActive(true);
  Old->LoadedNow();
  App().SetOnException([](QObject*, const std::exception_ptr&) {}, &OtherOwner);
  delete Old;
  EXPECT_EQ(App().OnExceptionOwner(), &OtherOwner);
}

TEST(Vesparo, SplitFollowsTheDelimitedTextRule)
{
  TCVVesparo Component;
  StringList::TStringList List;
  List.Add(QStringLiteral("left over"));
  Component.Split(QLatin1Char(';'), QStringLiteral(" a@b.org ; \"Name, With Blank\" ;c@d.org"), List);
  EXPECT_EQ(List.Strings(), (QStringList{"a@b.org", "Name, With Blank", "c@d.org"}));
}
