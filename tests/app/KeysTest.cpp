#include <filesystem>
#include <map>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/AboutBox.h"
#include "app/IpAddressField.h"
#include "app/WindowHarness.h"

namespace trevane::testing {
namespace {

using KeysTest = WindowTest;

// Stands in for the desktop's file browser.
class FolderOpener : public QObject {
    Q_OBJECT
  public:
    FolderOpener() { QDesktopServices::setUrlHandler("file", this, "Open"); }
    ~FolderOpener() override { QDesktopServices::unsetUrlHandler("file"); }
    QList<QUrl> opened;
  public slots:
    void Open(const QUrl& url) { opened.append(url); }
};

TEST_F(KeysTest, EnterOnAControlThatDoesNotTakeItEndsTheDialogAsOk) {
    using Control = QWidget* (*)(const MainWindow&);
    const Control controls[] = {
        [](const MainWindow& dialog) -> QWidget* { return dialog.AddressField(); },
        [](const MainWindow& dialog) -> QWidget* { return dialog.StatusList(); },
        [](const MainWindow& dialog) -> QWidget* { return dialog.SpeedSlider(); },
        [](const MainWindow& dialog) -> QWidget* { return dialog.AxisBox(3); },
    };
    for (const Control control : controls) {
        MainWindow& dialog = OpenDialog();
        QWidget* widget = control(dialog);
        const std::string name = widget->objectName().toStdString();
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key_Return);
        EXPECT_FALSE(dialog.isVisible()) << name;
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << name;
        EXPECT_EQ(g_mainWindow, nullptr) << name;
        CloseDialog();
    }
}

TEST_F(KeysTest, EscapeCancelAndTheCloseBoxEndTheDialog) {
    MainWindow* dialog = &OpenDialog();
    QTest::keyClick(dialog->Transcript(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    CloseDialog();

    dialog = &OpenDialog();
    QTest::mouseClick(dialog->CancelButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    CloseDialog();

    dialog = &OpenDialog();
    EXPECT_TRUE(dialog->close());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(KeysTest, EnterOnAFocusedButtonClicksIt) {
    FolderOpener opener;
    MainWindow& dialog = OpenDialog();
    auto* button = dialog.OpenLogFolderButton();
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(opener.opened.size(), 1);
    EXPECT_EQ(std::filesystem::path(opener.opened[0].toLocalFile().toStdString()),
              std::filesystem::current_path());

    button = dialog.CancelButton();
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected) << "Enter on Cancel is Cancel";
}

TEST_F(KeysTest, EnterInTheTranscriptBreaksTheLine) {
    MainWindow& dialog = OpenDialog();
    auto* transcript = Dialog().Transcript();
    transcript->setFocus();
    QTest::keyClicks(transcript, "a");
    QTest::keyClick(transcript, Qt::Key_Return);
    QTest::keyClicks(transcript, "b");
    EXPECT_EQ(transcript->toPlainText(), "a\nb");
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(KeysTest, ResizingLeavesEveryControlWhereItWas) {
    MainWindow& dialog = OpenDialog();
    std::map<QWidget*, QRect> before;
    for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        before[child] = child->geometry();
    }
    dialog.resize(dialog.width() + 200, dialog.height() + 150);
    QApplication::processEvents();
    dialog.resize(dialog.width() / 2, dialog.height() / 2);
    QApplication::processEvents();
    for (const auto& [child, rect] : before) {
        EXPECT_EQ(child->geometry(), rect) << child->objectName().toStdString();
    }
}

TEST_F(KeysTest, TheWindowMenuEndsWithASeparatorAndTheAboutEntry) {
    MainWindow& dialog = OpenDialog();
    const QList<QAction*> actions = dialog.SystemMenu()->actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    EXPECT_EQ(actions.back()->text(), "&About Ostrel...");

    // A right click on the dialog opens the menu.
    bool shown = false;
    QTimer::singleShot(0, [&] {
        shown = dialog.SystemMenu()->isVisible();
        dialog.SystemMenu()->close();
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            dialog.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&dialog, &click);
    EXPECT_TRUE(shown);
}

TEST_F(KeysTest, TheAboutBoxIsModalOverTheWindow) {
    MainWindow& dialog = OpenDialog();
    QString title, text, ok;
    bool okIsDefault = false, iconShown = false;
    QWidget* owner = nullptr;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* about = qobject_cast<AboutBox*>(modal);
        if (about == nullptr) {
            if (modal != nullptr) {
                modal->close();
            }
            return;
        }
        owner = about->parentWidget();
        title = about->windowTitle();
        for (auto* label : about->findChildren<QLabel*>()) {
            iconShown = iconShown || !label->pixmap().isNull();
            if (!label->text().isEmpty()) {
                text = label->text();
            }
        }
        auto* button = about->findChild<QPushButton*>();
        ok = button->text();
        okIsDefault = button->isDefault();
        QTest::keyClick(about, Qt::Key_Escape);
    });
    dialog.SystemMenu()->actions().back()->trigger();
    EXPECT_EQ(owner, &dialog) << "the About box is modal over the main window";
    EXPECT_EQ(title, "About Ostrel");
    EXPECT_EQ(text, "Ostrel, Version 1.0");
    EXPECT_EQ(ok, "OK");
    EXPECT_TRUE(okIsDefault);
    EXPECT_TRUE(iconShown);
    EXPECT_TRUE(dialog.isVisible()) << "closing the About box leaves the window open";
}

}  // namespace
}  // namespace trevane::testing

#include "KeysTest.moc"
