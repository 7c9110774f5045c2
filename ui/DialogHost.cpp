#include "DialogHost.h"

#include "CarveState.h"
#include "MainDialog.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>
#include <QtCore/QUrl>
#include <QtGui/QDesktopServices>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QTreeWidget>

#include <algorithm>
#include <climits>

namespace morrow {

MessageBoxLook messageBoxLook(int style) {
    MessageBoxLook look;
    switch (style & 0x0F) {
    case 0x01:
        look.buttons = QMessageBox::Ok | QMessageBox::Cancel;
        break;
    case 0x03:
        look.buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        break;
    case 0x04:
        look.buttons = QMessageBox::Yes | QMessageBox::No;
        break;
    default:
        look.buttons = QMessageBox::Ok;
        break;
    }
    switch (style & 0xF0) {
    case 0x10:
        look.icon = QMessageBox::Critical;
        break;
    case 0x20:
        look.icon = QMessageBox::Question;
        break;
    case 0x30:
        look.icon = QMessageBox::Warning;
        break;
    case 0x40:
        look.icon = QMessageBox::Information;
        break;
    default:
        look.icon = QMessageBox::NoIcon;
        break;
    }
    return look;
}

int presentMessageBox(QWidget* owner, const MessageRequest& request) {
    const MessageBoxLook look = messageBoxLook(request.style);
    QMessageBox box(static_cast<QMessageBox::Icon>(look.icon), request.title, request.text,
                    static_cast<QMessageBox::StandardButtons>(look.buttons), owner);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return answerYes;
    case QMessageBox::No:
        return answerNo;
    case QMessageBox::Cancel:
        return 2;
    default:
        return answerOk;
    }
}

DialogHost::DialogHost(MainDialog& dialog)
    : dialog_(dialog), presenter_(presentMessageBox), explorer_([](const QString& path) {
          QDesktopServices::openUrl(QUrl::fromLocalFile(path));
      }) {
    // Clicks reach the flags only through a drain, and a drain is due every few milliseconds,
    // so most poll points need not call in at all: the engine asks every 16th sector, and of
    // those calls every 64th reads the clock.
    pollInterval = 16;
}

void DialogHost::setPollThrottle(int everyCalls, std::chrono::microseconds interval) {
    clockEvery_ = std::max(1, everyCalls);
    if (everyCalls <= 1) {
        pollInterval = 1;
    }
    interval_ = interval;
    pollsSinceClock_ = 0;
}

QString DialogHost::applicationTitle() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

int DialogHost::showMessage(const std::string& text, const std::string& title, int style) {
    return presenter_(&dialog_, MessageRequest{QString::fromStdString(text), QString::fromStdString(title), style, false});
}

int DialogHost::showAppMessage(const std::string& text, int style) {
    // A message with no icon of its own gets the exclamation mark, unless its buttons are of the
    // kinds that never carry one.
    const int buttons = style & 0x0F;
    if ((style & 0xF0) == 0 && (buttons == 0x00 || buttons == 0x01 || buttons == 0x03 || buttons == 0x04)) {
        style |= 0x30;
    }
    return presenter_(&dialog_, MessageRequest{QString::fromStdString(text), applicationTitle(), style, true});
}

void DialogHost::setStatusText(const std::string& text) {
    dialog_.control<QLabel>(ctl::Status)->setText(QString::fromStdString(text));
}

void DialogHost::setPercentText(const std::string& text) {
    dialog_.control<QLabel>(ctl::Percent)->setText(QString::fromStdString(text));
}

void DialogHost::setProgressRange(std::int64_t upper) {
    // The carvers pass count - 1, so a pass without candidates sets -1. QProgressBar turns an
    // empty range into a busy indicator; show an empty bar instead.
    progressUpper_ = std::clamp<std::int64_t>(upper, 0, INT_MAX);
    auto* bar = dialog_.control<QProgressBar>(ctl::Progress);
    bar->setRange(0, static_cast<int>(std::max<std::int64_t>(progressUpper_, 1)));
    bar->setValue(0);
}

void DialogHost::setProgressPos(std::int64_t position) {
    const std::int64_t pos = progressUpper_ == 0 ? 0 : std::clamp<std::int64_t>(position, 0, progressUpper_);
    // QProgressBar repaints at once when its value moves far enough; here that would paint the
    // window a hundred times per pass from inside the scan. Let the next drain paint it instead.
    auto* bar = dialog_.control<QProgressBar>(ctl::Progress);
    bar->setUpdatesEnabled(false);
    bar->setValue(static_cast<int>(pos));
    bar->setUpdatesEnabled(true);
}

void DialogHost::showProgress(bool visible) { dialog_.control(ctl::Progress)->setVisible(visible); }

void DialogHost::startAnimation() { dialog_.activityClip()->play(); }
void DialogHost::pauseAnimation() { dialog_.activityClip()->stop(); }
void DialogHost::resumeAnimation() { dialog_.activityClip()->play(); }
void DialogHost::closeAnimation() { dialog_.activityClip()->close(); }

void DialogHost::drainMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    lastDrain_ = std::chrono::steady_clock::now();
    ++drains_;
    if (drainHook_) {
        drainHook_();
    }
}

void DialogHost::drainIfDue() {
    pollsSinceClock_ = 0;
    if (drainNext_ || std::chrono::steady_clock::now() - lastDrain_ >= interval_) {
        drainNext_ = false;
        drainMessages();
    }
}

void DialogHost::enterRunMode() {
    dialog_.setRunMode(true);
    drainNext_ = true;
}

void DialogHost::leaveRunMode() { dialog_.setRunMode(false); }

void DialogHost::endApplication() { dialog_.requestEnd(); }

void DialogHost::readForm(CarveState&) { dialog_.exchangeFromControls(); }

std::vector<std::string> DialogHost::evidenceRows() {
    std::vector<std::string> rows;
    auto* list = dialog_.control<QTreeWidget>(ctl::EvidenceList);
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        rows.push_back(list->topLevelItem(i)->text(0).toStdString());
    }
    return rows;
}

std::vector<KindRow> DialogHost::kindRows() {
    std::vector<KindRow> rows;
    auto* list = dialog_.control<QListWidget>(ctl::KindList);
    for (int i = 0; i < list->count(); ++i) {
        rows.push_back(KindRow{list->item(i)->text().toStdString(), list->item(i)->checkState() == Qt::Checked});
    }
    return rows;
}

void DialogHost::resetForm(CarveState&) { dialog_.resetForm(); }

void DialogHost::focusControl(int controlId) {
    if (QWidget* w = dialog_.control(controlId)) {
        w->setFocus(Qt::OtherFocusReason);
    }
}

void DialogHost::exploreFolder(const std::string& path) { explorer_(QString::fromStdString(path)); }

} // namespace morrow
