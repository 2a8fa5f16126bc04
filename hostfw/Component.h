#pragma once
// The base of non-visual components. A form designer places only widgets, so
// a component is a widget that never shows and takes no room at run time; its
// form owns it. Loaded() is called once, after the form's stored properties
// have been applied, whether the form was built by uic code, by QUiLoader or
// in code: the constructor posts the notification, and it is delivered when
// control first returns to the event loop (or when LoadedNow is called), by
// which time every property set during construction of the form is in place.

#include <QWidget>

namespace Component {

class TComponent : public QWidget {
  Q_OBJECT
public:
  explicit TComponent(QWidget* AOwner = nullptr);
  ~TComponent() override;

  // Delivers Loaded now if it has not been delivered yet.
  void LoadedNow();
  bool IsLoaded() const { return FLoaded; }

  // Inside a form designer the component is drawn as a small labelled box
  // so that it can be picked; at run time it stays hidden.
  void SetDesigning(bool Designing);
  bool Designing() const { return FDesigning; }

  void setVisible(bool Visible) override;
  QSize sizeHint() const override;

protected:
  virtual void Loaded();
  bool event(QEvent* Event) override;
  void paintEvent(QPaintEvent* Event) override;

private:
  bool FLoaded = false;
  bool FDesigning = false;
};

}  // namespace Component
