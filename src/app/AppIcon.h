#pragma once

#include <QIcon>
#include <QPixmap>

namespace trevane {

// The application's icon, drawn here at 16, 24, 32, 48 and 256 pixels so that every size is
// sharp; there is no artwork file to lose.
QIcon AppIcon();
QPixmap DrawAppIcon(int size);

}  // namespace trevane
