#include "app/TextBridge.h"

#include <QByteArray>

namespace trevane {

QString FromWire(const std::string& text) {
    QString wide = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
    wide.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return wide;
}

std::string ToWire(const QString& text) {
    QString crlf = text;
    // A bare CR pasted from elsewhere is one line break too; every break leaves as CR LF.
    crlf.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    crlf.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    crlf.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    crlf.replace(QChar::LineSeparator, QLatin1Char('\n'));
    crlf.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    const QByteArray bytes = crlf.toLocal8Bit();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace trevane
