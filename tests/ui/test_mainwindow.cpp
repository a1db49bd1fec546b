#include <QtTest>
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QMenu>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "config/ConfigTable.h"
#include "config/TableFile.h"
#include "config/TableHistory.h"
#include "ui/ConfigGridView.h"
#include "ui/LogBox.h"
#include "ui/MainWindow.h"

namespace {

// A window whose handlers only note that they ran.
struct Rig {
    ConfigTable table;
    QStringList ran;
    std::function<void()> onDropDown;
    MainWindow window{table, Handlers()};

    WindowHandlers Handlers()
    {
        WindowHandlers h;
        auto note = [this](const char* name) { return [this, name] { ran << QString::fromLatin1(name); }; };
        h.created = note("created");
        h.destroyed = note("destroyed");
        h.setBaudRateClicked = note("setBaudRate");
        h.learnClicked = note("learn");
        h.clearModuleClicked = note("clearModule");
        h.readModuleClicked = note("readModule");
        h.writeModuleClicked = note("writeModule");
        h.openFileClicked = note("openFile");
        h.saveFileClicked = note("saveFile");
        h.saveAsClicked = note("saveAs");
        h.togglePortClicked = note("togglePort");
        h.clearDisplayClicked = note("clearDisplay");
        h.portListAboutToDropDown = [this] {
            ran << QStringLiteral("dropDown");
            if (onDropDown) onDropDown();
        };
        h.receiveTimerTick = note("tick");
        return h;
    }

    QWidget* W(Control c) const { return window.Widget(c); }
    QString Id(QWidget* w) const
    {
        // A combo box takes the focus in its text field.
        while (w && w->objectName().isEmpty()) w = w->parentWidget();
        return w ? w->objectName() : QString();
    }
    void Show()
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
    }
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void controlsAreLaidOutAsDesigned_data()
    {
        QTest::addColumn<int>("control");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("family");
        const QString win = QStringLiteral("ClientArea"), grp = QStringLiteral("GroupBox1");
        // With the default font, and with either CJK font as the desktop's
        // font: Noto Sans CJK's 17-pixel line fits the designed boxes too.
        auto row = [](Control c, const QString& parent, QRect g, const QString& caption) {
            for (const char* family : {"", "WenQuanYi Micro Hei", "Noto Sans CJK SC"})
                QTest::addRow("%s %s", ControlIdentifier(c), family) << int(c) << parent << g << caption << QString::fromLatin1(family);
        };
        row(Control::ProgressBar1, win, {0, 771, 740, 16}, {});
        row(Control::Button_SetBaudRate, win, {652, 44, 75, 25}, QStringLiteral("设置波特率"));
        row(Control::Combo_SetBaudRate, win, {652, 16, 75, 0}, {});
        row(Control::Button_SaveAs, win, {206, 745, 66, 25}, QStringLiteral("另存文件"));
        row(Control::Button_WriteModule, win, {606, 745, 66, 25}, QStringLiteral("写入模块"));
        row(Control::Button_ReadModule, win, {506, 745, 66, 25}, QStringLiteral("读取模块"));
        row(Control::Button_ClearModule, win, {406, 745, 66, 25}, QStringLiteral("清空模块"));
        row(Control::Button_SaveFile, win, {106, 745, 66, 25}, QStringLiteral("保存文件"));
        row(Control::Button_OpenFile, win, {6, 745, 66, 25}, QStringLiteral("打开文件"));
        row(Control::Button_Learn, win, {666, 115, 50, 25}, QStringLiteral("上报"));
        row(Control::Edit_Learn, win, {8, 115, 640, 24},
            QStringLiteral("DIY生成的设备，长按需要学习的按钮，在倒计时结束前上报需要学习的数据。"));
        row(Control::GroupBox1, win, {0, 0, 160, 110}, QStringLiteral("COM"));
        row(Control::Button_ClearDisplay, grp, {88, 72, 50, 25}, QStringLiteral("清除→"));
        row(Control::Button_TogglePort, grp, {16, 72, 50, 25}, QStringLiteral("开启"));
        row(Control::Combo_BaudRate, grp, {75, 44, 75, 0}, {});
        row(Control::Label2, grp, {5, 44, 40, 16}, QStringLiteral("波特率:"));
        row(Control::Combo_Port, grp, {75, 16, 75, 0}, {});
        row(Control::Label1, grp, {5, 16, 32, 16}, QStringLiteral("端口:"));
        row(Control::Edit_Display, win, {165, 0, 482, 110}, {});
        row(Control::ConfigGrid, win, {0, 145, 735, 599}, {});
    }
    void controlsAreLaidOutAsDesigned()
    {
        QFETCH(int, control);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        QFETCH(QString, family);
        const QFont before = QApplication::font();
        const auto restore = qScopeGuard([before] { QApplication::setFont(before); });
        // scripts/setup.sh installs both CJK fonts.
        QVERIFY2(family.isEmpty() || QFontDatabase::families().contains(family), qPrintable(family));
        QFont font = before;
        if (!family.isEmpty()) font.setFamilies({family});
        QApplication::setFont(font);
        Rig r;
        r.Show();
        QTRY_COMPARE(r.window.frameGeometry().size(), QSize(740, 818));  // the designed outer size
        const Control c = Control(control);
        QWidget* w = r.window.findChild<QWidget*>(QString::fromLatin1(ControlIdentifier(c)));
        QVERIFY(w);
        QCOMPARE(w, r.W(c));
        QCOMPARE(w->parentWidget()->objectName(), parent);
        QCOMPARE(w->pos(), geometry.topLeft());
        QCOMPARE(w->width(), geometry.width());
        // Closed, a combo box is as high as its text field; the font decides.
        if (geometry.height()) QCOMPARE(w->height(), geometry.height());
        else QVERIFY(w->height() >= 16 && w->height() < 60);
        QVERIFY(w->isEnabled());
        QVERIFY(!w->isHidden());

        QString shown;
        if (auto* b = qobject_cast<QPushButton*>(w)) shown = b->text();
        else if (auto* g = qobject_cast<QGroupBox*>(w)) shown = g->title();
        else if (auto* l = qobject_cast<QLabel*>(w)) shown = l->text();
        else if (auto* e = qobject_cast<QLineEdit*>(w)) shown = e->text();
        else if (auto* t = qobject_cast<QPlainTextEdit*>(w)) shown = t->toPlainText();
        else if (auto* x = qobject_cast<QComboBox*>(w)) shown = x->currentText();
        QCOMPARE(shown, caption);
    }

