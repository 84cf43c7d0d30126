#include <windows.h>

#include <QFontInfo>

#include <gtest/gtest.h>

#include "app/DialogUnits.h"

namespace trevane {
namespace {

// Base units as the Windows dialog framework takes them: "MS Shell Dlg" at 8 points on the
// screen's DPI, the 52 letters' width halved and rounded, the font's height.
DialogBaseUnits GdiBaseUnits() {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    LOGFONTW description{};
    description.lfHeight = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
    wcscpy_s(description.lfFaceName, L"MS Shell Dlg");
    HFONT font = CreateFontIndirectW(&description);
    HGDIOBJ previous = SelectObject(dc, font);
    const wchar_t letters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE extent{};
    GetTextExtentPoint32W(dc, letters, 52, &extent);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    DeleteObject(font);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return {(extent.cx / 26 + 1) / 2, static_cast<int>(metrics.tmHeight)};
}

// The window lays its controls out in the font Windows itself would use for the template; a
// dialog measured in the platform's default font instead comes out another size.
TEST(DialogFontOnWindows, TheDialogFontIsTheOneMsShellDlgStandsForAndMeasuresAsWindowsDoes) {
    const QFont font = DialogFont();
    EXPECT_EQ(QFontInfo(font).family(), font.family()) << "the font is not installed";
    EXPECT_NE(font.family(), QStringLiteral("MS Shell Dlg"));
    const DialogBaseUnits ours = BaseUnitsOf(font);
    const DialogBaseUnits windows = GdiBaseUnits();
    // Two rasterisers may round a glyph's advance apart by a pixel over the 52 letters.
    EXPECT_NEAR(ours.averageCharWidth, windows.averageCharWidth, 0);
    EXPECT_NEAR(ours.charHeight, windows.charHeight, 1);
}

}  // namespace
}  // namespace trevane
