#include "app/DialogUnits.h"

#include <QApplication>
#include <QFontMetrics>
#include <QSettings>

namespace trevane {
namespace {

// value * numerator / denominator rounded to the nearest integer, halves away from zero.
int MulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

}  // namespace

QFont DialogFont() {
#ifdef Q_OS_WIN
    // The template's "MS Shell Dlg" is no font but a name the registry maps to one (Microsoft
    // Sans Serif on Windows, Tahoma under Wine); the dialog framework measures with that one.
    const QSettings substitutes(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows "
                                               "NT\\CurrentVersion\\FontSubstitutes"),
                                QSettings::NativeFormat);
    const QString family = substitutes.value(QStringLiteral("MS Shell Dlg")).toString();
    if (!family.isEmpty()) {
        return QFont(family, 8);
    }
#endif
    QFont font = QApplication::font();
    font.setPointSize(8);
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.height()};
}

// Each edge is mapped and rounded on its own, as the dialog framework does, so neighbouring
// controls that share an edge in dialog units share it in pixels too.
QRect MapDialogRect(const DialogBaseUnits& units, const QRect& dialogUnits) {
    const int left = MulDiv(dialogUnits.x(), units.averageCharWidth, 4);
    const int top = MulDiv(dialogUnits.y(), units.charHeight, 8);
    const int right = MulDiv(dialogUnits.x() + dialogUnits.width(), units.averageCharWidth, 4);
    const int bottom = MulDiv(dialogUnits.y() + dialogUnits.height(), units.charHeight, 8);
    return QRect(left, top, right - left, bottom - top);
}

QSize MapDialogSize(const DialogBaseUnits& units, const QSize& dialogUnits) {
    return QSize(MulDiv(dialogUnits.width(), units.averageCharWidth, 4),
                 MulDiv(dialogUnits.height(), units.charHeight, 8));
}

}  // namespace trevane