    void controlsAreCreatedInOrderWithTheirKinds()
    {
        Rig r;
        QStringList order;
        for (QObject* o : r.window.ClientArea()->children()) {
            order << o->objectName();
            if (o->objectName() == QLatin1String("GroupBox1"))
                for (QObject* inner : o->children()) order << inner->objectName();
        }
        order.removeAll(QString());
        QStringList expected;
        for (int c = 0; c < int(Control::MainWindow); ++c) expected << QString::fromLatin1(ControlIdentifier(Control(c)));
        QCOMPARE(order, expected);

        QTimer* timer = r.window.findChild<QTimer*>(QStringLiteral("Timer_ReceiveData"));
        QVERIFY(timer);
        QCOMPARE(timer->parent(), r.W(Control::GroupBox1));
        QVERIFY(!timer->isActive());
        QVERIFY(r.window.findChild<QObject*>(QStringLiteral("CommonDialog1")));
        QCOMPARE(r.window.FileDialog()->kind, 0);

        auto* bar = qobject_cast<QProgressBar*>(r.W(Control::ProgressBar1));
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(bar->orientation(), Qt::Horizontal);

        for (Control c : {Control::Combo_Port, Control::Combo_BaudRate, Control::Combo_SetBaudRate}) {
            auto* box = qobject_cast<QComboBox*>(r.W(c));
            QVERIFY(box->isEditable());
            QCOMPARE(box->insertPolicy(), QComboBox::NoInsert);
            QCOMPARE(box->count(), 0);
            QCOMPARE(box->currentIndex(), -1);
        }
        auto* log = qobject_cast<QPlainTextEdit*>(r.W(Control::Edit_Display));
        QVERIFY(!log->isReadOnly());
        QCOMPARE(log->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(log->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QVERIFY(!qobject_cast<QLineEdit*>(r.W(Control::Edit_Learn))->isReadOnly());
        for (QPushButton* b : r.window.findChildren<QPushButton*>()) {
            QVERIFY(!b->autoDefault());
            QVERIFY(!b->isDefault());
        }
    }

    void screenReadersKnowEveryBoxAndFieldByANameOfItsOwn()
    {
        Rig r;
        InitTable(r.table);
        for (Control c : {Control::Combo_Port, Control::Combo_BaudRate, Control::Combo_SetBaudRate})
            qobject_cast<QComboBox*>(r.W(c))->addItem(QStringLiteral("9600"));  // and chosen
        r.Show();
        // As the bus has them: the name a screen reader says, whatever the box holds.
        auto said = [](QObject* o, QAccessible::Text t = QAccessible::Name) {
            QAccessibleInterface* bus = QAccessible::queryAccessibleInterface(o);
            return bus ? bus->text(t) : QStringLiteral("(not on the bus)");
        };
        const QList<QPair<Control, QString>> names = {
            {Control::Combo_Port, "端口"}, {Control::Combo_BaudRate, "波特率"}, {Control::Combo_SetBaudRate, "模块波特率"},
            {Control::Edit_Display, "日志"}, {Control::Edit_Learn, "上报数据"}, {Control::ConfigGrid, "配置表"}};
        for (const auto& [control, name] : names) QCOMPARE(said(r.W(control)), name);
        QCOMPARE(said(r.W(Control::Combo_SetBaudRate), QAccessible::Value), QStringLiteral("9600"));

        // Every box and text field, the find bar's and an open cell's included.
        r.window.Log()->FindBar();
        ConfigGridView* grid = r.window.Grid();
        grid->setCurrentIndex(grid->IndexOfCell(1, 2));
        grid->edit(grid->currentIndex());
        QTRY_VERIFY(qobject_cast<QLineEdit*>(QApplication::focusWidget()));
        QCOMPARE(said(QApplication::focusWidget()), QStringLiteral("开关01控制 关"));
        QStringList unnamed;
        for (QWidget* w : r.window.findChildren<QWidget*>())
            if (qobject_cast<QComboBox*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w))
                if (said(w).isEmpty() || said(w) == said(w, QAccessible::Value)) unnamed << r.Id(w) + w->objectName();
        QCOMPARE(unnamed, QStringList());
    }

    void windowIsCentredAndTitledBeforeItShows()
    {
        Rig r;
        QCOMPARE(r.window.windowTitle(), QStringLiteral("Velmora-自定义设备版"));
        QVERIFY(r.window.windowFlags() & Qt::WindowMinimizeButtonHint);
        r.Show();
        QTRY_VERIFY(!r.window.windowIcon().isNull());
        // On a 1280×1024 screen: the designed outer size, frame included, centred,
        // and the client area as large as the window, so nothing scrolls.
        QTRY_COMPARE(r.window.frameGeometry(), QRect(270, 103, 740, 818));
        QCOMPARE(r.window.ClientArea()->size(), r.window.size());
    }

    void tabFollowsTheBandsLeftToRightTopToBottom()
    {
        Rig r;
        r.Show();
        QTRY_VERIFY(QApplication::focusWidget());  // where the tab order starts
        QStringList visited;
        for (int i = 0; i < 17; ++i) {
            visited << r.Id(QApplication::focusWidget());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        const QStringList cycle = {
            "Combo_Port", "Combo_BaudRate", "Button_TogglePort", "Button_ClearDisplay", "Edit_Display",
            "Combo_SetBaudRate", "Button_SetBaudRate", "Edit_Learn", "Button_Learn", "ConfigGrid", "Button_OpenFile",
            "Button_SaveFile", "Button_SaveAs", "Button_ClearModule", "Button_ReadModule", "Button_WriteModule",
            "Combo_Port"};
        QCOMPARE(visited, cycle);

        // Disabled controls are passed over.
        for (Control c : {Control::Button_SetBaudRate, Control::Button_Learn, Control::Button_ClearModule,
                          Control::Button_ReadModule, Control::Button_WriteModule})
            r.W(c)->setEnabled(false);
        r.W(Control::Combo_SetBaudRate)->setFocus();
        visited.clear();
        for (int i = 0; i < 6; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << r.Id(QApplication::focusWidget());
        }
        QCOMPARE(visited, QStringList({"Edit_Learn", "ConfigGrid", "Button_OpenFile", "Button_SaveFile", "Button_SaveAs",
                                       "Combo_Port"}));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(r.Id(QApplication::focusWidget()), QStringLiteral("Button_SaveAs"));
    }

    void enterAndSpacePressTheFocusedButtonAndEscapeDoesNotClose()
    {
        Rig r;
        r.Show();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
            r.W(Control::Button_OpenFile)->setFocus();
            QTest::keyClick(r.W(Control::Button_OpenFile), key);
        }
        QCOMPARE(r.ran, QStringList({"openFile", "openFile", "openFile"}));
        // Elsewhere Enter presses nothing, and the focus stays.
        r.ran.clear();
        for (Control c : {Control::Edit_Learn, Control::Combo_Port}) {
            r.W(c)->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QCOMPARE(r.Id(QApplication::focusWidget()), QString::fromLatin1(ControlIdentifier(c)));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        }
        QTest::keyClick(&r.window, Qt::Key_Escape);
        QVERIFY(r.window.isVisible());
        QCOMPARE(r.ran, QStringList());
    }

    void shortcutsPressTheirButtonsOnlyWhenEnabled_data()
    {
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("handler");
        QTest::newRow("Ctrl+O") << QKeySequence(Qt::CTRL | Qt::Key_O) << int(Control::Button_OpenFile) << "openFile";
        QTest::newRow("Ctrl+S") << QKeySequence(Qt::CTRL | Qt::Key_S) << int(Control::Button_SaveFile) << "saveFile";
        QTest::newRow("Ctrl+Shift+S") << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S) << int(Control::Button_SaveAs)
                                      << "saveAs";
        QTest::newRow("F5") << QKeySequence(Qt::Key_F5) << int(Control::Button_ReadModule) << "readModule";
        QTest::newRow("Ctrl+L") << QKeySequence(Qt::CTRL | Qt::Key_L) << int(Control::Button_ClearDisplay)
                                << "clearDisplay";
    }
    void shortcutsPressTheirButtonsOnlyWhenEnabled()
    {
        QFETCH(QKeySequence, keys);
        QFETCH(int, button);
        QFETCH(QString, handler);
        Rig r;
        r.Show();
        // From wherever the focus is, also a cell of the grid.
        r.window.Grid()->setFocus();
        QTest::keySequence(QApplication::focusWidget(), keys);
        QCOMPARE(r.ran, QStringList({handler}));
        r.W(Control(button))->setEnabled(false);
        QTest::keySequence(QApplication::focusWidget(), keys);
        QCOMPARE(r.ran, QStringList({handler}));
    }

