#include "app/IpAddressField.h"

#include <QStringList>
#include <QValidator>

namespace trevane {
namespace {

// Accepts what can still become four numbers 0..255: digits and at most three dots, no field
// longer than three digits or above 255.
class DottedQuadValidator final : public QValidator {
  public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override {
        const QStringList fields = input.split(QLatin1Char('.'));
        if (fields.size() > 4) {
            return Invalid;
        }
        bool complete = fields.size() == 4;
        for (const QString& field : fields) {
            if (field.size() > 3) {
                return Invalid;
            }
            for (QChar c : field) {
                if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                    return Invalid;
                }
            }
            if (field.isEmpty()) {
                complete = false;
            } else if (field.toInt() > 255) {
                return Invalid;
            }
        }
        return complete ? Acceptable : Intermediate;
    }
};

}  // namespace

IpAddressField::IpAddressField(QWidget* parent) : QLineEdit(parent) {
    setValidator(new DottedQuadValidator(this));
    setMaxLength(15);
}

std::optional<std::array<int, 4>> IpAddressField::ParseDotted(const QString& text) {
    const QStringList fields = text.split(QLatin1Char('.'));
    if (fields.size() != 4) {
        return std::nullopt;
    }
    std::array<int, 4> numbers{};
    for (int i = 0; i < 4; ++i) {
        const QString& field = fields[i];
        if (field.isEmpty() || field.size() > 3) {
            return std::nullopt;
        }
        for (QChar c : field) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                return std::nullopt;
            }
        }
        numbers[static_cast<std::size_t>(i)] = field.toInt();
        if (numbers[static_cast<std::size_t>(i)] > 255) {
            return std::nullopt;
        }
    }
    return numbers;
}

void IpAddressField::SetAddress(const QString& text, const QString& fallback) {
    const auto numbers = ParseDotted(text);
    setText(numbers ? QStringLiteral("%1.%2.%3.%4")
                          .arg((*numbers)[0])
                          .arg((*numbers)[1])
                          .arg((*numbers)[2])
                          .arg((*numbers)[3])
                    : fallback);
}

QString IpAddressField::AddressText() const {
    QStringList fields = text().split(QLatin1Char('.'));
    while (fields.size() < 4) {
        fields.append(QString());
    }
    QStringList numbers;
    for (int i = 0; i < 4; ++i) {
        numbers.append(QString::number(fields[i].toInt()));
    }
    return numbers.join(QLatin1Char('.'));
}

}  // namespace trevane
