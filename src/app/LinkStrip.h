#pragma once

#include <QWidget>

class QLabel;

namespace trevane {

// One line under the dialog's controls that tells the operator about the link, so that the
// window's title can stay the program's name. Each field has its own setter; fields not yet
// set take no room.
class LinkStrip : public QWidget {
    Q_OBJECT
  public:
    explicit LinkStrip(QWidget* parent = nullptr);

    // How fresh the status table is: "connecting", "100 polls/s, 0.2 ms", "values 1.4 s old".
    void SetLinkText(const QString& text);
    QString LinkText() const;

    // The height the window grows by to make room for the strip.
    int StripHeight() const;

  private:
    QLabel* link_ = nullptr;
};

}  // namespace trevane