    void everyEventReachesItsHandler()
    {
        Rig r;
        r.window.RunCreatedHandler();
        const QList<QPair<Control, const char*>> buttons = {
            {Control::Button_SetBaudRate, "setBaudRate"}, {Control::Button_Learn, "learn"},
            {Control::Button_ClearModule, "clearModule"}, {Control::Button_ReadModule, "readModule"},
            {Control::Button_WriteModule, "writeModule"}, {Control::Button_OpenFile, "openFile"},
            {Control::Button_SaveFile, "saveFile"},       {Control::Button_SaveAs, "saveAs"},
            {Control::Button_TogglePort, "togglePort"},   {Control::Button_ClearDisplay, "clearDisplay"}};
        QStringList expected = {"created"};
        for (const auto& [control, name] : buttons) {
            QTest::mouseClick(r.W(control), Qt::LeftButton);
            expected << QString::fromLatin1(name);
        }
        QCOMPARE(r.ran, expected);

        // The port list refreshes before it drops down.
        r.Show();
        auto* port = qobject_cast<QComboBox*>(r.W(Control::Combo_Port));
        bool listShownDuringRefresh = true;
        r.onDropDown = [&] {
            listShownDuringRefresh = port->view()->isVisible();
            port->addItem(QStringLiteral("COM7"));
        };
        r.ran.clear();
        port->showPopup();
        QCOMPARE(r.ran, QStringList({"dropDown"}));
        QVERIFY(!listShownDuringRefresh);
        QTRY_VERIFY(port->view()->isVisible());
        port->hidePopup();
        // The other boxes have no handler for their lists.
        qobject_cast<QComboBox*>(r.W(Control::Combo_BaudRate))->showPopup();
        QCOMPARE(r.ran, QStringList({"dropDown"}));
        qobject_cast<QComboBox*>(r.W(Control::Combo_BaudRate))->hidePopup();

        r.window.ReceiveTimer()->start(5);
        QTRY_VERIFY(r.ran.contains(QStringLiteral("tick")));

        // Closing runs the destroyed handler once; nothing runs after it.
        r.ran.clear();
        QVERIFY(r.window.close());
        QVERIFY(!r.window.ReceiveTimer()->isActive());
        r.window.show();
        r.window.close();
        QTest::mouseClick(r.W(Control::Button_OpenFile), Qt::LeftButton);
        QCOMPARE(r.ran, QStringList({"destroyed"}));
    }

