#pragma once

#include <string>

#include <QString>

// The boundary between the logic's 8-bit text (the local 8-bit encoding, lines ending CR LF)
// and the widgets' text (UTF-16, lines ending in a plain line feed).
namespace trevane {

QString FromWire(const std::string& text);
std::string ToWire(const QString& text);

}  // namespace trevane
