#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// Dialog templates give positions in dialog units: a quarter of the dialog font's average
// character width across, an eighth of its character height down. Converting them the way the
// reference platform does keeps every control's proportions to the text it holds.
namespace trevane {

struct DialogBaseUnits {
    int averageCharWidth = 0;
    int charHeight = 0;
};

// The dialog font at 8 points: on Windows the font "MS Shell Dlg" stands for, elsewhere the
// platform's default.
QFont DialogFont();

// The average width is that of the 52 Latin letters, divided by 52 and rounded.
DialogBaseUnits BaseUnitsOf(const QFont& font);

QRect MapDialogRect(const DialogBaseUnits& units, const QRect& dialogUnits);
QSize MapDialogSize(const DialogBaseUnits& units, const QSize& dialogUnits);

}  // namespace trevane
