#pragma once
// Registers TCVVesparo with the form designer: the widget box shows it in
// group "Corvane", and the forms store its properties like any widget's.

#include <QObject>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

class TVesparoDesignerPlugin : public QObject, public QDesignerCustomWidgetInterface {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetInterface")
  Q_INTERFACES(QDesignerCustomWidgetInterface)

public:
  explicit TVesparoDesignerPlugin(QObject* Parent = nullptr);

  QString name() const override;
  QString group() const override;
  QString toolTip() const override;
  QString whatsThis() const override;
  QString includeFile() const override;
  QIcon icon() const override;
  bool isContainer() const override;
  QWidget* createWidget(QWidget* Parent) override;
  bool isInitialized() const override;
  void initialize(QDesignerFormEditorInterface* Core) override;
  QString domXml() const override;

private:
  bool FInitialized = false;
  bool FDesigning = false;
};
