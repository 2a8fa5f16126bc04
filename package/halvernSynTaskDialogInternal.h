#pragma once
// What the sources of the task-dialog unit share beyond its public header.

#include "package/halvernSynTaskDialog.h"

#include <QFont>
#include <QString>
#include <QStringList>

namespace halvernSynTaskDialog {

// Text helpers (halvernSynTaskDialogText.cpp).

// A line list as the runtime's string lists read it: CR LF, LF or CR end a
// line; a last line break adds no empty line.
QStringList Lines(const QString& Text);
// How a label shows a text: line breaks of any kind break the line.
QString Displayed(const QString& Text);

// Measures (halvernSynTaskDialogGraphics.cpp), kept for the next dialog.

// The font's height in pixels, negative as the system's fonts keep it.
int FontHeight(const QFont& Font);
// The width of Text on one line in Font, as a canvas measures it.
int TextWidthIn(const QFont& Font, const QString& Text);
// The height of Text in Font, broken at words to fit Width.
int WrappedHeightIn(const QFont& Font, int Width, const QString& Text);
// Font at a height given as the system's fonts keep it (negative: pixels).
QFont WithHeight(QFont Font, int Height);

// The report hand-off (halvernSynTaskDialogHandOff.cpp), only in editions
// with Edition::ReportHandOff: once the emulated dialog has closed, however
// it closed, the comment block goes into the report, then the archive and
// its copy are made. A comment block that cannot be written raises; an
// archive or copy that cannot is kept in Task.PackingFailure.
void HandOnReport(TTaskDialog& Task, const QString& Comment);

}  // namespace halvernSynTaskDialog
