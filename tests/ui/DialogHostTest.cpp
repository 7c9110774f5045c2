#include "DialogHost.h"
#include "ActivityClip.h"
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

    // The real presenter, driven as a user would: the box shows the buttons and icon of the style,
    // and the button pressed comes back as the engine's answer.
    void presentedBoxAnswers_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("press");
        QTest::addColumn<int>("answer");
        QTest::newRow("question_no") << 0x14 << int(QMessageBox::Yes | QMessageBox::No)
                                     << int(QMessageBox::Critical) << int(QMessageBox::No) << answerNo;
        QTest::newRow("summary_yes") << 0x44 << int(QMessageBox::Yes | QMessageBox::No)
                                     << int(QMessageBox::Information) << int(QMessageBox::Yes) << answerYes;
        QTest::newRow("warning_ok") << 0x30 << int(QMessageBox::Ok) << int(QMessageBox::Warning)
                                    << int(QMessageBox::Ok) << answerOk;
        QTest::newRow("ok_cancel") << 0x01 << int(QMessageBox::Ok | QMessageBox::Cancel)
                                   << int(QMessageBox::NoIcon) << int(QMessageBox::Cancel) << 2;
        // Press 0: the extra button, which the summary adds beside its Yes and No.
        QTest::newRow("summary_show_files") << 0x44 << int(QMessageBox::Yes | QMessageBox::No)
                                            << int(QMessageBox::Information) << 0 << answerExtraButton;
    }

    void presentedBoxAnswers() {
        QFETCH(int, style);
        QFETCH(int, buttons);
        QFETCH(int, icon);
        QFETCH(int, press);
        QFETCH(int, answer);
        int shownButtons = -1;
        int shownIcon = -1;
        std::function<void()> answerBox = [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (box != nullptr && box->isVisible()) {
                    shownButtons = int(box->standardButtons());
                    shownIcon = int(box->icon());
                    for (QAbstractButton* b : box->buttons()) {
                        if (press == 0 ? b->text() == "Show the carved files"
                                       : b == box->button(QMessageBox::StandardButton(press))) {
                            b->click();
                        }
                    }
                    return;
                }
            }
            QTimer::singleShot(10, answerBox); // not shown yet
        };
        QTimer::singleShot(0, answerBox);
        QCOMPARE(presentMessageBox(dialog, MessageRequest{"Question?", "Morrow, Warning...", style, false,
                                                          press == 0 ? "Show the carved files" : ""}),
                 answer);
        QCOMPARE(shownButtons, buttons);
        QCOMPARE(shownIcon, icon);
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
