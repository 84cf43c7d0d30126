#pragma once

#include <array>

#include <QRect>
#include <QSize>

// The layout of the main dialog and the About box: every control with its id, name, kind,
// caption and rectangle in dialog units, in template order, which is also the tab order.
namespace trevane {

enum class ControlKind {
    PushButton,
    JogUpButton,
    JogDownButton,
    StatusList,
    Transcript,
    CommandEntry,
    IpAddress,
    ProgressBar,
    GroupBox,
    StatusText,   // left-aligned static text that wraps
    CentredText,  // centred static text
    Slider,
    CheckBox,
};

inline constexpr int kNoControlId = -1;  // group boxes and labels

struct ControlTemplate {
    int id;
    const char* name;  // the widget's object name
    ControlKind kind;
    const char* caption;
    QRect rect;  // dialog units
};

inline constexpr QSize kMainDialogSize{549, 357};
extern const std::array<ControlTemplate, 27> kMainDialogControls;

// Whether the operator reaches the control with Tab.
bool IsTabStop(ControlKind kind);

inline constexpr QSize kAboutBoxSize{170, 62};
inline constexpr QRect kAboutIconRect{14, 14, 21, 20};
inline constexpr QRect kAboutTextRect{42, 14, 114, 8};
inline constexpr QRect kAboutOkRect{113, 41, 50, 14};

}  // namespace trevane
