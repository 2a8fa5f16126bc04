// On a real X server: a mouse click is fed in where the window system's
// input enters the application (press and release on a mapped window), its
// handler throws, and the application object catches the exception at the
// widget whose event was being handled, leaves the widget in a sane state
// and goes on.

#include "hostfw/Application.h"
#include "hostfw/Exceptions.h"
#include "tests/support/ShownBoxes.h"

#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {
Application::TApplication& App() { return *Application::Instance(); }
}  // namespace

TEST(ApplicationOnScreen, RealClickWhoseHandlerThrows)
{
  ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "screen tests run under xvfb-run";
  QWidget Form;
  auto* Layout = new QVBoxLayout(&Form);
  auto* Button = new QPushButton(QStringLiteral("Throw"));
  Layout->addWidget(Button);
  int Clicks = 0;
  QObject::connect(Button, &QPushButton::clicked, [&] {
    ++Clicks;
    throw std::runtime_error("thrown from a real click");
  });
  Form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));

  QObject* Sender = nullptr;
  QStringList Messages;
  App().SetOnException([&](QObject* S, const std::exception_ptr& E) {
    Sender = S;
    Messages << Exceptions::MessageOf(E);
  });
  QTest::mouseClick(Button, Qt::LeftButton);
  QTest::qWait(50);
  EXPECT_EQ(Sender, Button);
  EXPECT_EQ(Messages, QStringList{QStringLiteral("thrown from a real click")});
  EXPECT_FALSE(Button->isDown());

  // A second click is a click like the first: the button was not left stuck.
  QTest::mouseClick(Button, Qt::LeftButton);
  QTest::qWait(50);
  EXPECT_EQ(Clicks, 2);
  EXPECT_EQ(Messages.size(), 2);

  // Without a handler: the default presentation, on screen.
  App().SetOnException({});
  TestSupport::TShownBoxes Shown;
  QTest::mouseClick(Button, Qt::LeftButton);
  QTest::qWait(50);
  EXPECT_EQ(Shown.Texts, QStringList{QStringLiteral("thrown from a real click")});
}
