// The dialog's controls: made from its template, and read and written for the logic.
#include <algorithm>
#include <vector>

#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTextCursor>
#include <QTextDocument>

#include "app/CommandField.h"
#include "app/ControlIds.h"
#include "app/IpAddressField.h"
#include "app/JogButtons.h"
#include "app/MainWindow.h"
#include "app/StatusTableModel.h"

namespace trevane {
namespace {

constexpr int kStatusColumnWidth = 100;  // pixels, whatever the font

QTableView* CreateStatusList(StatusTableModel* model, QWidget* parent) {
    auto* view = new QTableView(parent);
    view->setModel(model);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setStretchLastSection(false);
    const int rowHeight = parent->fontMetrics().height() + 4;
    view->verticalHeader()->setMinimumSectionSize(rowHeight);
    view->verticalHeader()->setDefaultSectionSize(rowHeight);
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    for (int column = 0; column < StatusTableModel::kColumns; ++column) {
        view->setColumnWidth(column, kStatusColumnWidth);
    }
    view->setShowGrid(true);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->setCornerButtonEnabled(false);
    view->setTabKeyNavigation(false);  // Tab leaves the list, as it does every other control
    return view;
}

QPlainTextEdit* CreateTranscript(QWidget* parent) {
    auto* transcript = new QPlainTextEdit(parent);
    transcript->setLineWrapMode(QPlainTextEdit::NoWrap);
    transcript->setWordWrapMode(QTextOption::NoWrap);
    transcript->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    transcript->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    transcript->setTabChangesFocus(true);
    transcript->document()->setDocumentMargin(2);
    return transcript;
}

QSlider* CreateSpeedSlider(QWidget* parent) {
    auto* slider = new QSlider(Qt::Vertical, parent);
    // The minimum sits at the top, and the arrow keys and wheel move the thumb the way they
    // point, as on the reference's trackbar.
    slider->setInvertedAppearance(true);
    slider->setInvertedControls(true);
    slider->setTickPosition(QSlider::TicksBothSides);
    slider->setTickInterval(1000);
    slider->setSingleStep(1);
    slider->setPageStep((kSpeedMaximum - kSpeedMinimum) / 5);
    return slider;
}

QLabel* CreateLabel(const QString& text, Qt::Alignment alignment, bool wrap, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment);
    label->setWordWrap(wrap);
    return label;
}

}  // namespace

void MainWindow::CreateControls() {
    QWidget* previousTabStop = nullptr;
    std::vector<QWidget*> frames;
    for (const ControlTemplate& control : kMainDialogControls) {
        QWidget* widget = CreateControl(control);
        widget->setObjectName(QString::fromLatin1(control.name));
        widget->setGeometry(MapDialogRect(units_, control.rect));
        if (control.kind == ControlKind::GroupBox) {
            frames.push_back(widget);
        }
        if (IsTabStop(control.kind)) {
            if (previousTabStop != nullptr) {
                setTabOrder(previousTabStop, widget);
            }
            previousTabStop = widget;
        } else {
            widget->setFocusPolicy(Qt::NoFocus);
        }
    }
    // A frame drawn above the controls it surrounds would swallow their clicks.
    for (QWidget* frame : frames) {
        frame->lower();
    }
}

QWidget* MainWindow::CreateControl(const ControlTemplate& control) {
    const QString caption = QString::fromLatin1(control.caption);
    switch (control.kind) {
        case ControlKind::PushButton: {
            auto* button = new QPushButton(caption, this);
            if (QPushButton** slot = ButtonSlot(control.id)) {
                *slot = button;
            }
            return button;
        }
        case ControlKind::JogUpButton:
            return jogUp_ = new JogUpButton(caption, this);
        case ControlKind::JogDownButton:
            return jogDown_ = new JogDownButton(caption, this);
        case ControlKind::StatusList:
            statusModel_ = new StatusTableModel(this);
            return statusList_ = CreateStatusList(statusModel_, this);
        case ControlKind::Transcript:
            return transcript_ = CreateTranscript(this);
        case ControlKind::CommandEntry:
            return command_ = new CommandField(this);
        case ControlKind::IpAddress:
            return address_ = new IpAddressField(this);
        case ControlKind::ProgressBar:
            progress_ = new QProgressBar(this);
            progress_->setRange(0, 100);
            progress_->setValue(0);
            progress_->setTextVisible(false);
            return progress_;
        case ControlKind::GroupBox:
            return new QGroupBox(caption, this);
        case ControlKind::StatusText:
            return testStatus_ = CreateLabel(caption, Qt::AlignLeft | Qt::AlignTop, true, this);
        case ControlKind::CentredText:
            return CreateLabel(caption, Qt::AlignHCenter | Qt::AlignTop, false, this);
        case ControlKind::Slider:
            return speed_ = CreateSpeedSlider(this);
        case ControlKind::CheckBox: {
            auto* box = new QCheckBox(caption, this);
            axes_[static_cast<std::size_t>(control.id - IDC_AXIS_X)] = box;
            return box;
        }
    }
    return new QWidget(this);
}

QPushButton** MainWindow::ButtonSlot(int id) {
    switch (id) {
        case IDCANCEL:
            return &cancel_;
        case IDC_CONNECT:
            return &connect_;
        case IDC_TURNON:
            return &turnOn_;
        case IDC_TURNOFF:
            return &turnOff_;
        case IDC_PREPAREMOTION:
            return &prepareMotion_;
        case IDC_EXITMOTION:
            return &exitMotion_;
        case IDC_RUNTEST:
            return &runTest_;
        case IDC_DUMPPROGRAM:
            return &dumpProgram_;
        case IDC_SETZERO:
            return &setZero_;
        case IDC_OPENLOGFOLDER:
            return &openLogFolder_;
        default:
            return nullptr;
    }
}

QString MainWindow::AddressText() const {
    return address_->AddressText();
}

void MainWindow::SetAddressText(const QString& address) {
    address_->SetAddress(address, QString::fromLatin1(kDefaultAddress));
}

void MainWindow::AppendTranscript(const QString& text) {
    // An insertion at the end costs the same however long the transcript is; the operator's
    // own cursor and view stay where they are. Like a reference append it leaves nothing to
    // undo, which also keeps a long session's undo history from growing without end.
    QTextDocument* document = transcript_->document();
    document->setUndoRedoEnabled(false);
    QTextCursor end(document);
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    document->setUndoRedoEnabled(true);
}

void MainWindow::ScrollTranscriptToEnd() {
    QTextCursor cursor = transcript_->textCursor();
    cursor.movePosition(QTextCursor::End);
    transcript_->setTextCursor(cursor);
    transcript_->ensureCursorVisible();
}

QString MainWindow::CommandText() const {
    return command_->toPlainText();
}

void MainWindow::SetCommandText(const QString& text) {
    command_->setPlainText(text);
}

void MainWindow::SetTestStatus(const QString& text) {
    testStatus_->setText(text);
}

void MainWindow::SetRunTestCaption(const QString& caption) {
    runTest_->setText(caption);
}

void MainWindow::SetProgress(int position) {
    progress_->setValue(std::clamp(position, progress_->minimum(), progress_->maximum()));
}

void MainWindow::SetStatusCell(int row, int column, const QString& text) {
    statusModel_->SetCell(row, column, text);
}

bool MainWindow::IsAxisChecked(int axis) const {
    return axis >= 0 && axis < static_cast<int>(axes_.size()) &&
           axes_[static_cast<std::size_t>(axis)]->isChecked();
}

int MainWindow::SpeedPosition() const {
    return speed_->value();
}

}  // namespace trevane
