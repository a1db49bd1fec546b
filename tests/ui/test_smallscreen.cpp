// The window on a 1366×768 laptop screen (an offscreen screen of that size,
// see tests/ui/CMakeLists.txt), at other sizes and fonts, and where it goes on
// screens of other sizes.

#include <QtTest>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QFontDatabase>

#include "config/ConfigTable.h"
#include "ui/ConfigGridView.h"
#include "ui/MainWindow.h"
#include "ui/Translations.h"

namespace {

void ShowAndWait(MainWindow& window)
{
    bool shown = false;
    window.SetFirstShown([&] { shown = true; });
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(shown);
}

// What is wrong with the controls laid out in `parent`: one out of it, two
// on top of each other, a caption cut off. Empty when nothing is.
QStringList Faults(QWidget* parent)
{
    QStringList faults;
    QList<QWidget*> placed;
    for (QObject* o : parent->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w || w->isHidden() || w->objectName().isEmpty()) continue;
        const QString id = w->objectName();
        // The bar is as wide as the window's outer size, reaching under its frame.
        const int underFrame = id == QLatin1String("ProgressBar1") ? w->window()->frameGeometry().width() - w->window()->width() : 0;
        if (!parent->rect().contains(w->geometry().adjusted(0, 0, -underFrame, 0)))
            faults << id + QStringLiteral(" leaves its parent");
        for (QWidget* other : placed)
            if (other->geometry().intersects(w->geometry())) faults << id + QStringLiteral(" covers ") + other->objectName();
        placed << w;
        const QFontMetrics fm = w->fontMetrics();
        int room = w->width();
        int text = 0;
        if (auto* b = qobject_cast<QPushButton*>(w)) text = fm.horizontalAdvance(b->text()) + 8;
        else if (auto* l = qobject_cast<QLabel*>(w)) text = fm.horizontalAdvance(l->text());
        else if (auto* c = qobject_cast<QComboBox*>(w)) {
            text = fm.horizontalAdvance(QStringLiteral("115200")) + 4;
            room = c->lineEdit()->width();
        } else if (auto* grid = qobject_cast<ConfigGridView*>(w)) {
            // The row titles, and a line of text in every row.
            for (int row = 0; row < grid->model()->rowCount(); ++row)
                text = qMax(text, fm.horizontalAdvance(grid->model()->headerData(row, Qt::Vertical).toString()) + 8);
            room = grid->verticalHeader()->width();
            if (grid->rowHeight(0) < fm.height() + 2) faults << id + QStringLiteral(" rows too low");
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            faults << Faults(g);
            // The caption's line starts at the group's top; its ink must stay clear.
            const int captionInk = fm.ascent() + fm.tightBoundingRect(g->title()).bottom();
            for (QWidget* inner : g->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                if (!inner->objectName().isEmpty() && inner->y() <= captionInk + 1)
                    faults << inner->objectName() + QStringLiteral(" covers the group's caption");
        }
        if (text > room) faults << id + QStringLiteral(" cuts its text: %1 > %2").arg(text).arg(room);
        if (w->height() < qMin(fm.height(), 16)) faults << id + QStringLiteral(" too low");
        // A button's line has a pixel clear of its frame; a label's text keeps clear of its box.
        if (qobject_cast<QPushButton*>(w) && w->height() < fm.height() + 4) faults << id + QStringLiteral(" touches its frame");
        if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy() && l->buddy()->x() < l->x() + text + 4)
            faults << id + QStringLiteral(" touches its box");
    }
    return faults;
}

}  // namespace

class SmallScreenTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theWindowFitsTheScreenWithoutScrolling()
    {
        ConfigTable table;
        InitTable(table);
        MainWindow window(table, WindowHandlers{});
        ShowAndWait(window);

        const QRect available = window.screen()->availableGeometry();
        QCOMPARE(available.size(), QSize(1366, 768));
        // Inside the screen, the title bar reachable, as high as the screen allows.
        QTRY_VERIFY(available.contains(window.frameGeometry()));
        QCOMPARE(window.frameGeometry().top(), available.top());
        QCOMPARE(window.frameGeometry().height(), available.height());

        // The grid gave up the rows that did not fit; the bottom row and the
        // bar are in view, and nothing scrolls.
        auto* area = window.findChild<QScrollArea*>();
        QVERIFY(!area->verticalScrollBar()->isVisible());
        QVERIFY(!area->horizontalScrollBar()->isVisible());
        // 50 pixels lower than designed: the strip under the bar gave up its
        // height, the grid the rest.
        const int frameHeight = window.frameGeometry().height() - window.height();
        const int fromGrid = 50 - (818 - frameHeight - 787);
        QCOMPARE(window.Widget(Control::Button_WriteModule)->geometry(), QRect(606, 745 - fromGrid, 66, 25));
        QCOMPARE(window.Widget(Control::ConfigGrid)->height(), 599 - fromGrid);
        QCOMPARE(window.Widget(Control::ProgressBar1)->geometry().bottom(), window.height() - 1);
        QCOMPARE(Faults(window.ClientArea()).join(QLatin1Char(';')), QString());
    }

    void everyControlShowsWholeAtEverySizeAndFont_data()
    {
        QTest::addColumn<qreal>("points");
        QTest::addColumn<QString>("family");  // the CJK font the desktop gives; empty: the default one
        QTest::addColumn<bool>("english");
        QTest::addColumn<QSize>("client");  // empty: the least size; (1, 1): below it
        QTest::addColumn<bool>("scrolls");
        const QSize least;
        QTest::newRow("9pt 1920x1080, maximised") << 9.0 << QString() << false << QSize(1920, 1050) << false;
        QTest::newRow("9pt 1366x768") << 9.0 << QString() << false << QSize(1366, 740) << false;
        QTest::newRow("9pt 1024x768") << 9.0 << QString() << false << QSize(1024, 738) << false;
        QTest::newRow("9pt 1024x600") << 9.0 << QString() << false << QSize(1024, 540) << false;
        QTest::newRow("9pt least") << 9.0 << QString() << false << least << false;
        QTest::newRow("9pt en natural") << 9.0 << QString() << true << QSize(2, 2) << false;
        QTest::newRow("9pt below least") << 9.0 << QString() << false << QSize(1, 1) << true;
        QTest::newRow("11pt 1920x1080") << 11.0 << QString() << false << QSize(1920, 1050) << false;
        QTest::newRow("11pt 1024x600") << 11.0 << QString() << false << QSize(1024, 540) << false;
        QTest::newRow("11pt least") << 11.0 << QString() << false << least << false;
        for (const char* family : {"WenQuanYi Micro Hei", "Noto Sans CJK SC"})
            for (bool english : {false, true})
                for (QSize client : {least, QSize(1920, 1050)})
                    QTest::addRow("14pt %s %s %dx%d", family, english ? "en" : "zh", client.width(), client.height())
                        << 14.0 << QString::fromLatin1(family) << english << client << false;
        QTest::newRow("16pt 1366x768") << 16.0 << QString() << false << QSize(1366, 740) << false;
        QTest::newRow("16pt least") << 16.0 << QString() << false << least << false;
    }
    void everyControlShowsWholeAtEverySizeAndFont()
    {
        QFETCH(qreal, points);
        QFETCH(QString, family);
        QFETCH(bool, english);
        QFETCH(QSize, client);
        QFETCH(bool, scrolls);
        const QFont before = QApplication::font();
        const auto restore = qScopeGuard([before] { QApplication::setFont(before); });
        QFont font = before;
        font.setPointSizeF(points);
        // scripts/setup.sh installs both CJK fonts.
        QVERIFY2(family.isEmpty() || QFontDatabase::families().contains(family), qPrintable(family));
        if (!family.isEmpty()) font.setFamilies({family});
        QApplication::setFont(font);
        Translations translations;
        QVERIFY(translations.Install(english ? Language::English : Language::Chinese));
        ConfigTable table;
        // As at start-up: the table is laid out once the window exists.
        MainWindow window(table, WindowHandlers{});
        InitTable(table);
        ShowAndWait(window);
        const QSize least = window.Layout().Minimum();
        const QSize natural = window.Layout().Natural();
        if (client.isEmpty()) client = least;
        if (client == QSize(1, 1)) client = least - QSize(40, 40);
        if (client == QSize(2, 2)) client = natural;
        window.setMinimumSize(client.boundedTo(least));
        window.resize(client);
        QTRY_COMPARE(window.size(), client);

        auto* area = window.findChild<QScrollArea*>();
        QTRY_COMPARE(area->verticalScrollBar()->isVisible(), scrolls);
        QCOMPARE(area->horizontalScrollBar()->isVisible(), scrolls);
        QCOMPARE(window.ClientArea()->size(), scrolls ? least : client);
        QCOMPARE(Faults(window.ClientArea()).join(QLatin1Char(';')), QString());
        // The grid takes what the window gains and gives up what it loses
        // once the strip under the bar is gone; the rest stays in view. As
        // designed, the bar reaches under the window's frame.
        const QSize frame = window.frameGeometry().size() - window.size();
        const int strip = 818 - frame.height() - 787;
        const int gained = window.ClientArea()->height() - natural.height();
        ConfigGridView* grid = window.Grid();
        QWidget* bar = window.Widget(Control::ProgressBar1);
        QCOMPARE(grid->height(), 599 + (gained >= 0 ? gained : qMin(0, gained + strip)));
        QCOMPARE(bar->width(), window.ClientArea()->width() + frame.width());
        if (!scrolls) QVERIFY(area->viewport()->rect().contains(bar->geometry().adjusted(0, 0, -frame.width(), 0)));
        QCOMPARE(grid->width(), bar->width() - 5);
        // Wider than designed, the two value columns share the room up to the
        // scroll bar; otherwise, and in the table, they are as designed.
        const bool wider = grid->width() > 735;
        QCOMPARE(grid->columnWidth(0) + grid->columnWidth(1), wider ? grid->viewport()->width() : 630);
        QVERIFY(qAbs(grid->columnWidth(0) - grid->columnWidth(1)) <= 1);
        QCOMPARE(table.ColumnWidth(1) + table.ColumnWidth(2), 630);
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
        // Too low: as high as the free area, never above it.
        QTest::newRow("1366x768 panel below") << QRect(0, 0, 1366, 768) << QRect(0, 0, 1366, 740)
                                              << QRect(313, 0, 740, 740);
        QTest::newRow("panel on top") << QRect(0, 0, 1366, 768) << QRect(0, 40, 1366, 728) << QRect(313, 40, 740, 728);
        QTest::newRow("1024x600") << QRect(0, 0, 1024, 600) << QRect(0, 0, 1024, 570) << QRect(142, 0, 740, 570);
        // 1920x1080 at twice the scale.
        QTest::newRow("960x540") << QRect(0, 0, 960, 540) << QRect(0, 0, 960, 510) << QRect(110, 0, 740, 510);
        // Lower than the least size: with room for a scroll bar beside the controls.
        QTest::newRow("640x240") << QRect(0, 0, 640, 240) << QRect(0, 0, 640, 240) << QRect(0, 0, 640, 240);
        QTest::newRow("800x240") << QRect(0, 0, 800, 240) << QRect(0, 0, 800, 240) << QRect(26, 0, 748, 240);
    }
    void placementKeepsTheDesignedCentreAndStaysInsideTheFreeArea()
    {
        QFETCH(QRect, screen);
        QFETCH(QRect, available);
        QFETCH(QRect, outer);
        QCOMPARE(MainWindow::OuterPlacement(screen, available, QSize(740, 818), QSize(626, 288), 8), outer);
    }
};

QTEST_MAIN(SmallScreenTest)
#include "test_smallscreen.moc"
