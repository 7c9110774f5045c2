#include "DialogHost.h"

#include "ActivityClip.h"
#include "CarveState.h"
#include "ControlIds.h"
#include "DialogModel.h"
#include "MessageLook.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>
#include <QtCore/QUrl>
#include <QtGui/QDesktopServices>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>

#include <algorithm>
#include <climits>

namespace morrow {

MessageBoxLook messageBoxLook(int style) {
    const MessageLook look = messageLook(style);
    MessageBoxLook box;
    switch (look.buttons) {
    case MessageButtons::OkCancel:
        box.buttons = QMessageBox::Ok | QMessageBox::Cancel;
        break;
    case MessageButtons::YesNoCancel:
        box.buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        break;
    case MessageButtons::YesNo:
        box.buttons = QMessageBox::Yes | QMessageBox::No;
        break;
    case MessageButtons::Ok:
        box.buttons = QMessageBox::Ok;
        break;
    }
    switch (look.icon) {
    case MessageIcon::Stop:
        box.icon = QMessageBox::Critical;
        break;
    case MessageIcon::Question:
        box.icon = QMessageBox::Question;
        break;
    case MessageIcon::Exclamation:
        box.icon = QMessageBox::Warning;
        break;
    case MessageIcon::Information:
        box.icon = QMessageBox::Information;
        break;
    case MessageIcon::None:
        box.icon = QMessageBox::NoIcon;
        break;
    }
    return box;
}

int presentMessageBox(QWidget* owner, const MessageRequest& request) {
    const MessageBoxLook look = messageBoxLook(request.style);
    QMessageBox box(static_cast<QMessageBox::Icon>(look.icon), request.title, request.text,
                    static_cast<QMessageBox::StandardButtons>(look.buttons), owner);
    QAbstractButton* extra =
        request.extraButton.isEmpty() ? nullptr : box.addButton(request.extraButton, QMessageBox::ActionRole);
    const int pressed = box.exec();
    if (extra != nullptr && box.clickedButton() == extra) {
        return answerExtraButton;
    }
    switch (pressed) {
    case QMessageBox::Yes:
        return answerYes;
    case QMessageBox::No:
        return answerNo;
    case QMessageBox::Cancel:
        return answerCancel;
    default:
        return answerOk;
    }
}

DialogHost::DialogHost(HostedForm& form)
    : form_(form), presenter_(presentMessageBox),
      explorer_([](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }) {
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
    MessageRequest request{QString::fromStdString(text), QString::fromStdString(title), style, false, {}};
    // The summary keeps its question (Yes opens the carving path); when files were written, a third
    // button opens the gallery once the run is over, and answers No to the question.
    const bool summary = title == summaryTitle && style == style::YesNoInfo;
    if (summary && carvedFiles_.rowCount() > 0 && (state_ == nullptr || state_->reportOnly == 0)) {
        request.extraButton = showFilesText;
    }
    const int answer = presenter_(form_.formWindow(), request);
    if (answer == answerExtraButton) {
        galleryRequested_ = true;
        return answerNo;
    }
    return answer;
}

int DialogHost::showAppMessage(const std::string& text, int style) {
    return presenter_(
        form_.formWindow(),
        MessageRequest{QString::fromStdString(text), applicationTitle(), appMessageStyle(style), true, {}});
}

void DialogHost::setStatusText(const std::string& text) {
    qobject_cast<QLabel*>(form_.control(ctl::Status))->setText(QString::fromStdString(text));
}

void DialogHost::setPercentText(const std::string& text) {
    qobject_cast<QLabel*>(form_.control(ctl::Percent))->setText(QString::fromStdString(text));
}

void DialogHost::setProgressRange(std::int64_t upper) {
    // The carvers pass count - 1, so a pass without candidates sets -1. QProgressBar turns an
    // empty range into a busy indicator; show an empty bar instead.
    progressUpper_ = std::clamp<std::int64_t>(upper, 0, INT_MAX);
    auto* bar = qobject_cast<QProgressBar*>(form_.control(ctl::Progress));
    bar->setRange(0, static_cast<int>(std::max<std::int64_t>(progressUpper_, 1)));
    bar->setValue(0);
}

void DialogHost::setProgressPos(std::int64_t position) {
    const std::int64_t pos = progressUpper_ == 0 ? 0 : std::clamp<std::int64_t>(position, 0, progressUpper_);
    // QProgressBar repaints at once when its value moves far enough; here that would paint the
    // window a hundred times per pass from inside the scan. Let the next drain paint it instead.
    auto* bar = qobject_cast<QProgressBar*>(form_.control(ctl::Progress));
    bar->setUpdatesEnabled(false);
    bar->setValue(static_cast<int>(pos));
    bar->setUpdatesEnabled(true);
}

void DialogHost::showProgress(bool visible) {
    form_.control(ctl::Progress)->setVisible(visible);
}

ActivityClip* DialogHost::clip() const {
    return qobject_cast<ActivityClip*>(form_.control(ctl::Animation));
}

void DialogHost::startAnimation() {
    clip()->play();
}
void DialogHost::pauseAnimation() {
    clip()->stop();
}
void DialogHost::resumeAnimation() {
    clip()->play();
}
void DialogHost::closeAnimation() {
    clip()->close();
}

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
    form_.setRunMode(true);
    drainNext_ = true;
}

void DialogHost::leaveRunMode() {
    form_.setRunMode(false);
}

void DialogHost::endApplication() {
    form_.model().run().endApplication();
}

void DialogHost::readForm(CarveState&) {
    form_.exchangeFromControls();
}

std::vector<std::string> DialogHost::evidenceRows() {
    return form_.model().evidence().texts();
}

std::vector<KindRow> DialogHost::kindRows() {
    std::vector<KindRow> rows;
    for (const CheckList::Row& row : form_.model().kinds().rows()) {
        rows.push_back(KindRow{row.text, row.ticked});
    }
    return rows;
}

void DialogHost::resetForm(CarveState&) {
    form_.resetForm();
}

void DialogHost::focusControl(int controlId) {
    if (QWidget* w = form_.control(controlId)) {
        w->setFocus(Qt::OtherFocusReason);
    }
}

void DialogHost::exploreFolder(const std::string& path) {
    explorer_(QString::fromStdString(path));
}

} // namespace morrow
