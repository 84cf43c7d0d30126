#include <string>

#include <QRect>

#include <gtest/gtest.h>

#include "app/DialogTemplate.h"
#include "app/DialogUnits.h"

namespace trevane {
namespace {

// Each edge rounded on its own: a size rounded by itself would leave gaps between neighbours.
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
