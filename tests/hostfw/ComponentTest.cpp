#include "hostfw/Component.h"

#include <QCoreApplication>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

namespace {
class TProbe : public Component::TComponent {
public:
  using TComponent::TComponent;
  int LoadedCalls = 0;
  int ValueAtLoaded = -1;
  int Value = 0;

protected:
  void Loaded() override
  {
    ++LoadedCalls;
    ValueAtLoaded = Value;
  }
};
}  // namespace

TEST(Component, LoadedRunsOnceAfterThePropertiesOfTheForm)
{
  QWidget Form;
  auto* Probe = new TProbe(&Form);
  Probe->Value = 7;  // set after construction, as form code does
  EXPECT_EQ(Probe->LoadedCalls, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(Probe->LoadedCalls, 1);
  EXPECT_EQ(Probe->ValueAtLoaded, 7);
  Probe->LoadedNow();
  QCoreApplication::processEvents();
  EXPECT_EQ(Probe->LoadedCalls, 1);
}

TEST(Component, LoadedNowDeliversEarlyAndOnlyOnce)
{
  TProbe Probe;
  Probe.LoadedNow();
  EXPECT_TRUE(Probe.IsLoaded());
  QCoreApplication::processEvents();
  EXPECT_EQ(Probe.LoadedCalls, 1);
}

TEST(Component, NeverShowsAndTakesNoRoomAtRunTime)
{
  QWidget Form;
  auto* Layout = new QVBoxLayout(&Form);
  auto* Above = new QWidget;
  Above->setMinimumHeight(40);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);
  Layout->addWidget(Above);
  auto* Probe = new TProbe;
  Layout->addWidget(Probe);
  Form.show();
  Probe->show();
  QCoreApplication::processEvents();
  EXPECT_FALSE(Probe->isVisible());
  EXPECT_EQ(Form.sizeHint().height(), 40);

  // In a form designer it is a small box that can be picked.
  Probe->SetDesigning(true);
  EXPECT_TRUE(Probe->isVisible());
  EXPECT_EQ(Probe->sizeHint(), QSize(32, 32));
}
