#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace trevane {

// "About Ostrel": the icon, the name and version, and OK.
class AboutBox final : public QDialog {
    Q_OBJECT
  public:
    explicit AboutBox(QWidget* parent = nullptr);
};

}  // namespace trevane
