#include "package/designer/VesparoDesignerPlugin.h"

#include "package/Vesparo.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>

TVesparoDesignerPlugin::TVesparoDesignerPlugin(QObject* Parent) : QObject(Parent) {}

QString TVesparoDesignerPlugin::name() const { return QStringLiteral("Vesparo::TCVVesparo"); }

QString TVesparoDesignerPlugin::group() const { return Vesparo::PaletteGroup; }

QString TVesparoDesignerPlugin::toolTip() const { return QStringLiteral("TCVVesparo"); }

QString TVesparoDesignerPlugin::whatsThis() const
{
  return QStringLiteral("Reports every unhandled exception of the application when ActivateMLD is set.");
}

QString TVesparoDesignerPlugin::includeFile() const { return QStringLiteral("package/Vesparo.h"); }

QIcon TVesparoDesignerPlugin::icon() const
{
  QPixmap Picture(24, 24);
  Picture.fill(Qt::transparent);
  QPainter Painter(&Picture);
  Painter.setPen(Qt::darkRed);
  Painter.drawRect(1, 1, 21, 21);
  Painter.drawText(Picture.rect(), Qt::AlignCenter, QStringLiteral("CV"));
  return QIcon(Picture);
}

bool TVesparoDesignerPlugin::isContainer() const { return false; }

QWidget* TVesparoDesignerPlugin::createWidget(QWidget* Parent)
{
  auto* Component = new Vesparo::TCVVesparo(Parent);
  // Inside Designer the component shows as a box; a form loaded at run time
  // through QUiLoader keeps it hidden.
  if (FDesigning)
    Component->SetDesigning(true);
  return Component;
}

bool TVesparoDesignerPlugin::isInitialized() const { return FInitialized; }

void TVesparoDesignerPlugin::initialize(QDesignerFormEditorInterface* Core)
{
  // Only the designer passes its form editor; QUiLoader passes none.
  FDesigning = Core != nullptr;
  FInitialized = true;
}

QString TVesparoDesignerPlugin::domXml() const
{
  // ActivateMLD has no default: it is always stored with the form.
  return QStringLiteral(
    "<ui language=\"c++\">\n"
    " <widget class=\"Vesparo::TCVVesparo\" name=\"CVVesparo1\">\n"
    "  <property name=\"geometry\"><rect><x>0</x><y>0</y><width>32</width><height>32</height></rect></property>\n"
    "  <property name=\"ActivateMLD\"><bool>false</bool></property>\n"
    " </widget>\n"
    "</ui>\n");
}
