#pragma once

// Ids of the main dialog's controls, numbered as in its template, which binds each of its rows to
// the window's member by them, and its two timers.
namespace trevane {

// The status poll while connected, and the progress bar's once a test has started.
inline constexpr int kStatusTimer = 1;
inline constexpr int kProgressTimer = 2;
inline constexpr int kTimerPeriodMs = 10;

inline constexpr int IDCANCEL = 2;

inline constexpr int IDC_CONNECT = 1000;
inline constexpr int IDC_STATUSLIST = 1001;
inline constexpr int IDC_TRANSCRIPT = 1003;
inline constexpr int IDC_COMMAND = 1004;
inline constexpr int IDC_TURNON = 1005;
inline constexpr int IDC_IPADDRESS = 1006;
inline constexpr int IDC_TURNOFF = 1008;
inline constexpr int IDC_PREPAREMOTION = 1009;
inline constexpr int IDC_EXITMOTION = 1010;
inline constexpr int IDC_PROGRESS = 1011;
inline constexpr int IDC_RUNTEST = 1012;
inline constexpr int IDC_TESTSTATUS = 1014;
inline constexpr int IDC_JOGUP = 1015;
inline constexpr int IDC_JOGDOWN = 1019;
inline constexpr int IDC_SPEED = 1020;
inline constexpr int IDC_AXIS_X = 1023;
inline constexpr int IDC_AXIS_Y = 1024;
inline constexpr int IDC_AXIS_Z = 1025;
inline constexpr int IDC_AXIS_W = 1026;
inline constexpr int IDC_DUMPPROGRAM = 1027;
inline constexpr int IDC_SETZERO = 1028;
inline constexpr int IDC_OPENLOGFOLDER = 1029;

}  // namespace trevane
