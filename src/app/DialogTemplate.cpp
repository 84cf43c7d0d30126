#include "app/DialogTemplate.h"

#include "app/ControlIds.h"

namespace trevane {

using K = ControlKind;

const std::array<ControlTemplate, 27> kMainDialogControls = {{
    {IDCANCEL, "IDCANCEL", K::PushButton, "Cancel", {492, 334, 50, 14}},
    {IDC_CONNECT, "IDC_CONNECT", K::PushButton, "Connect", {93, 7, 49, 13}},
    {IDC_STATUSLIST, "IDC_STATUSLIST", K::StatusList, "", {7, 178, 375, 170}},
    {IDC_TRANSCRIPT, "IDC_TRANSCRIPT", K::Transcript, "", {7, 31, 268, 114}},
    {IDC_COMMAND, "IDC_COMMAND", K::CommandEntry, "", {7, 145, 267, 13}},
    {IDC_TURNON, "IDC_TURNON", K::PushButton, "Turn On", {293, 21, 72, 18}},
    {IDC_IPADDRESS, "IDC_IPADDRESS", K::IpAddress, "", {7, 7, 84, 13}},
    {IDC_TURNOFF, "IDC_TURNOFF", K::PushButton, "Turn Off", {293, 44, 72, 18}},
    {IDC_PREPAREMOTION, "IDC_PREPAREMOTION", K::PushButton, "Prepare Motion", {293, 69, 72, 18}},
    {IDC_EXITMOTION, "IDC_EXITMOTION", K::PushButton, "Exit Motion", {293, 95, 72, 18}},
    {IDC_PROGRESS, "IDC_PROGRESS", K::ProgressBar, "", {397, 177, 104, 13}},
    {IDC_RUNTEST, "IDC_RUNTEST", K::PushButton, "Run Auto Test", {396, 156, 106, 17}},
    {kNoControlId, "IDC_STATIC_DIAGNOSTICS", K::GroupBox, "Diagnostics", {389, 145, 153, 166}},
    {IDC_TESTSTATUS, "IDC_TESTSTATUS", K::StatusText, "Not Running", {400, 196, 101, 24}},
    {IDC_JOGUP, "IDC_JOGUP", K::JogUpButton, "Up", {441, 15, 43, 23}},
    {kNoControlId, "IDC_STATIC_JOG", K::GroupBox, "Jog", {389, 7, 153, 138}},
    {IDC_JOGDOWN, "IDC_JOGDOWN", K::JogDownButton, "Down", {441, 39, 43, 23}},
    {IDC_SPEED, "IDC_SPEED", K::Slider, "", {503, 18, 30, 72}},
    {kNoControlId, "IDC_STATIC_SPEED", K::CentredText, "Speed", {501, 90, 32, 9}},
    {IDC_AXIS_X, "IDC_AXIS_X", K::CheckBox, "X", {395, 21, 27, 9}},
    {IDC_AXIS_Y, "IDC_AXIS_Y", K::CheckBox, "Y", {395, 31, 27, 9}},
    {IDC_AXIS_Z, "IDC_AXIS_Z", K::CheckBox, "Z", {395, 42, 27, 9}},
    {IDC_AXIS_W, "IDC_AXIS_W", K::CheckBox, "W", {395, 53, 27, 9}},
    {kNoControlId, "IDC_STATIC_MACROS", K::GroupBox, "Macros", {279, 7, 103, 138}},
    {IDC_DUMPPROGRAM, "IDC_DUMPPROGRAM", K::PushButton, "Dump Program Code", {397, 235, 104, 20}},
    {IDC_SETZERO, "IDC_SETZERO", K::PushButton, "DP0,0,0,0", {397, 118, 75, 18}},
    {IDC_OPENLOGFOLDER, "IDC_OPENLOGFOLDER", K::PushButton, "Open Log Folder", {397, 261, 103, 21}},
}};

bool IsTabStop(ControlKind kind) {
    switch (kind) {
        case K::ProgressBar:
        case K::GroupBox:
        case K::StatusText:
        case K::CentredText:
            return false;
        default:
            return true;
    }
}

}  // namespace trevane