    void gridShowsFixedRowAndColumnAndEditsReachTheTable()
    {
        Rig r;
        InitTable(r.table);
        r.Show();
        ConfigGridView* grid = r.window.Grid();
        QAbstractItemModel* cells = grid->model();
        QCOMPARE(cells->rowCount(), 96);
        QCOMPARE(cells->columnCount(), 2);
        QCOMPARE(cells->headerData(0, Qt::Horizontal).toString(), QStringLiteral("开"));
        QCOMPARE(cells->headerData(1, Qt::Horizontal).toString(), QStringLiteral("关"));
        QCOMPARE(cells->headerData(0, Qt::Vertical).toString(), QStringLiteral("开关01控制"));
        QCOMPARE(cells->headerData(63, Qt::Vertical).toString(), QStringLiteral("开关32反馈"));
        QCOMPARE(cells->headerData(64, Qt::Vertical).toString(), QStringLiteral("场景0"));
        QCOMPARE(cells->headerData(95, Qt::Vertical).toString(), QStringLiteral("场景31"));
        QCOMPARE(Qt::Alignment(cells->headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).toInt()) & Qt::AlignHorizontal_Mask,
                 Qt::AlignHCenter);
        QCOMPARE(Qt::Alignment(cells->headerData(5, Qt::Vertical, Qt::TextAlignmentRole).toInt()) & Qt::AlignHorizontal_Mask,
                 Qt::AlignLeft);

        QCOMPARE(grid->verticalHeader()->width(), 80);
        QCOMPARE(grid->columnWidth(0), 315);
        QCOMPARE(grid->columnWidth(1), 315);
        QCOMPARE(grid->horizontalHeader()->height(), 24);
        QCOMPARE(grid->rowHeight(0), 24);
        QCOMPARE(grid->rowHeight(95), 24);
        QCOMPARE(grid->palette().color(QPalette::Base), QColor(Qt::white));
        QCOMPARE(grid->palette().color(QPalette::Text), QColor(Qt::black));

