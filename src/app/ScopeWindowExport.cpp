// The Scope's export of what it shows, as CSV records or a PNG picture.
#include <charconv>
#include <string>

#include <QBuffer>
#include <QFileDialog>
#include <QMessageBox>

#include "app/ScopeWindow.h"
#include "common/CLocale.h"
#include "common/FileReplace.h"
#include "console/StatusMonitor.h"

namespace trevane {
namespace {

// Six decimals with a point whatever the locale, as `record --watch` writes its time.
std::string SecondsText(double seconds) {
    char text[48];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed, 6);
    return ec == std::errc{} ? std::string(text, end) : std::string("0");
}

}  // namespace

QString ScopeWindow::ExportCsv(const QString& path) const {
    if (!drawn_ || traces_.empty()) {
        return QStringLiteral("Nothing is shown to export to %1").arg(path);
    }
    std::string csv = "time_s";  // seconds from the trigger, or the newest record
    for (const ScopeTrace& trace : traces_) {
        csv += ',' + RecordFieldName(trace.channel.axis, trace.channel.row);
    }
    csv += '\n';
    for (const scope::ScopeBuffer::Row& row : buffer_.Rows(drawn_->start, drawn_->end)) {
        csv += SecondsText(std::chrono::duration<double>(row.time - drawn_->origin).count());
        for (const ScopeTrace& trace : traces_) {
            csv += ',' + FormatInt(row.values[trace.channel.Index()]);
        }
        csv += '\n';
    }
    const auto failure = ReplaceFileAtomically(path.toStdString(), csv);  // a path is UTF-8
    return failure ? QString::fromStdString(*failure) : QString();
}

QString ScopeWindow::ExportPng(const QString& path) const {
    QByteArray bytes;
    QBuffer device(&bytes);
    device.open(QIODevice::WriteOnly);
    if (!plot_->toPixmap().save(&device, "PNG")) {
        return QStringLiteral("Could not make the PNG image for %1").arg(path);
    }
    const auto failure = ReplaceFileAtomically(
        path.toStdString(),
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    return failure ? QString::fromStdString(*failure) : QString();
}

void ScopeWindow::OnExportClicked(bool png) {
    const QString path = png ? QFileDialog::getSaveFileName(this, QStringLiteral("Export PNG"),
                                                            QStringLiteral("scope.png"),
                                                            QStringLiteral("PNG (*.png)"))
                             : QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"),
                                                            QStringLiteral("scope.csv"),
                                                            QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) {
        return;
    }
    if (const QString failure = png ? ExportPng(path) : ExportCsv(path); !failure.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Scope"), failure);
    }
}

}  // namespace trevane
