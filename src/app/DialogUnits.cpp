#include "app/DialogUnits.h"

#include <QApplication>
#include <QFontMetrics>

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

QRect MapDialogRect(const DialogBaseUnits& units, const QRect& dialogUnits) {
    return QRect(MulDiv(dialogUnits.x(), units.averageCharWidth, 4),
                 MulDiv(dialogUnits.y(), units.charHeight, 8),
                 MulDiv(dialogUnits.width(), units.averageCharWidth, 4),
                 MulDiv(dialogUnits.height(), units.charHeight, 8));
}

QSize MapDialogSize(const DialogBaseUnits& units, const QSize& dialogUnits) {
    return QSize(MulDiv(dialogUnits.width(), units.averageCharWidth, 4),
                 MulDiv(dialogUnits.height(), units.charHeight, 8));
}

}  // namespace trevane
