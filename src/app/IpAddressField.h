#pragma once

#include <array>
#include <optional>

#include <QLineEdit>
#include <QString>

namespace trevane {

// The address field: four numbers from 0 to 255, typed as dotted text. It never holds anything
// else, so Connect always gets an IPv4 address in dotted form.
class IpAddressField final : public QLineEdit {
    Q_OBJECT
  public:
    explicit IpAddressField(QWidget* parent = nullptr);

    // Four numbers 0..255 separated by dots, each of one to three digits; nothing else.
    static std::optional<std::array<int, 4>> ParseDotted(const QString& text);

    // Shows `text` when it is a dotted IPv4 address, else `fallback` (which must be one).
    void SetAddress(const QString& text, const QString& fallback);

    // The four numbers as "a.b.c.d"; a field left blank reads as 0.
    QString AddressText() const;
};

}  // namespace trevane
