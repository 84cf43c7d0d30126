#include "app/AboutBox.h"

#include <QLabel>
#include <QPushButton>

#include "app/AppIcon.h"
#include "app/DialogTemplate.h"
#include "app/DialogUnits.h"

namespace trevane {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("IDD_ABOUTBOX"));
    setWindowTitle(QStringLiteral("About Ostrel"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    const DialogBaseUnits units = BaseUnitsOf(font());
    setFixedSize(MapDialogSize(units, kAboutBoxSize));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("IDR_MAINFRAME"));
    const QRect iconRect = MapDialogRect(units, kAboutIconRect);
    icon->setGeometry(iconRect);
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    icon->setPixmap(AppIcon().pixmap(std::min(iconRect.width(), iconRect.height())));

    auto* text = new QLabel(QStringLiteral("Ostrel, Version 1.0"), this);
    text->setObjectName(QStringLiteral("IDC_STATIC_VERSION"));
    text->setTextFormat(Qt::PlainText);
    text->setGeometry(MapDialogRect(units, kAboutTextRect));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setGeometry(MapDialogRect(units, kAboutOkRect));
    ok->setDefault(true);
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace trevane