        // Widths follow the table when it changes them.
        r.table.SetColumnWidth(2, 120);
        r.table.SetColumnWidth(0, 100);
        r.table.SetRowHeight(3, 30);
        QCOMPARE(grid->columnWidth(1), 120);
        QCOMPARE(grid->verticalHeader()->width(), 100);
        QCOMPARE(grid->rowHeight(2), 30);

        // Every keystroke of an open editor is already in the table.
        const QModelIndex cell = grid->IndexOfCell(5, 2);
        grid->setCurrentIndex(cell);
        grid->edit(cell);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QTest::keyClicks(editor, QStringLiteral("aa b"));
        QCOMPARE(r.table.GetCellText(5, 2), QStringLiteral("aa b"));
        editor->setCursorPosition(2);
        QTest::keyClicks(editor, QStringLiteral("X"));
        QCOMPARE(r.table.GetCellText(5, 2), QStringLiteral("aaX b"));
        QCOMPARE(editor->cursorPosition(), 3);
        // A write from the program shows in the open editor too.
        r.table.SetCellText(5, 2, QStringLiteral("FD "));
        QCOMPARE(editor->text(), QStringLiteral("FD "));

        // Ending the editing closes the editor and keeps the text.
        QPointer<QLineEdit> open = editor;
        QTest::keyClicks(editor, QStringLiteral("01"));
        Q_EMIT r.table.editingEndRequested();
        QTRY_VERIFY(!open || !open->isVisible());
        QCOMPARE(r.table.GetCellText(5, 2), QStringLiteral("FD 01"));
        QCOMPARE(cells->data(cell).toString(), QStringLiteral("FD 01"));
        // Titles are not edited in place.
        QVERIFY(!(r.table.flags(r.table.index(5, 0)) & Qt::ItemIsEditable));
    }

    void gridShowsAMillionRowsAndSizesNoScreenCanShow()
    {
        // The laid-out table stretched to a million rows, one row and one
        // column asking for 2^31-1 pixels.
        ConfigTable source;
        InitTable(source);
        TableContent t = source.Content();
        t.rows = 1000000;
        t.rowHeights.resize(t.rows);
        std::fill(t.rowHeights.begin() + 97, t.rowHeights.end(), 24);
        t.rowHeights[5] = t.columnWidths[2] = 0x7FFFFFFF;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.dat"));
        const QByteArray file = WriteTableFile(t);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
        f.close();

        Rig r;
        InitTable(r.table);
        r.Show();
        QVERIFY(r.table.LoadTable(path));
        ConfigGridView* grid = r.window.Grid();
        QCOMPARE(grid->model()->rowCount(), 999999);
        QCOMPARE(grid->rowHeight(0), 24);
        QCOMPARE(grid->rowHeight(4), ConfigGridView::kLargestDrawnSize);
        QCOMPARE(grid->columnWidth(1), ConfigGridView::kLargestDrawnSize);
        QCOMPARE(grid->rowHeight(999998), 24);
        QVERIFY(r.table.SetCurrentCell(999999, 1));
        QVERIFY(grid->viewport()->rect().intersects(grid->visualRect(grid->currentIndex())));
        QVERIFY(!grid->grab().isNull());
        // The table keeps the sizes as they were read, and writes them back so.
        const QByteArray asRead = WriteTableFile(r.table.Content());
        QCOMPARE(asRead, file);
        r.table.SetRowHeight(0, 0x7FFFFFFF);
        QCOMPARE(grid->horizontalHeader()->height(), ConfigGridView::kLargestDrawnSize);
        QVERIFY(!grid->grab().isNull());
    }

    void aCodeOfMillionsOfCharactersIsDrawnCutAndJudgedWhole()
    {
        Rig r;
        InitTable(r.table);
        r.Show();
        ConfigGridView* grid = r.window.Grid();
        const QString longCode = QStringLiteral("AB ").repeated(1000000);
        r.table.SetCellText(1, 1, longCode);
        r.table.SetCellText(1, 2, longCode + QStringLiteral("G"));  // bad only at its very end
        QAbstractItemModel* cells = grid->model();
        const QString drawn = cells->data(grid->IndexOfCell(1, 1)).toString();
        QVERIFY(drawn.size() <= ConfigGridView::kLargestDrawnSize + 1);
        QVERIFY(drawn.endsWith(QChar(0x2026)));
        QCOMPARE(cells->data(grid->IndexOfCell(1, 1), Qt::EditRole).toString(), longCode);
        const QColor tint(255, 205, 205);
        auto tinted = [&](int column) { return cells->data(grid->IndexOfCell(1, column), Qt::BackgroundRole).value<QColor>() == tint; };
        QVERIFY(!tinted(1));
        QVERIFY(tinted(2));
        QVERIFY(!grid->grab().isNull());
        // Mended, it is judged again.
        r.table.SetCellText(1, 2, longCode);
        QVERIFY(!tinted(2));
    }

    void cellEditorTakesLongPastesAndDropsControlCharacters()
    {
        Rig r;
        InitTable(r.table);
        r.Show();
        ConfigGridView* grid = r.window.Grid();
        const QModelIndex cell = grid->IndexOfCell(7, 1);
        grid->setCurrentIndex(cell);
        grid->edit(cell);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);

        const QString code = QStringLiteral("AB ").repeated(20000);  // past the usual 32,767
        editor->insert(QStringLiteral("FD") + QChar(0) + QStringLiteral("\t01\r\n") + code + QChar(0x7F));
        QCOMPARE(r.table.GetCellText(7, 1), QStringLiteral("FD01") + code);
        QCOMPARE(editor->cursorPosition(), 4 + code.size());
        editor->setCursorPosition(2);
        editor->insert(QStringLiteral("\a "));
        QCOMPARE(r.table.GetCellText(7, 1), QStringLiteral("FD 01") + code);
        QCOMPARE(editor->cursorPosition(), 3);
    }

    void blocksOfCellsAreCopiedPastedClearedAndUndoneWithTheirKeys()
    {
        Rig r;
        InitTable(r.table);
        r.Show();
        ConfigGridView* grid = r.window.Grid();
        QStringList notices;
        grid->SetShowNotice([&notices](const QString& text) { notices << text; });
        QClipboard* clipboard = QGuiApplication::clipboard();
        auto key = [grid](QKeySequence keys) { QTest::keySequence(grid, keys); };
        grid->setFocus();
        QTRY_VERIFY(grid->hasFocus());

        // Copied as the cells read, without the blank a read leaves at the end.
        r.table.SetCellText(1, 1, QStringLiteral("AA BB "));
        r.table.SetCellText(2, 2, QStringLiteral("01\u3000"));
        grid->setCurrentIndex(grid->IndexOfCell(1, 1));
        grid->selectionModel()->select(QItemSelection(grid->IndexOfCell(1, 1), grid->IndexOfCell(2, 2)),
                                       QItemSelectionModel::ClearAndSelect);
        key(QKeySequence::Copy);
        QCOMPARE(clipboard->text(), QStringLiteral("AA BB\t\n\t01"));

        // A spreadsheet's block lands from the current cell on; control characters are dropped.
        clipboard->setText(QStringLiteral("11\t22\r\n\"3\x01\"\r\n"));
        grid->setCurrentIndex(grid->IndexOfCell(95, 1));
        key(QKeySequence::Paste);
        QCOMPARE(r.table.GetCellText(95, 1), QStringLiteral("11"));
        QCOMPARE(r.table.GetCellText(95, 2), QStringLiteral("22"));
        QCOMPARE(r.table.GetCellText(96, 1), QStringLiteral("3"));
        QCOMPARE(r.table.GetCellText(96, 0), QStringLiteral("场景31"));
        QCOMPARE(grid->selectionModel()->selectedIndexes().size(), 4);
        QVERIFY(notices.isEmpty());
        // Past the last row or column: refused, told, nothing changed.
        for (const QPoint& at : {QPoint(1, 96), QPoint(2, 10)}) {
            grid->setCurrentIndex(grid->IndexOfCell(at.y(), at.x()));
            key(QKeySequence::Paste);
        }
        QCOMPARE(notices, QStringList(2, QStringLiteral("粘贴的内容超出表格范围，未粘贴")));
        QCOMPARE(r.table.GetCellText(96, 1), QStringLiteral("3"));
        QCOMPARE(r.table.GetCellText(10, 2), QString());

        // Delete empties the selected block.
        grid->setCurrentIndex(grid->IndexOfCell(1, 1));
        grid->selectionModel()->select(QItemSelection(grid->IndexOfCell(1, 1), grid->IndexOfCell(2, 2)),
                                       QItemSelectionModel::ClearAndSelect);
        key(QKeySequence(Qt::Key_Delete));
        QCOMPARE(r.table.GetCellText(1, 1), QString());
        QCOMPARE(r.table.GetCellText(2, 2), QString());

        // What one open editor took is one step.
        grid->setCurrentIndex(grid->IndexOfCell(5, 2));
        grid->edit(grid->currentIndex());
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QTest::keyClicks(editor, QStringLiteral("c0 1"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(grid->hasFocus());
        QCOMPARE(r.table.GetCellText(5, 2), QStringLiteral("c0 1"));

        // Undo: the typing, the clear, the paste; redo in the other order.
        key(QKeySequence(Qt::CTRL | Qt::Key_Z));
        QCOMPARE(r.table.GetCellText(5, 2), QString());
        key(QKeySequence(Qt::CTRL | Qt::Key_Z));
        QCOMPARE(r.table.GetCellText(1, 1), QStringLiteral("AA BB "));
        QCOMPARE(r.table.GetCellText(2, 2), QStringLiteral("01\u3000"));
        key(QKeySequence(Qt::CTRL | Qt::Key_Z));
        QCOMPARE(r.table.GetCellText(95, 1), QString());
        QCOMPARE(r.table.GetCellText(96, 1), QString());
        key(QKeySequence(Qt::CTRL | Qt::Key_Y));
        QCOMPARE(r.table.GetCellText(96, 1), QStringLiteral("3"));
        key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
        QCOMPARE(r.table.GetCellText(1, 1), QString());

        // The context menu offers the same, greyed where there is nothing to do.
        std::unique_ptr<QMenu> menu(grid->MakeContextMenu());
        QStringList entries;
        for (QAction* a : menu->actions())
            if (!a->isSeparator()) entries << a->text() + (a->isEnabled() ? QString() : QStringLiteral("(grey)"));
        QCOMPARE(entries, QStringList({"复制", "粘贴", "清除", "撤销", "重做"}));
        r.table.History().Redo();
        menu.reset(grid->MakeContextMenu());
        QVERIFY(!menu->findChild<QAction*>(QStringLiteral("redo"))->isEnabled());
        menu->findChild<QAction*>(QStringLiteral("undo"))->trigger();
        QCOMPARE(r.table.GetCellText(5, 2), QString());
    }

    void setCurrentCellFocusesAndScrollsToTheCell()
    {
        Rig r;
        InitTable(r.table);
        r.Show();
        ConfigGridView* grid = r.window.Grid();
        r.W(Control::Edit_Learn)->setFocus();
        QVERIFY(r.table.SetCurrentCell(90, 2));
        QCOMPARE(grid->CellOfIndex(grid->currentIndex()), QPoint(2, 90));
        QTRY_VERIFY(grid->hasFocus());
        QVERIFY(grid->viewport()->rect().intersects(grid->visualRect(grid->currentIndex())));
        QVERIFY(r.table.SetCurrentCell(1, 1));
        QCOMPARE(grid->CellOfIndex(grid->currentIndex()), QPoint(1, 1));
        QVERIFY(grid->viewport()->rect().intersects(grid->visualRect(grid->currentIndex())));
        QVERIFY(!r.table.SetCurrentCell(97, 1));
        QCOMPARE(grid->CellOfIndex(grid->currentIndex()), QPoint(1, 1));
    }

    void editBoxesAndCellsFollowTheDesktopPalette_data()
    {
        QTest::addColumn<QColor>("base");
        QTest::addColumn<QColor>("text");
        QTest::newRow("light") << QColor(Qt::white) << QColor(Qt::black);
        QTest::newRow("dark") << QColor(35, 38, 41) << QColor(232, 232, 232);
    }
    void editBoxesAndCellsFollowTheDesktopPalette()
    {
        QFETCH(QColor, base);
        QFETCH(QColor, text);
        const QPalette before = QApplication::palette();
        const auto restore = qScopeGuard([before] { QApplication::setPalette(before); });
        QPalette pal = before;
        pal.setColor(QPalette::Base, base);
        pal.setColor(QPalette::Text, text);
        QApplication::setPalette(pal);
        Rig r;
        InitTable(r.table);
        r.table.SetCellText(1, 2, QStringLiteral("FD 6"));
        r.Show();
        // Blank places of the log box, the learn box and a cell show the scheme's base.
        const QImage log = r.W(Control::Edit_Display)->grab().toImage();
        QCOMPARE(log.pixelColor(20, log.height() - 10), base);
        const QImage learn = r.W(Control::Edit_Learn)->grab().toImage();
        QCOMPARE(learn.pixelColor(learn.width() - 8, learn.height() / 2), base);
        ConfigGridView* grid = r.window.Grid();
        const QImage cells = grid->viewport()->grab().toImage();
        const QRect good = grid->visualRect(grid->IndexOfCell(1, 1));
        QCOMPARE(cells.pixelColor(good.right() - 4, good.center().y()), base);
        // The bad code's tint differs from the base, and its text reads on it.
        const QRect bad = grid->visualRect(grid->IndexOfCell(1, 2));
        const QColor tint = cells.pixelColor(bad.right() - 4, bad.center().y());
        QVERIFY(tint != base);
        QVERIFY2(qAbs(qGray(tint.rgb()) - qGray(text.rgb())) >= 128, qPrintable(tint.name()));
    }

    void progressIsDrawnInSeparateBlocks()
    {
        Rig r;
        auto* bar = qobject_cast<QProgressBar*>(r.W(Control::ProgressBar1));
        // Runs of the fill colour along the bar's middle row: (start, width).
        auto fillRuns = [bar](int value) {
            bar->setValue(value);
            const QImage image = bar->grab().toImage();
            const QColor fill = bar->palette().color(QPalette::Highlight);
            QList<QPair<int, int>> runs;
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, image.height() / 2) != fill) continue;
                if (!runs.isEmpty() && runs.last().first + runs.last().second == x) ++runs.last().second;
                else runs.append({x, 1});
            }
            return runs;
        };
        QVERIFY(fillRuns(0).isEmpty());
        const auto half = fillRuns(50);
        QVERIFY2(half.size() > 20, qPrintable(QString::number(half.size())));  // blocks, not one band
        for (const auto& run : half) QVERIFY(run.second <= 10);
        const int halfEnd = half.last().first + half.last().second;
        QVERIFY2(halfEnd > 740 / 2 - 12 && halfEnd <= 740 / 2 + 2, qPrintable(QString::number(halfEnd)));
        const auto full = fillRuns(100);
        QVERIFY(full.size() >= 2 * half.size() - 1);
        QVERIFY(full.last().first + full.last().second >= 740 - 14);
    }

    void aValueCellThatIsNoCodeIsTintedAsItIsTypedAndNotOnceFixed()
    {
        Rig r;
        InitTable(r.table);
        r.Show();
        ConfigGridView* grid = r.window.Grid();
        const QColor tint(255, 205, 205);
        auto tinted = [&](int row, int column) {
            return grid->model()->data(grid->IndexOfCell(row, column), Qt::BackgroundRole).value<QColor>() == tint;
        };
        r.table.SetCellText(1, 1, QStringLiteral("FD 66 AA"));
        r.table.SetCellText(1, 2, QStringLiteral("FD 6"));   // odd digit count
        r.table.SetCellText(2, 1, QStringLiteral("FG 01"));  // not a hex digit
        r.table.SetCellText(3, 1, QStringLiteral(" fd\u3000a1 "));  // blanks between bytes and lower case are fine
        r.table.SetCellText(3, 2, QStringLiteral("c0 2 ff 0"));      // a blank inside a byte is not
        QVERIFY(!tinted(1, 1));
        QVERIFY(tinted(1, 2));
        QVERIFY(tinted(2, 1));
        QVERIFY(!tinted(2, 2));  // empty
        QVERIFY(!tinted(3, 1));
        QVERIFY(tinted(3, 2));
        // The tool tip says why, and what an upload would send.
        auto tip = [&](int row, int column) {
            return grid->model()->data(grid->IndexOfCell(row, column), Qt::ToolTipRole).toString();
        };
        QCOMPARE(tip(3, 2), QStringLiteral("空格把字节拆开了，写入模块时发送 C0 2F F0"));
        QCOMPARE(tip(1, 2), QStringLiteral("十六进制数据长度必须是偶数"));
        QCOMPARE(tip(2, 1), QStringLiteral("无效的十六进制字符: G"));
        QCOMPARE(tip(1, 1), QString());
        // On screen: the bad cell's background, the good one's white.
        const QImage shot = grid->viewport()->grab().toImage();
        const QRect bad = grid->visualRect(grid->IndexOfCell(1, 2));
        const QRect good = grid->visualRect(grid->IndexOfCell(1, 1));
        QCOMPARE(shot.pixelColor(bad.right() - 4, bad.center().y()), tint);
        QCOMPARE(shot.pixelColor(good.right() - 4, good.center().y()), QColor(Qt::white));

        // The open editor follows every keystroke.
        const QModelIndex cell = grid->IndexOfCell(5, 1);
        grid->setCurrentIndex(cell);
        grid->edit(cell);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QTest::keyClicks(editor, QStringLiteral("A"));
        QCOMPARE(editor->palette().color(QPalette::Base), tint);
        QTest::keyClicks(editor, QStringLiteral("B"));
        QCOMPARE(editor->palette().color(QPalette::Base), QColor(Qt::white));
        // A look only: the table holds the typed text and no colour.
        QCOMPARE(r.table.GetCellText(5, 1), QStringLiteral("AB"));
        QVERIFY(!r.table.data(r.table.index(1, 2), Qt::BackgroundRole).isValid());
    }

    // A code a read cannot bring back whole gets a mark of its own and a tip; the red tint stays the upload's.
    void aCodeAReadCannotBringBackIsMarked()
    {
        Rig r;
        InitTable(r.table);
        r.window.Grid()->SetUnreadableCode([](QStringView text) { return QByteArray::fromHex(text.toLatin1()).contains(QByteArray::fromHex("F4F7")); });
        r.table.SetCellText(1, 1, QStringLiteral("AA F 4F7"));  // read as AA F4 F7, a blank inside a byte
        r.table.SetCellText(1, 2, QStringLiteral("F7 F4"));
        const auto data = [&](int column, int role) { return r.window.Grid()->model()->data(r.window.Grid()->IndexOfCell(1, column), role); };
        QVERIFY(!data(1, Qt::DecorationRole).value<QIcon>().isNull() && data(1, Qt::BackgroundRole).isValid());
        QCOMPARE(data(1, Qt::ToolTipRole).toString(), QStringLiteral("空格把字节拆开了，写入模块时发送 AA F4 F7\n读取模块时无法完整读回此代码（其中含 F4 F7 或模块应答的字节）"));
        QVERIFY(!data(2, Qt::DecorationRole).isValid() && !data(2, Qt::ToolTipRole).isValid());
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
