#include <string>
#include <vector>

#include <QFont>
#include <QRect>

#include <gtest/gtest.h>

#include "app/DialogTemplate.h"
#include "app/DialogUnits.h"

namespace trevane {
namespace {

// The framework's rectangle: the four edges in dialog units, each mapped and rounded to the
// nearest pixel (halves up; no template coordinate is negative).
QRect FromEdges(const DialogBaseUnits& units, const QRect& dlu) {
    auto x = [&](int value) { return (value * units.averageCharWidth + 2) / 4; };
    auto y = [&](int value) { return (value * units.charHeight + 4) / 8; };
    const int left = x(dlu.x());
    const int top = y(dlu.y());
    const int right = x(dlu.x() + dlu.width());
    const int bottom = y(dlu.y() + dlu.height());
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

TEST(DialogUnits, EveryControlIsMappedByItsEdgesAtTwoFontSizes) {
    QFont large = DialogFont();
    large.setPointSize(14);
    const std::vector<DialogBaseUnits> fonts = {BaseUnitsOf(DialogFont()), BaseUnitsOf(large)};
    ASSERT_NE(fonts[0].averageCharWidth, fonts[1].averageCharWidth);
    for (const DialogBaseUnits& units : fonts) {
        SCOPED_TRACE("base units " + std::to_string(units.averageCharWidth) + " x " +
                     std::to_string(units.charHeight));
        for (const ControlTemplate& control : kMainDialogControls) {
            SCOPED_TRACE(control.name);
            EXPECT_EQ(MapDialogRect(units, control.rect), FromEdges(units, control.rect));
        }
        for (const QRect& rect : {kAboutIconRect, kAboutTextRect, kAboutOkRect}) {
            EXPECT_EQ(MapDialogRect(units, rect), FromEdges(units, rect));
        }
    }
}

TEST(DialogUnits, SizesFollowFromTheRoundedEdges) {
    // The base units of the 8-point dialog font on the reference platform.
    const DialogBaseUnits units{7, 13};
    const auto rectOf = [&](const char* name) {
        for (const ControlTemplate& control : kMainDialogControls) {
            if (std::string(control.name) == name) {
                return MapDialogRect(units, control.rect);
            }
        }
        ADD_FAILURE() << name;
        return QRect();
    };
    EXPECT_EQ(rectOf("IDC_STATUSLIST"), QRect(12, 289, 657, 277));
    EXPECT_EQ(rectOf("IDC_CONNECT"), QRect(163, 11, 86, 22));
    // Controls that touch in dialog units touch in pixels: the command entry starts where the
    // transcript ends.
    EXPECT_EQ(rectOf("IDC_TRANSCRIPT").bottom() + 1, rectOf("IDC_COMMAND").top());
}

}  // namespace
}  // namespace trevane
