#include "ui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include "ui/ConfigGridView.h"
#include "ui/ListComboBox.h"

namespace {

// Any icon serves; drawing it spares the program an image file.
QIcon MakeIcon()
{
    QPixmap pixmap(64, 64);
    pixmap.fill(QColor(164, 185, 127));
    QPainter painter(&pixmap);
    painter.setPen(QPen(QColor(40, 60, 30), 6));
    painter.drawLine(14, 14, 32, 52);
    painter.drawLine(32, 52, 50, 14);
    return QIcon(pixmap);
}

QPushButton* MakeButton(QWidget* parent, const char* caption)
{
    auto* button = new QPushButton(parent);
    // Captions carry no mnemonics: an ampersand is an ordinary character.
    button->setText(QString::fromUtf8(caption).replace(QLatin1Char('&'), QStringLiteral("&&")));
    button->setAutoDefault(false);  // Enter presses no button
    button->setDefault(false);
    return button;
}

QLabel* MakeLabel(QWidget* parent, const char* caption)
{
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

}  // namespace

MainWindow::MainWindow(ConfigTable& table, WindowHandlers handlers, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      handlers_(std::move(handlers))
{
    setObjectName(QString::fromLatin1(ControlIdentifier(Control::MainWindow)));
    setWindowTitle(QStringLiteral("Velmora-自定义设备版"));
    setWindowIcon(MakeIcon());
    // Without a known frame the client area takes the whole outer size; the
    // first show trims it once the window manager tells the frame.
    setFixedSize(kOuterWidth, kOuterHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) move(CentredPosition(screen->geometry()));

    auto place = [this](Control c, QWidget* w, int x, int y, int width, int height) {
        w->setObjectName(QString::fromLatin1(ControlIdentifier(c)));
        w->setGeometry(x, y, width, height);
        widgets_[size_t(c)] = w;
    };
    auto combo = [&](Control c, QWidget* owner, int x, int y) {
        auto* box = new ListComboBox(owner);
        box->setMaxVisibleItems(7);  // about 160 pixels with the list dropped down
        place(c, box, x, y, 75, box->sizeHint().height());
        return box;
    };

    // Creation order is the tab order.
    auto* progress = new QProgressBar(this);
    progress->setRange(0, 100);
    progress->setValue(0);
    progress->setTextVisible(false);
    progress->setFocusPolicy(Qt::NoFocus);
    place(Control::ProgressBar1, progress, 0, 771, 740, 16);

    auto* setBaud = MakeButton(this, "设置波特率");
    place(Control::Button_SetBaudRate, setBaud, 652, 44, 75, 25);
    combo(Control::Combo_SetBaudRate, this, 652, 16);
    auto* saveAs = MakeButton(this, "另存文件");
    place(Control::Button_SaveAs, saveAs, 206, 745, 66, 25);
    dialog_ = new CommonFileDialog(this);
    dialog_->setObjectName(QString::fromLatin1(ControlIdentifier(Control::CommonDialog1)));
    auto* writeModule = MakeButton(this, "写入模块");
    place(Control::Button_WriteModule, writeModule, 606, 745, 66, 25);
    auto* readModule = MakeButton(this, "读取模块");
    place(Control::Button_ReadModule, readModule, 506, 745, 66, 25);
    auto* clearModule = MakeButton(this, "清空模块");
    place(Control::Button_ClearModule, clearModule, 406, 745, 66, 25);
    auto* saveFile = MakeButton(this, "保存文件");
    place(Control::Button_SaveFile, saveFile, 106, 745, 66, 25);
    auto* openFile = MakeButton(this, "打开文件");
    place(Control::Button_OpenFile, openFile, 6, 745, 66, 25);
    auto* learn = MakeButton(this, "上报");
    place(Control::Button_Learn, learn, 666, 115, 50, 25);

    auto* learnBox = new QLineEdit(this);
    learnBox->setText(QStringLiteral("DIY生成的设备，长按需要学习的按钮，在倒计时结束前上报需要学习的数据。"));
    learnBox->setCursorPosition(0);
    place(Control::Edit_Learn, learnBox, 8, 115, 640, 24);

    auto* group = new QGroupBox(QStringLiteral("COM"), this);
    group->setFocusPolicy(Qt::NoFocus);
    place(Control::GroupBox1, group, 0, 0, 160, 110);
    auto* clearDisplay = MakeButton(group, "清除→");
    place(Control::Button_ClearDisplay, clearDisplay, 88, 72, 50, 25);
    timer_ = new QTimer(group);
    timer_->setObjectName(QString::fromLatin1(ControlIdentifier(Control::Timer_ReceiveData)));
    timer_->setTimerType(Qt::PreciseTimer);
    auto* togglePort = MakeButton(group, "开启");
    place(Control::Button_TogglePort, togglePort, 16, 72, 50, 25);
    combo(Control::Combo_BaudRate, group, 75, 44);
    place(Control::Label2, MakeLabel(group, "波特率:"), 5, 44, 40, 16);
    ListComboBox* port = combo(Control::Combo_Port, group, 75, 16);
    place(Control::Label1, MakeLabel(group, "端口:"), 5, 16, 32, 16);

    auto* log = new QPlainTextEdit(this);
    log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    log->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    log->setTabChangesFocus(true);
    // The log only grows; an undo history of every append would grow with it.
    log->setUndoRedoEnabled(false);
    log->setFrameStyle(QFrame::Box | QFrame::Plain);
    place(Control::Edit_Display, log, 165, 0, 482, 110);

    grid_ = new ConfigGridView(table, this);
    place(Control::ConfigGrid, grid_, 0, 145, 735, 599);

    for (QLineEdit* edit : {learnBox}) {
        QPalette pal = edit->palette();
        pal.setColor(QPalette::Base, Qt::white);
        pal.setColor(QPalette::Text, Qt::black);
        edit->setPalette(pal);
    }
    QPalette logPalette = log->palette();
    logPalette.setColor(QPalette::Base, Qt::white);
    logPalette.setColor(QPalette::Text, Qt::black);
    log->setPalette(logPalette);

    auto bind = [this](QPushButton* button, std::function<void()> WindowHandlers::*member) {
        connect(button, &QPushButton::clicked, this, [this, member] { Run(handlers_.*member); });
    };
    bind(setBaud, &WindowHandlers::setBaudRateClicked);
    bind(learn, &WindowHandlers::learnClicked);
    bind(clearModule, &WindowHandlers::clearModuleClicked);
    bind(readModule, &WindowHandlers::readModuleClicked);
    bind(writeModule, &WindowHandlers::writeModuleClicked);
    bind(openFile, &WindowHandlers::openFileClicked);
    bind(saveFile, &WindowHandlers::saveFileClicked);
    bind(saveAs, &WindowHandlers::saveAsClicked);
    bind(togglePort, &WindowHandlers::togglePortClicked);
    bind(clearDisplay, &WindowHandlers::clearDisplayClicked);
    port->SetAboutToDropDown([this] { Run(handlers_.portListAboutToDropDown); });
    connect(timer_, &QTimer::timeout, this, [this] { Run(handlers_.receiveTimerTick); });
}

MainWindow::~MainWindow() = default;

void MainWindow::RunCreatedHandler() { Run(handlers_.created); }

void MainWindow::SetFirstShown(std::function<void()> callback) { firstShown_ = std::move(callback); }

QWidget* MainWindow::Widget(Control c) const { return widgets_[size_t(c)]; }

ListComboBox* MainWindow::Combo(Control c) const { return qobject_cast<ListComboBox*>(Widget(c)); }

QPoint MainWindow::CentredPosition(const QRect& screen)
{
    return QPoint(screen.x() + (screen.width() - kOuterWidth) / 2, screen.y() + (screen.height() - kOuterHeight) / 2);
}

void MainWindow::Run(const std::function<void()>& handler)
{
    if (!blocked_ && handler) handler();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing always proceeds; the destroyed handler runs exactly once and
    // nothing runs after it, not even a tick that was already due.
    if (!closed_) {
        closed_ = true;
        timer_->stop();
        Run(handlers_.destroyed);
        blocked_ = true;
    }
    event->accept();
}

bool MainWindow::event(QEvent* e)
{
    const bool handled = QWidget::event(e);
    if (e->type() == QEvent::Paint && !shown_) {
        shown_ = true;
        QTimer::singleShot(0, this, [this] {
            FitOuterSize();
            if (firstShown_) firstShown_();
        });
    }
    return handled;
}

void MainWindow::moveEvent(QMoveEvent* e)
{
    QWidget::moveEvent(e);
    // The window manager tells the frame late, usually by moving the window into it.
    if (shown_) FitOuterSize();
}

void MainWindow::FitOuterSize()
{
    QWindow* handle = windowHandle();
    if (!handle) return;
    const QMargins frame = handle->frameMargins();
    if (frame == appliedFrame_) return;
    appliedFrame_ = frame;
    setFixedSize(kOuterWidth - frame.left() - frame.right(), kOuterHeight - frame.top() - frame.bottom());
    if (QScreen* s = screen()) move(CentredPosition(s->geometry()));
}
