#include "DialogHost.h"
#include "MainDialog.h"

#include <QtTest/QtTest>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QProgressBar>

using namespace morrow;

class DialogHostTest : public QObject {
    Q_OBJECT

    MainDialog* dialog = nullptr;
    std::vector<MessageRequest> messages;

private slots:
    void init() {
        messages.clear();
        dialog = new MainDialog;
        dialog->host().setMessagePresenter([this](QWidget*, const MessageRequest& m) {
            messages.push_back(m);
            return answerYes;
        });
    }

    void cleanup() {
        delete dialog;
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void styleLooks_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("icon");
        QTest::newRow("stop_and_quit_questions")
            << 0x14 << int(QMessageBox::Yes | QMessageBox::No) << int(QMessageBox::Critical);
        QTest::newRow("settings_warning") << 0x30 << int(QMessageBox::Ok) << int(QMessageBox::Warning);
        QTest::newRow("summary") << 0x44 << int(QMessageBox::Yes | QMessageBox::No) << int(QMessageBox::Information);
        QTest::newRow("hard_error") << 0x10 << int(QMessageBox::Ok) << int(QMessageBox::Critical);
        QTest::newRow("plain") << 0 << int(QMessageBox::Ok) << int(QMessageBox::NoIcon);
    }

    void styleLooks() {
        QFETCH(int, style);
        QFETCH(int, buttons);
        QFETCH(int, icon);
        const MessageBoxLook look = messageBoxLook(style);
        QCOMPARE(look.buttons, buttons);
        QCOMPARE(look.icon, icon);
    }

    void appMessagesAddTheExclamationAndTheTitle() {
        DialogHost& host = dialog->host();
        QCOMPARE(host.showAppMessage("Folder creation failed: /x", 0), answerYes);
        host.showAppMessage("Evidence file open failed", 0x10);
        host.showMessage("Evidence is already selected.", "Morrow, Warning...", 0x30);
        QCOMPARE(messages.size(), std::size_t{3});
        QCOMPARE(messages[0].style, 0x30);
        QCOMPARE(messages[0].title, QString("DialogHostTest"));
        QCOMPARE(messages[1].style, 0x10);
        QCOMPARE(messages[2].style, 0x30);
        QCOMPARE(messages[2].title, QString("Morrow, Warning..."));
        QVERIFY(!messages[2].app);
    }

    void progressWithoutCandidatesIsEmptyNotBusy() {
        DialogHost& host = dialog->host();
        auto* bar = dialog->control<QProgressBar>(ctl::Progress);
        host.setProgressRange(-1);
        host.setProgressPos(0);
        QVERIFY(bar->maximum() > bar->minimum());
        QCOMPARE(bar->value(), 0);
        host.setProgressRange(100);
        host.setProgressPos(42);
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->value(), 42);
        host.showProgress(true);
        QVERIFY(!bar->isHidden());
    }

    void requestsAreReadAndCleared() {
        DialogHost& host = dialog->host();
        CarveState& st = dialog->engine().state();
        st.stopRequested = 1;
        QVERIFY(host.takeStopRequest());
        QVERIFY(!host.takeStopRequest());
        st.quitRequested = 1;
        QVERIFY(host.takeQuitRequest());
        QVERIFY(!host.takeQuitRequest());
    }

    // The polls come once per sector: a run over a big image must not run the event loop at
    // each of them.
    void pollsDrainOnlyWhenTheIntervalHasPassed() {
        DialogHost& host = dialog->host();
        host.setPollThrottle(64, std::chrono::hours(1));
        host.enterRunMode();
        const std::int64_t before = host.drainCount();
        for (int i = 0; i < 100000; ++i) {
            host.takeStopRequest();
            host.takeQuitRequest();
        }
        QCOMPARE(host.drainCount() - before, 1); // only the first poll of the run
        host.leaveRunMode();

        host.setPollThrottle(1, std::chrono::microseconds(0));
        const std::int64_t again = host.drainCount();
        for (int i = 0; i < 10; ++i) {
            host.takeStopRequest();
        }
        QCOMPARE(host.drainCount() - again, 10);
    }

    void drainRunsPendingClicks() {
        DialogHost& host = dialog->host();
        host.enterRunMode();
        QTimer::singleShot(0, dialog->control<QAbstractButton>(ctl::Stop), &QAbstractButton::click);
        QVERIFY(host.takeStopRequest());
        host.leaveRunMode();
    }

    void animationPlaysPausesAndCloses() {
        DialogHost& host = dialog->host();
        ActivityClip* clip = dialog->activityClip();
        QVERIFY(!clip->isOpen());
        host.startAnimation();
        QVERIFY(clip->isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(clip->frame() > 0, 2000);
        host.pauseAnimation();
        const int frame = clip->frame();
        QVERIFY(!clip->isPlaying());
        QTest::qWait(300);
        QCOMPARE(clip->frame(), frame); // stays on its frame
        host.resumeAnimation();
        QCOMPARE(clip->frame(), 0); // from the first frame again
        host.closeAnimation();
        QVERIFY(!clip->isOpen());
        QVERIFY(!clip->isPlaying());
    }
};

QTEST_MAIN(DialogHostTest)
#include "DialogHostTest.moc"
