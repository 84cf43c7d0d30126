#include "app/WindowHarness.h"

#include <bit>
#include <clocale>
#include <fstream>
#include <string>

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

#include "app/CommandField.h"
#include "autotest/TestRunner.h"
#include "common/Clock.h"
#include "link/ControllerLink.h"

namespace trevane::testing {
namespace {

// One QApplication for the whole test program, made the way the window program makes it. Qt
// sets the process locale from the environment; the decimal-comma locale that the test main
// chose is put back afterwards so that number formatting stays under test.
class QtEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
#ifdef TREVANE_TEST_FONT_DIR
        // Wine hands no QT_ variable on, and offscreen on Windows draws only fonts of its folder.
        if (qEnvironmentVariableIsEmpty("QT_QPA_FONTDIR")) {
            qputenv("QT_QPA_FONTDIR", TREVANE_TEST_FONT_DIR);
        }
#endif
        const std::string locale = std::setlocale(LC_ALL, nullptr);
        application_ = std::make_unique<QApplication>(argc_, argv_);
        // Nothing a test does reaches the user's own data folder.
        QStandardPaths::setTestModeEnabled(true);
        std::setlocale(LC_ALL, locale.c_str());
    }
    void TearDown() override {
        application_.reset();
    }

  private:
    int argc_ = 1;
    char name_[24] = "trevane_window_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] const ::testing::Environment* const g_qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// "Show Details..." is the box's own, not a button of its caller.
int StandardButtons(const QMessageBox& box) {
    return std::popcount(static_cast<unsigned>(box.standardButtons().toInt()));
}

}  // namespace

void WindowTest::SetUp() {
    SetCommandHistoryFile(HistoryFile());
    machine_ = std::make_shared<sim::Machine>(SystemClockShared());
    SetSessionFactory(sim::InProcessSessionFactory(machine_));
}

void WindowTest::TearDown() {
    CloseDialog();
    SetCommandHistoryFile(std::nullopt);
}

MainWindow& WindowTest::OpenDialog() {
    dialog_ = std::make_unique<MainWindow>(*controller_);
    dialog_->show();
    dialog_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
    return *dialog_;
}

void WindowTest::CloseDialog() {
    if (dialog_) {
        dialog_->reject();
        dialog_.reset();
    }
}

void WindowTest::WriteConfig(const std::string& contents, const std::filesystem::path& folder) {
    std::ofstream(folder / "PelornControl.ini", std::ios::binary) << contents;
}

void WindowTest::Connect() {
    // Whatever the field shows by default, tests only ever talk to loopback.
    dialog_->SetAddressText("127.0.0.1");
    Dialog().ConnectButton()->click();
    ASSERT_TRUE(Connected());
}

QString WindowTest::HistoryFile() const {
    return QString::fromStdString((workDir_ / "data" / "command-history.txt").string());
}

QString WindowTest::Transcript() {
    return Dialog().Transcript()->toPlainText();
}

MessageBoxWatcher::MessageBoxWatcher() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(5);
}

void MessageBoxWatcher::Poll() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box == nullptr || !box->isVisible()) {
            continue;
        }
        seen_.push_back({box->windowTitle(), box->text(), box->detailedText(), box->icon(),
                         StandardButtons(*box), box->button(QMessageBox::Ok) != nullptr,
                         box->parentWidget()});
        if (whileOpen) {
            whileOpen();
        }
        box->button(QMessageBox::Ok)->click();
    }
}

}  // namespace trevane::testing
