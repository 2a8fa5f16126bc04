#include "HelloWindow.h"

#include "ui_HelloWindow.h"

#include <QPushButton>

#include <stdexcept>

HelloWindow::HelloWindow(QWidget* Parent) : QMainWindow(Parent), FUi(std::make_unique<Ui::HelloWindow>())
{
  FUi->setupUi(this);
  connect(FUi->ButtonThrow, &QPushButton::clicked, this, &HelloWindow::ThrowError);
}

HelloWindow::~HelloWindow() = default;

void HelloWindow::ClickThrow()
{
  QMetaObject::invokeMethod(FUi->ButtonThrow, &QPushButton::click, Qt::QueuedConnection);
}

// Nobody catches this: the application object hands it to the component.
void HelloWindow::ThrowError()
{
  throw std::runtime_error(FMessage.toStdString());
}
