#include "hostfw/Application.h"

#include "hostfw/Exceptions.h"
#include "tests/support/QueuedClick.h"
#include "tests/support/ShownBoxes.h"

#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

Application::TApplication& App() { return *Application::Instance(); }

struct TClearHandler {
  ~TClearHandler() { App().SetOnException({}); }
};

}  // namespace

TEST(Application, ExceptionEscapingAHandlerReachesOnExceptionWithItsSender)
{
  TClearHandler Clear;
  QPushButton Button;
  QObject::connect(&Button, &QPushButton::clicked, [] { throw std::runtime_error("clicked badly"); });
  QObject* Sender = nullptr;
  QString ClassName, Message;
  App().SetOnException([&](QObject* S, const std::exception_ptr& E) {
    Sender = S;
    ClassName = Exceptions::ClassNameOf(E);
    Message = Exceptions::MessageOf(E);
  });
  int Handled = 0;
  const auto Connection =
    QObject::connect(&App(), &Application::TApplication::ExceptionHandled, [&] { ++Handled; });
  TestSupport::ClickThroughEventLoop(Button);
  QObject::disconnect(Connection);
  EXPECT_EQ(Sender, &Button);
  EXPECT_EQ(ClassName, QStringLiteral("std::runtime_error"));
  EXPECT_EQ(Message, QStringLiteral("clicked badly"));
  EXPECT_EQ(Handled, 1);

  // The application goes on: the next event is handled as usual.
  bool Ran = false;
  QTimer::singleShot(0, [&] { Ran = true; });
  QCoreApplication::processEvents();
  EXPECT_TRUE(Ran);
}

TEST(Application, WithoutHandlerTheMessageIsShownInAnErrorBox)
{
  TestSupport::TShownBoxes Shown;
  App().SetTitle(QStringLiteral("Host title"));
  QPushButton Button;
  QObject::connect(&Button, &QPushButton::clicked, [] { throw std::out_of_range("index 3 out of range"); });
  TestSupport::ClickThroughEventLoop(Button);
  ASSERT_EQ(Shown.Texts.size(), 1);
  EXPECT_EQ(Shown.Texts[0], QStringLiteral("index 3 out of range"));
  EXPECT_EQ(Shown.Captions[0], QStringLiteral("Host title"));

  // A thrown value without message is named by its type.
  QObject::disconnect(&Button, nullptr, nullptr, nullptr);
  QObject::connect(&Button, &QPushButton::clicked, [] { throw 42; });
  TestSupport::ClickThroughEventLoop(Button);
  ASSERT_EQ(Shown.Texts.size(), 2);
  EXPECT_EQ(Shown.Texts[1], QStringLiteral("int"));
}

TEST(Application, AnExceptionFromTheHandlerIsShownAndTheApplicationGoesOn)
{
  TClearHandler Clear;
  TestSupport::TShownBoxes Shown;
  QPushButton Button;
  QObject::connect(&Button, &QPushButton::clicked, [] { throw std::runtime_error("first"); });
  App().SetOnException([](QObject*, const std::exception_ptr&) {
    throw EInOutError(QStringLiteral("I/O error 13: cannot write the report"), 13);
  });
  TestSupport::ClickThroughEventLoop(Button);
  ASSERT_EQ(Shown.Texts.size(), 1);
  EXPECT_EQ(Shown.Texts[0], QStringLiteral("I/O error 13: cannot write the report"));
  TestSupport::ClickThroughEventLoop(Button);
  EXPECT_EQ(Shown.Texts.size(), 2);
}

TEST(Application, HandlerOwnerIsKnownUntilReplacedOrCleared)
{
  TClearHandler Clear;
  QObject Owner;
  App().SetOnException([](QObject*, const std::exception_ptr&) {}, &Owner);
  EXPECT_EQ(App().OnExceptionOwner(), &Owner);
  EXPECT_TRUE(App().HasOnException());
  App().SetOnException({}, &Owner);
  EXPECT_EQ(App().OnExceptionOwner(), nullptr);
  EXPECT_FALSE(App().HasOnException());
}

TEST(Application, MessageBoxResultsAndProperties)
{
  App().SetModalHook([](QDialog& Dialog) {
    auto& Box = static_cast<QMessageBox&>(Dialog);
    Box.button(Box.standardButtons() & QMessageBox::No ? QMessageBox::No : QMessageBox::Cancel)->click();
  });
  EXPECT_EQ(App().MessageBox(QStringLiteral("Go?"), QStringLiteral("Q"), Application::MB_YESNO), Application::IDNO);
  EXPECT_EQ(App().MessageBox(QStringLiteral("Go?"), QStringLiteral("Q"), Application::MB_OKCANCEL),
            Application::IDCANCEL);
  App().SetModalHook({});

  EXPECT_TRUE(App().ExeName().endsWith(QStringLiteral("/test_hostfw_application")));
  QWidget Form;
  App().SetMainForm(&Form);
  EXPECT_EQ(App().MainForm(), &Form);
  EXPECT_EQ(App().Handle(), &Form);
}
