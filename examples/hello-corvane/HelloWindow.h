#pragma once
// The main window, built from HelloWindow.ui: a button whose click handler
// throws, and the component that reports what nobody catches.

#include <QMainWindow>
#include <QString>

#include <memory>

namespace Ui {
class HelloWindow;
}

class HelloWindow : public QMainWindow {
  Q_OBJECT
public:
  explicit HelloWindow(QWidget* Parent = nullptr);
  ~HelloWindow() override;

  void SetMessage(const QString& Message) { FMessage = Message; }
  // Clicks the button as a user would: the click runs in an event of its own.
  void ClickThrow();

private:
  [[noreturn]] void ThrowError();

  std::unique_ptr<Ui::HelloWindow> FUi;
  QString FMessage = QStringLiteral("Hello from hello-corvane");
};
