#pragma once

#include <chrono>

#include <QColor>
#include <QLabel>
#include <QWidget>

namespace trevane {

// A label that shows what fits of its text, ending in "...", and the whole text as its tooltip;
// it never asks for more room than the strip gives it.
class ElidedLabel final : public QLabel {
    Q_OBJECT
  public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void SetFullText(const QString& text);
    QString FullText() const { return full_; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Elide();
    QString full_;
};

// "last error 3 min ago: 1 Unrecognized command"; "just now" under a second.
QString LastErrorText(const QString& reason, std::chrono::seconds age);

// One line under the dialog's controls that tells the operator about the link, the last test and
// the last failure, so that the window's title can stay the program's name. Each field has its
// own setter; fields not yet set take no room.
class LinkStrip : public QWidget {
    Q_OBJECT
  public:
    explicit LinkStrip(QWidget* parent = nullptr);

    // How fresh the status table is: "connecting", "100 polls/s, 0.2 ms", "values 1.4 s old".
    void SetLinkText(const QString& text);
    QString LinkText() const;

    // Where the connected sessions lead ("127.0.0.1:5023"); empty while there is no connection.
    void SetEndpoint(const QString& endpoint);
    QString EndpointText() const;

    // That the Traffic window is recording, and where: "recording to trace.txt: 120 exchanges".
    void SetRecording(const QString& text);
    QString RecordingText() const;

    // What the last jog press could not move, and why: "W cannot be jogged" (empty clears it).
    void SetJogNotice(const QString& text);
    QString JogNoticeText() const;

    // The last test's verdict in its colour, until the next test starts (empty text clears it).
    void SetVerdict(const QString& text, const QColor& colour);
    QString VerdictText() const;
    QColor VerdictColour() const;

    // Why the last command failed, with its age: "last error 3 min ago: 1 Unrecognized command".
    void SetLastError(const QString& text);
    QString LastErrorText() const;

    // The height the window grows by to make room for the strip.
    int StripHeight() const;

  private:
    QLabel* link_ = nullptr;
    QLabel* endpoint_ = nullptr;
    QLabel* recording_ = nullptr;
    QLabel* jog_ = nullptr;
    ElidedLabel* verdict_ = nullptr;
    ElidedLabel* error_ = nullptr;
};

}  // namespace trevane
