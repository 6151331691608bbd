// The Qt window on Qt's offscreen platform: real key presses and clicks in the real
// widgets, against the engine this test program carries inside itself.
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/define/define.h"
#include "app/window/qt_window.h"
#include "component/crvping/entry_points.h"

class WindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { session_ = std::make_unique<crv::EngineSession>(); }
    void cleanupTestCase() { session_.reset(); }

    void init() {
        window_ = std::make_unique<app::MainWindow>();
        window_->CreateForm();
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() { window_.reset(); }

    void layoutAndTexts() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("工具 - PING"));
        QCOMPARE(window_->size(), QSize(355, 286));
        QCOMPARE(window_->minimumSize(), window_->maximumSize());
        QCOMPARE(window_->edtIp->geometry(), QRect(77, 8, 153, 21));
        QCOMPARE(window_->btnPing->geometry(), QRect(244, 6, 99, 25));
        QCOMPARE(window_->Memo1->geometry(), QRect(11, 69, 336, 204));
        QCOMPARE(window_->btnClear->geometry(), QRect(244, 37, 99, 25));
        QCOMPARE(window_->SpinEdit1->geometry(), QRect(77, 35, 153, 22));
        QCOMPARE(window_->btnPing->text(), QStringLiteral("ping"));
        QCOMPARE(window_->btnClear->text(), QStringLiteral("清空"));
        QCOMPARE(window_->SpinEdit1->value(), 10);
        QCOMPARE(window_->SpinEdit1->minimum(), 10);
        QCOMPARE(window_->SpinEdit1->maximum(), 1000);
        QVERIFY(!window_->Memo1->isReadOnly());
        QCOMPARE(window_->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(!window_->windowIcon().isNull());
    }

    void tabOrder() {
        window_->activateWindow();
        window_->edtIp->setFocus();
        const QWidget* expected[] = {window_->btnPing, window_->Memo1, window_->btnClear,
                                     window_->SpinEdit1, window_->edtIp};
        for (const QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focus = QApplication::focusWidget();
            // The count field's own line edit holds its focus.
            if (focus != nullptr && focus->parentWidget() == window_->SpinEdit1) {
                focus = window_->SpinEdit1;
            }
            QCOMPARE(focus, next);
        }
    }

    void countFieldTyping() {
        app::CountField* count = window_->SpinEdit1;
        count->setFocus();
        count->selectAll();
        QTest::keyClicks(count, "abc");  // refused with a beep
        QCOMPARE(count->value(), 10);
        count->selectAll();
        QTest::keyClicks(count, "2000");
        window_->edtIp->setFocus();  // losing focus puts it back inside the range
        QCOMPARE(count->value(), 1000);
        count->setFocus();
        QTest::keyClick(count, Qt::Key_Down);
        QCOMPARE(count->value(), 999);
        QTest::keyClick(count, Qt::Key_Up);
        QTest::keyClick(count, Qt::Key_Up);
        QCOMPARE(count->value(), 1000);
        count->selectAll();
        QTest::keyClicks(count, "5");
        window_->edtIp->setFocus();
        QCOMPARE(count->value(), 10);
        // The decimal separator may be typed; the text is then no integer and counts as
        // the minimum, as in the Win32 window.
        count->setFocus();
        count->selectAll();
        const QString fifteen = QStringLiteral("15") + QLocale().decimalPoint();
        QTest::keyClicks(count, fifteen);
        QCOMPARE(count->text(), fifteen);
        QCOMPARE(window_->Count(), 10);
    }

    // Holding Enter: Qt releases the key at every repeat, the window starts one run only
    // when it is let go.
    void heldEnterStartsNoRunPerRepeat() {
        QTest::keyClicks(window_->edtIp, "127.0.0.1");
        QKeyEvent repeat(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(window_->edtIp, &repeat);
        QVERIFY(window_->Memo1->toPlainText().isEmpty());
    }

    void refusedHostShowsNothing() {
        QTest::keyClicks(window_->edtIp, "localhost");
        QTest::keyClick(window_->edtIp, Qt::Key_Return);
        QVERIFY(window_->Memo1->toPlainText().isEmpty());
        QVERIFY(window_->btnPing->isEnabled());
    }

    void enterPingsLoopback() {
        if (geteuid() != 0) QSKIP("raw ICMP sockets need root or CAP_NET_RAW");
        QTest::keyClicks(window_->edtIp, "127.0.0.1");
        QTest::keyClick(window_->edtIp, Qt::Key_Return);
        const QStringList lines =
            window_->Memo1->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 11);
        for (const QString& line : lines) {
            QVERIFY2(line.startsWith(QStringLiteral("127.0.0.1 : OK \uFF0Ctime=")),
                     qPrintable(line));
            QVERIFY(line.endsWith(QStringLiteral("ms")));
        }
        QVERIFY(window_->btnPing->isEnabled());
        QTest::mouseClick(window_->btnClear, Qt::LeftButton);
        QVERIFY(window_->Memo1->toPlainText().isEmpty());
    }

    // Enter is the button's click action, which runs while the button is disabled too.
    void enterWhileTheButtonIsDisabled() {
        if (geteuid() != 0) QSKIP("raw ICMP sockets need root or CAP_NET_RAW");
        window_->SpinEdit1->setValue(10);
        QTest::keyClicks(window_->edtIp, "127.0.0.1");
        window_->btnPing->setEnabled(false);
        QTest::mouseClick(window_->btnPing, Qt::LeftButton);  // a disabled button ignores clicks
        QVERIFY(window_->Memo1->toPlainText().isEmpty());
        QTest::keyClick(window_->edtIp, Qt::Key_Enter);
        QCOMPARE(window_->Memo1->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(),
                 11);
        QVERIFY(window_->btnPing->isEnabled());  // the run enabled it again
    }

    // Closing the window during a run ends the run at once.
    void closeDuringARun() {
        if (geteuid() != 0) QSKIP("raw ICMP sockets need root or CAP_NET_RAW");
        QTest::keyClicks(window_->edtIp, "127.0.0.1");
        QTimer::singleShot(250, window_.get(), [this] { window_->close(); });
        QElapsedTimer timer;
        timer.start();
        QTest::keyClick(window_->edtIp, Qt::Key_Return);
        QVERIFY(timer.elapsed() < 1000);  // a whole run takes 1100 ms of pauses alone
        const auto lines =
            window_->Memo1->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(lines.size() >= 1 && lines.size() < 11);
        QVERIFY(!window_->isVisible());
        QVERIFY(window_->Form().Closing());
    }

    // A run started inside another run's wait still lets the window handle its input while
    // it waits: closing the window ends both at once. Requests of 8 bytes get answers too
    // short to count, so every wait would last the whole Timeout of 3 seconds.
    void closeDuringANestedRun() {
        if (geteuid() != 0) QSKIP("raw ICMP sockets need root or CAP_NET_RAW");
        window_->Form().crvPing1.SetPacketSize(8);
        QTest::keyClicks(window_->edtIp, "127.0.0.1");
        QTimer::singleShot(200, window_.get(), [this] {
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(window_->edtIp, &release);  // the nested run
        });
        QTimer::singleShot(600, window_.get(), [this] { window_->close(); });
        QElapsedTimer timer;
        timer.start();
        QTest::keyClick(window_->edtIp, Qt::Key_Return);
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!window_->isVisible());
        QVERIFY(window_->btnPing->isEnabled());
    }

    void startHostGoesIntoTheField() {
        app::StartHost = u"10.9.8.7";
        auto window = std::make_unique<app::MainWindow>();
        window->CreateForm();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(window->edtIp->text(), QStringLiteral("10.9.8.7"));
        QVERIFY(window->Memo1->toPlainText().isEmpty());  // shown, not pinged
        app::StartHost.clear();
    }

  private:
    std::unique_ptr<crv::EngineSession> session_;
    std::unique_ptr<app::MainWindow> window_;
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
