// The window on a 1366×768 laptop screen (an offscreen screen of that size,
// see tests/ui/CMakeLists.txt), and where it goes on screens of other sizes.

#include <QtTest>
#include <QApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include "config/ConfigTable.h"
#include "ui/MainWindow.h"

class SmallScreenTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theWindowFitsTheScreenAndEveryControlCanBeScrolledTo()
    {
        ConfigTable table;
        InitTable(table);
        MainWindow window(table, WindowHandlers{});
        bool shown = false;
        window.SetFirstShown([&] { shown = true; });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(shown);

        const QRect available = window.screen()->availableGeometry();
        QCOMPARE(available.size(), QSize(1366, 768));
        // Inside the screen, the title bar reachable, as high as the screen allows.
        QTRY_VERIFY(available.contains(window.frameGeometry()));
        QCOMPARE(window.frameGeometry().top(), available.top());
        QCOMPARE(window.frameGeometry().height(), available.height());
        // Still not to be resized by the user.
        QCOMPARE(window.minimumSize(), window.maximumSize());

        // The controls keep their designed places and scroll up and down;
        // there is room beside them for the scroll bar, so nothing scrolls sideways.
        auto* area = window.findChild<QScrollArea*>();
        QVERIFY(area);
        QTRY_VERIFY(area->verticalScrollBar()->isVisible());
        QVERIFY(!area->horizontalScrollBar()->isVisible());
        QCOMPARE(window.Widget(Control::Button_WriteModule)->geometry(), QRect(606, 745, 66, 25));
        for (int c = 0; c < int(Control::MainWindow); ++c) {
            QWidget* w = window.Widget(Control(c));
            if (!w) continue;  // the timer and the file dialog have no place
            area->ensureWidgetVisible(w, 0, 0);
            const QPoint centre = w->mapTo(area->viewport(), w->rect().center());
            QVERIFY2(area->viewport()->rect().contains(centre), ControlIdentifier(Control(c)));
        }
    }

    void placementKeepsTheDesignedCentreAndStaysInsideTheFreeArea_data()
    {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("outer");
        // Large screens: centred exactly as designed.
        QTest::newRow("1920x1080") << QRect(0, 0, 1920, 1080) << QRect(0, 0, 1920, 1080) << QRect(590, 131, 740, 818);
        QTest::newRow("1280x1024 panel on top") << QRect(0, 0, 1280, 1024) << QRect(0, 32, 1280, 992)
                                                << QRect(270, 103, 740, 818);
        // Too low: as high as the free area, never above it, with room for a scroll bar.
        QTest::newRow("1366x768 panel below") << QRect(0, 0, 1366, 768) << QRect(0, 0, 1366, 740)
                                              << QRect(309, 0, 748, 740);
        QTest::newRow("panel on top") << QRect(0, 0, 1366, 768) << QRect(0, 40, 1366, 728) << QRect(309, 40, 748, 728);
        // Too narrow as well: the whole free area.
        QTest::newRow("640x480") << QRect(0, 0, 640, 480) << QRect(0, 0, 640, 480) << QRect(0, 0, 640, 480);
    }
    void placementKeepsTheDesignedCentreAndStaysInsideTheFreeArea()
    {
        QFETCH(QRect, screen);
        QFETCH(QRect, available);
        QFETCH(QRect, outer);
        QCOMPARE(MainWindow::OuterPlacement(screen, available, 8), outer);
    }
};

QTEST_MAIN(SmallScreenTest)
#include "test_smallscreen.moc"
