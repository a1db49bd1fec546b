// The desktop as the program makes it: its own application object, the
// Chinese standard buttons, and closing the window while a box is showing.

#include <QtTest>
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleFactory>

#include "config/ConfigTable.h"
#include "ui/Desktop.h"
#include "ui/ThemedStyle.h"

namespace {

// Once a modal box shows: note its button texts, then run `act` on it.
void WhenABoxShows(QStringList* buttons, std::function<void(QWidget*)> act)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [=] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box) return;
        for (QAbstractButton* b : box->findChildren<QAbstractButton*>()) *buttons << b->text();
        poll->deleteLater();
        act(box);
    });
    poll->start(20);
}

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT
public:
    explicit DesktopTest(Desktop& desktop) : desktop_(desktop) {}

private Q_SLOTS:
    void standardButtonsSpeakChinese()
    {
        QStringList buttons;
        WhenABoxShows(&buttons, [](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
        const int result = desktop_.Ui().ShowMessageBox(QStringLiteral("将从模块读取数据到配置软件，数据将被替换"),
                                                        1, QStringLiteral("读取模块"));
        QCOMPARE(result, 1);
        QVERIFY2(buttons.contains(QStringLiteral("确定")) || buttons.contains(QStringLiteral("确定(&O)")),
                 qPrintable(buttons.join(QLatin1Char(','))));
        QVERIFY(buttons.join(QString()).contains(QStringLiteral("取消")));
    }

    void controlsDrawPlainUntilTheThemeIsSwitchedOnThenFramedInPlace()
    {
        auto* installed = qobject_cast<ThemedStyle*>(qApp->style());
        QVERIFY(installed);  // in place before any control exists
        QPushButton button(QStringLiteral("打开文件"));
        button.resize(66, 25);
        const QImage before = button.grab().toImage();
        std::unique_ptr<QStyle> base(QStyleFactory::create(installed->baseStyle()->name()));
        button.setStyle(base.get());
        QCOMPARE(button.grab().toImage(), before);
        button.setStyle(nullptr);

        QCOMPARE(desktop_.Ui().ApplyTheme(2), 1);
        QCOMPARE(qApp->style(), installed);
        QCOMPARE(button.grab().toImage().pixelColor(0, before.height() / 2), QColor(164, 185, 127));
        QCOMPARE(desktop_.Ui().ApplyTheme(0), 0);
        QCOMPARE(button.grab().toImage(), before);
    }

    void aPushButtonShowsWhenItHasTheKeyboardFocus()
    {
        QCOMPARE(desktop_.Ui().ApplyTheme(2), 1);
        QWidget window;
        auto* first = new QPushButton(QStringLiteral("打开文件"), &window);
        auto* second = new QPushButton(QStringLiteral("保存文件"), &window);
        first->setGeometry(6, 6, 66, 25);
        second->setGeometry(106, 6, 66, 25);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        second->setFocus();
        QTRY_VERIFY(second->hasFocus());
        const QImage without = first->grab().toImage();
        QTest::keyClick(second, Qt::Key_Backtab);
        QTRY_VERIFY(first->hasFocus());
        const QImage with = first->grab().toImage();
        // A dotted rectangle inside the frame; the frame keeps the theme's colour.
        const QColor text = first->palette().color(QPalette::ButtonText);
        auto dotsOnInnerLeftEdge = [&](const QImage& image) {
            int dots = 0;
            for (int y = 4; y < image.height() - 4; ++y) dots += image.pixelColor(3, y) == text;
            return dots;
        };
        QCOMPARE(dotsOnInnerLeftEdge(without), 0);
        QVERIFY2(dotsOnInnerLeftEdge(with) >= (with.height() - 8) / 3, qPrintable(QString::number(dotsOnInnerLeftEdge(with))));
        QCOMPARE(with.pixelColor(0, with.height() / 2), QColor(164, 185, 127));
        QCOMPARE(desktop_.Ui().ApplyTheme(0), 0);
    }

    // Last: closing ends every event loop of the program for good.
    void closingWhileABoxShowsAnswersCancelAndRunsTheDestroyedHandlerOnce()
    {
        ConfigTable table;
        int created = 0, destroyed = 0;
        WindowHandlers handlers;
        handlers.created = [&] { ++created; };
        handlers.destroyed = [&] { ++destroyed; };
        QVERIFY(desktop_.CreateMainWindow(table, handlers));
        QCOMPARE(created, 1);
        bool shown = false;
        desktop_.ShowMainWindow([&] { shown = true; });
        QTRY_VERIFY(shown);

        QStringList buttons;
        WhenABoxShows(&buttons, [this](QWidget*) { desktop_.CloseMainWindow(); });
        QCOMPARE(desktop_.Ui().ShowMessageBox(QStringLiteral("清空?"), 1, QStringLiteral("清空模块")), 1);
        QCOMPARE(destroyed, 1);
        // A box asked for after the close does not wait for anyone.
        QCOMPARE(desktop_.Ui().ShowMessageBox(QStringLiteral("无可用端口"), 0), 0);
        QCOMPARE(desktop_.Exec(), 0);
        QCOMPARE(destroyed, 1);
        QCOMPARE(desktop_.Ui().GetTitle(), QString());  // the window is gone
    }

private:
    Desktop& desktop_;
};

int main(int argc, char** argv)
{
    Desktop desktop(argc, argv);
    DesktopTest test(desktop);
    return QTest::qExec(&test, argc, argv);
}

#include "test_desktop.moc"
