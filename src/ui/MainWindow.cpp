#include "ui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStyle>
#include <QStyleOption>
#include <QStyleOptionComboBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <utility>

#include "core/Texts.h"
#include "ui/BlockProgressBar.h"
#include "ui/Captions.h"
#include "ui/ConfigGridView.h"
#include "ui/ListComboBox.h"
#include "ui/LogBox.h"

namespace {

enum class Kind { ProgressBar, Button, Combo, FileDialog, LineEdit, GroupBox, Timer, Label, Log, Grid };

struct ControlSpec {
    Control control;
    Kind kind;
    Control parent;       // MainWindow or GroupBox1
    const char* caption;  // UTF-8, as written for translation; the initial text of an edit box
    QRect rect;           // a height of 0: as high as the font makes it
};

// Every control in creation order.
constexpr ControlSpec kLayout[] = {
    {Control::ProgressBar1, Kind::ProgressBar, Control::MainWindow, "", {0, 771, 740, 16}},
    {Control::Button_SetBaudRate, Kind::Button, Control::MainWindow, QT_TRANSLATE_NOOP("Velmora", "设置波特率"), {652, 44, 75, 25}},
    {Control::Combo_SetBaudRate, Kind::Combo, Control::MainWindow, "", {652, 16, 75, 0}},
    {Control::Button_SaveAs, Kind::Button, Control::MainWindow, QT_TRANSLATE_NOOP("Velmora", "另存文件"), {206, 745, 66, 25}},
    {Control::CommonDialog1, Kind::FileDialog, Control::MainWindow, "", {}},
    {Control::Button_WriteModule, Kind::Button, Control::MainWindow, QT_TRANSLATE_NOOP("Velmora", "写入模块"), {606, 745, 66, 25}},
    {Control::Button_ReadModule, Kind::Button, Control::MainWindow, QT_TRANSLATE_NOOP("Velmora", "读取模块"), {506, 745, 66, 25}},
    {Control::Button_ClearModule, Kind::Button, Control::MainWindow, QT_TRANSLATE_NOOP("Velmora", "清空模块"), {406, 745, 66, 25}},
    {Control::Button_SaveFile, Kind::Button, Control::MainWindow, QT_TRANSLATE_NOOP("Velmora", "保存文件"), {106, 745, 66, 25}},
    {Control::Button_OpenFile, Kind::Button, Control::MainWindow, QT_TRANSLATE_NOOP("Velmora", "打开文件"), {6, 745, 66, 25}},
    {Control::Button_Learn, Kind::Button, Control::MainWindow, QT_TRANSLATE_NOOP("Velmora", "上报"), {666, 115, 50, 25}},
    {Control::Edit_Learn, Kind::LineEdit, Control::MainWindow,
     QT_TRANSLATE_NOOP("Velmora", "DIY生成的设备，长按需要学习的按钮，在倒计时结束前上报需要学习的数据。"), {8, 115, 640, 24}},
    {Control::GroupBox1, Kind::GroupBox, Control::MainWindow, "COM", {0, 0, 160, 110}},
    {Control::Button_ClearDisplay, Kind::Button, Control::GroupBox1, QT_TRANSLATE_NOOP("Velmora", "清除→"), {88, 72, 50, 25}},
    {Control::Timer_ReceiveData, Kind::Timer, Control::GroupBox1, "", {}},
    {Control::Button_TogglePort, Kind::Button, Control::GroupBox1, QT_TRANSLATE_NOOP("Velmora", "开启"), {16, 72, 50, 25}},
    {Control::Combo_BaudRate, Kind::Combo, Control::GroupBox1, "", {75, 44, 75, 0}},
    {Control::Label2, Kind::Label, Control::GroupBox1, QT_TRANSLATE_NOOP("Velmora", "波特率:"), {5, 44, 40, 16}},
    {Control::Combo_Port, Kind::Combo, Control::GroupBox1, "", {75, 16, 75, 0}},
    {Control::Label1, Kind::Label, Control::GroupBox1, QT_TRANSLATE_NOOP("Velmora", "端口:"), {5, 16, 32, 16}},
    {Control::Edit_Display, Kind::Log, Control::MainWindow, "", {165, 0, 482, 110}},
    {Control::ConfigGrid, Kind::Grid, Control::MainWindow, "", {0, 145, 735, 599}},
};

// The tab order: the bands from top to bottom, each from left to right (the
// port group row by row).
constexpr Control kTabOrder[] = {
    Control::Combo_Port,       Control::Combo_BaudRate,   Control::Button_TogglePort, Control::Button_ClearDisplay,
    Control::Edit_Display,     Control::Combo_SetBaudRate, Control::Button_SetBaudRate, Control::Edit_Learn,
    Control::Button_Learn,     Control::ConfigGrid,       Control::Button_OpenFile,   Control::Button_SaveFile,
    Control::Button_SaveAs,    Control::Button_ClearModule, Control::Button_ReadModule, Control::Button_WriteModule,
};

// Keys that press a button, as long as it is enabled (the README and the
// man page list them).
const std::pair<QKeyCombination, Control> kShortcuts[] = {
    {Qt::CTRL | Qt::Key_O, Control::Button_OpenFile},
    {Qt::CTRL | Qt::Key_S, Control::Button_SaveFile},
    {Qt::CTRL | Qt::SHIFT | Qt::Key_S, Control::Button_SaveAs},
    {Qt::CTRL | Qt::Key_P, Control::Button_TogglePort},
    {QKeyCombination(Qt::Key_F5), Control::Button_ReadModule},
    {QKeyCombination(Qt::Key_F6), Control::Button_WriteModule},
    {Qt::CTRL | Qt::Key_L, Control::Button_ClearDisplay},
};

// Which handler each button's click runs.
const std::pair<Control, std::function<void()> WindowHandlers::*> kClicks[] = {
    {Control::Button_SetBaudRate, &WindowHandlers::setBaudRateClicked},
    {Control::Button_Learn, &WindowHandlers::learnClicked},
    {Control::Button_ClearModule, &WindowHandlers::clearModuleClicked},
    {Control::Button_ReadModule, &WindowHandlers::readModuleClicked},
    {Control::Button_WriteModule, &WindowHandlers::writeModuleClicked},
    {Control::Button_OpenFile, &WindowHandlers::openFileClicked},
    {Control::Button_SaveFile, &WindowHandlers::saveFileClicked},
    {Control::Button_SaveAs, &WindowHandlers::saveAsClicked},
    {Control::Button_TogglePort, &WindowHandlers::togglePortClicked},
    {Control::Button_ClearDisplay, &WindowHandlers::clearDisplayClicked},
};

// Icons of the sizes installed for menus, compiled into the program.
QIcon MakeIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/org.velmora.Velmora.png").arg(size), QSize(size, size));
    return icon;
}

QObject* MakeControl(const ControlSpec& spec, QWidget* parent, ConfigTable& table)
{
    const QString caption = Texts::tr(spec.caption);
    switch (spec.kind) {
    case Kind::ProgressBar: {
        auto* bar = new BlockProgressBar(parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setFocusPolicy(Qt::NoFocus);
        return bar;
    }
    case Kind::Button: {
        auto* button = new QPushButton(CaptionForQt(caption), parent);
        // None is the default button; Enter presses the focused one (see eventFilter).
        button->setAutoDefault(false);
        button->setDefault(false);
        return button;
    }
    case Kind::Combo: {
        auto* box = new ListComboBox(parent);
        box->setMaxVisibleItems(7);  // about 160 pixels with the list dropped down
        return box;
    }
    case Kind::FileDialog: return new CommonFileDialog(parent);
    case Kind::LineEdit: {
        auto* edit = new QLineEdit(caption, parent);
        edit->setCursorPosition(0);
        return edit;
    }
    case Kind::GroupBox: {
        auto* group = new QGroupBox(CaptionForQt(caption), parent);
        group->setFocusPolicy(Qt::NoFocus);
        return group;
    }
    case Kind::Timer: {
        auto* timer = new QTimer(parent);
        timer->setTimerType(Qt::PreciseTimer);
        return timer;
    }
    case Kind::Label: {
        auto* label = new QLabel(caption, parent);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return label;
    }
    case Kind::Log: {
        auto* log = new LogBox(parent);
        log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        log->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        log->setTabChangesFocus(true);
        // The log only grows; an undo history of every append would grow with it.
        log->setUndoRedoEnabled(false);
        log->setMaximumBlockCount(MainWindow::kMaxLogLines);
        log->setFrameStyle(QFrame::Box | QFrame::Plain);
        return log;
    }
    case Kind::Grid: return new ConfigGridView(table, parent);
    }
    return nullptr;
}

// Room a push button's caption needs besides its text, and a combo box's
// text field besides its text; both fit the designed sizes in the default font.
constexpr int kButtonPadding = 12;
constexpr int kFieldPadding = 5;
// How high a closed combo box may be in its row: the port group's rows are
// 28 pixels apart and keep 3 between them.
constexpr int kComboRoom = 25;

// A box keeps its designed height while its text's line, with a pixel clear
// above and below, fits inside the style's frame, whatever Qt's size hint
// says: a CJK font's tall line (Noto Sans CJK's is 17 pixels at 9 points)
// makes the hint a pixel or two higher than the box the text fits in.
bool LineFits(const QFontMetrics& fm, int innerHeight) { return innerHeight >= fm.height() + 2; }

// The least height that shows the ink of `text` whole with its line centred
// in it, as a label draws it: a line's leading above and below the ink may
// stand out of the label, which has no frame it could touch.
int InkHeight(const QFontMetrics& fm, const QString& text)
{
    const QRect ink = fm.tightBoundingRect(text);
    if (ink.isEmpty()) return 0;
    const int above = fm.ascent() + ink.top();
    const int below = fm.height() - fm.ascent() - ink.bottom() - 1;
    return fm.height() - 2 * qMax(0, qMin(above, below));
}

}  // namespace

MainWindow::MainWindow(ConfigTable& table, WindowHandlers handlers, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      handlers_(std::move(handlers))
{
    setObjectName(QString::fromLatin1(ControlIdentifier(Control::MainWindow)));
    setWindowTitle(Texts::tr("Velmora-自定义设备版"));

    // The controls sit on a client area as large as the window, which
    // scrolls inside it only when the window is smaller than the least size.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    scroller_ = new QScrollArea(this);
    scroller_->setFrameShape(QFrame::NoFrame);
    scroller_->setWidgetResizable(true);
    layout->addWidget(scroller_);
    scroller_->setFocusPolicy(Qt::NoFocus);
    client_ = new QWidget;
    client_->setObjectName(QStringLiteral("ClientArea"));
    client_->installEventFilter(this);

    for (const ControlSpec& spec : kLayout) {
        QWidget* parentWidget = spec.parent == Control::GroupBox1 ? Widget(Control::GroupBox1) : client_;
        QObject* control = MakeControl(spec, parentWidget, table);
        control->setObjectName(QString::fromLatin1(ControlIdentifier(spec.control)));
        if (auto* w = qobject_cast<QWidget*>(control)) {
            const int height = spec.rect.height() > 0 ? spec.rect.height() : w->sizeHint().height();
            w->setGeometry(spec.rect.x(), spec.rect.y(), spec.rect.width(), height);
            widgets_[size_t(spec.control)] = w;
        }
        if (spec.kind == Kind::Timer) timer_ = static_cast<QTimer*>(control);
        if (spec.kind == Kind::FileDialog) dialog_ = static_cast<CommonFileDialog*>(control);
        if (spec.kind == Kind::Grid) grid_ = static_cast<ConfigGridView*>(control);
    }
    scroller_->setWidget(client_);
    grid_->SetUnreadableCode(handlers_.readCannotBringBack);
    NameForScreenReaders();
    BindEvents();
    ApplyPlacement();
}

MainWindow::~MainWindow() = default;

void MainWindow::NameForScreenReaders()
{
    // The port group's boxes by the labels beside them.
    for (const auto& [label, box] : {std::pair{Control::Label1, Control::Combo_Port}, std::pair{Control::Label2, Control::Combo_BaudRate}}) {
        auto* caption = static_cast<QLabel*>(Widget(label));
        caption->setBuddy(Widget(box));
        QString name = caption->text().trimmed();
        while (name.endsWith(u':') || name.endsWith(u'：')) name.chop(1);
        Combo(box)->SetName(name);
    }
    Combo(Control::Combo_SetBaudRate)->SetName(Texts::tr("模块波特率"));
    Widget(Control::Edit_Display)->setAccessibleName(Texts::tr("日志"));
    Widget(Control::Edit_Learn)->setAccessibleName(Texts::tr("上报数据"));
    Widget(Control::ConfigGrid)->setAccessibleName(Texts::tr("配置表"));
}

void MainWindow::BindEvents()
{
    for (const auto& [control, member] : kClicks) {
        auto* button = static_cast<QPushButton*>(Widget(control));
        connect(button, &QPushButton::clicked, this, [this, button, member = member] {
            QWidget* outer = std::exchange(clicking_, button);
            Run(handlers_.*member);
            clicking_ = outer;
        });
    }
    Combo(Control::Combo_Port)->SetAboutToDropDown([this] { Run(handlers_.portListAboutToDropDown); });
    connect(timer_, &QTimer::timeout, this, [this] { Run(handlers_.receiveTimerTick); });

    for (QPushButton* button : client_->findChildren<QPushButton*>()) button->installEventFilter(this);
    for (const auto& [keys, control] : kShortcuts) {
        auto* button = static_cast<QPushButton*>(Widget(control));
        const QKeySequence sequence(keys);
        connect(new QShortcut(sequence, this), &QShortcut::activated, button, [button] {
            if (button->isEnabled()) button->click();
        });
        button->setToolTip(sequence.toString(QKeySequence::NativeText));
    }
    // F7 has no button of its own: it compares exactly while 读取模块 may run.
    compare_ = new QAction(Texts::tr("与模块比较"), this);
    compare_->setShortcut(QKeySequence(Qt::Key_F7));
    compare_->setShortcutContext(Qt::WindowShortcut);
    compare_->setEnabled(Widget(Control::Button_ReadModule)->isEnabled());
    addAction(compare_);
    connect(compare_, &QAction::triggered, this, [this] {
        if (Widget(Control::Button_ReadModule)->isEnabled()) Run(handlers_.compareRequested);
    });
    grid_->SetCompareAction(compare_);
    for (size_t i = 1; i < std::size(kTabOrder); ++i) setTabOrder(Widget(kTabOrder[i - 1]), Widget(kTabOrder[i]));
    // The window opens with the keyboard where the tab order starts.
    Widget(kTabOrder[0])->setFocus();
}

void MainWindow::RunCreatedHandler() { Run(handlers_.created); }

void MainWindow::SetFirstShown(std::function<void()> callback) { firstShown_ = std::move(callback); }

QWidget* MainWindow::Widget(Control c) const { return widgets_[size_t(c)]; }

ListComboBox* MainWindow::Combo(Control c) const { return qobject_cast<ListComboBox*>(Widget(c)); }

LogBox* MainWindow::Log() const { return static_cast<LogBox*>(Widget(Control::Edit_Display)); }

QRect MainWindow::OuterPlacement(const QRect& screen, const QRect& available, QSize natural, QSize least,
                                 int scrollBarExtent)
{
    QSize size = natural.boundedTo(available.size());
    // Where the least size does not fit, the controls scroll that way, and
    // the scroll bar takes its room across if it can.
    if (available.height() < least.height()) size.rwidth() += scrollBarExtent;
    if (available.width() < least.width()) size.rheight() += scrollBarExtent;
    size = size.boundedTo(available.size());
    // Centred on the whole screen as designed, in integer halves; then moved
    // as little as it takes to be inside the area that panels leave free.
    QPoint at(screen.x() + (screen.width() - size.width()) / 2, screen.y() + (screen.height() - size.height()) / 2);
    at.setX(qBound(available.left(), at.x(), available.left() + available.width() - size.width()));
    at.setY(qBound(available.top(), at.y(), available.top() + available.height() - size.height()));
    return QRect(at, size);
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

bool MainWindow::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::KeyPress) {
        // Enter presses the focused button, as Space does.
        const auto* key = static_cast<QKeyEvent*>(e);
        auto* button = qobject_cast<QPushButton*>(watched);
        if (button && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && key->modifiers() == Qt::NoModifier) {
            if (!key->isAutoRepeat()) button->click();
            return true;
        }
    }
    if (e->type() == QEvent::EnabledChange && watched == Widget(Control::Button_ReadModule))
        compare_->setEnabled(Widget(Control::Button_ReadModule)->isEnabled());
    if (watched != client_) return QWidget::eventFilter(watched, e);
    switch (e->type()) {
    case QEvent::Paint:
        // The client area covers the window, so its first paint is the window's.
        if (!shown_) {
            shown_ = true;
            QTimer::singleShot(0, this, [this] {
                // Its seven sizes are decoded as it is set, which is not to
                // be paid for before the window shows; the title bar takes it now.
                setWindowIcon(MakeIcon());
                ApplyPlacement();
                if (firstShown_) firstShown_();
            });
        }
        break;
    case QEvent::Resize: ApplyLayout(); break;
    case QEvent::FontChange:
    case QEvent::StyleChange:
        // Every control hears of it in turn; measure once they all have.
        if (!remeasurePending_) {
            remeasurePending_ = true;
            QTimer::singleShot(0, this, [this] {
                remeasurePending_ = false;
                Remeasure();
                ApplyLayout();
            });
        }
        break;
    default: break;
    }
    return QWidget::eventFilter(watched, e);
}

void MainWindow::moveEvent(QMoveEvent* e)
{
    QWidget::moveEvent(e);
    // The window manager tells the frame late, usually by moving the window
    // into it. A window the user has sized or maximised since keeps its size.
    if (!shown_ || !windowHandle() || windowHandle()->frameMargins() == appliedFrame_) return;
    if (size() == placedSize_ && !isMaximized() && !isFullScreen()) {
        ApplyPlacement();
    } else {
        NoteFrame();
        ApplyLayout();
    }
}

QSize MainWindow::NoteFrame()
{
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    appliedFrame_ = frame;
    const QSize frameSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    designedClient_ = QSize(kOuterWidth, kOuterHeight) - frameSize;
    Remeasure();
    return frameSize;
}

void MainWindow::ApplyPlacement()
{
    // Before the first show no frame is known: the client area then takes the
    // whole outer size, and the first show trims it.
    const QSize frameSize = NoteFrame();

    QScreen* s = windowHandle() && windowHandle()->screen() ? windowHandle()->screen() : QGuiApplication::primaryScreen();
    QRect outer(QPoint(), layout_.Natural() + frameSize);
    if (s)
        outer = OuterPlacement(s->geometry(), s->availableGeometry(), outer.size(), layout_.Minimum() + frameSize,
                               style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroller_));
    const QSize inner = outer.size() - frameSize;
    setMinimumSize(layout_.Minimum().boundedTo(inner));
    resize(inner);
    placedSize_ = inner;
    if (s) move(outer.topLeft());
    // Unshown, the scroll area does not size the client area yet.
    if (!isVisible()) client_->resize(inner.expandedTo(layout_.Minimum()));
    ApplyLayout();
}

void MainWindow::Remeasure()
{
    layout_ = WindowLayout(DesignedRects(), MeasureNeeds(), designedClient_);
    client_->setMinimumSize(layout_.Minimum());
}

ControlRects MainWindow::DesignedRects()
{
    ControlRects rects{};
    for (const ControlSpec& spec : kLayout) rects[size_t(spec.control)] = spec.rect;
    return rects;
}

ControlSizes MainWindow::MeasureNeeds() const
{
    ControlSizes needs{};
    for (const ControlSpec& spec : kLayout) {
        QWidget* w = Widget(spec.control);
        if (!w) continue;
        const QFontMetrics fm = w->fontMetrics();
        QSize& need = needs[size_t(spec.control)];
        switch (spec.kind) {
        case Kind::Button: {
            auto* button = static_cast<QPushButton*>(w);
            QStyleOptionButton option;
            option.initFrom(button);
            option.rect = QRect(QPoint(), spec.rect.size());
            const QRect inner = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            need = QSize(fm.horizontalAdvance(CaptionFromQt(button->text())) + kButtonPadding,
                         LineFits(fm, inner.height()) ? spec.rect.height() : button->sizeHint().height());
            break;
        }
        case Kind::Label: {
            // Glyph outlines are looked at only when the line is higher than the label.
            const QString text = static_cast<QLabel*>(w)->text();
            need = QSize(fm.horizontalAdvance(text), fm.height() <= spec.rect.height() ? fm.height() : InkHeight(fm, text));
            break;
        }
        case Kind::GroupBox: {
            // The caption's line starts at the group's top, and the first row
            // two pixels below it; where the line reaches into that row, the
            // rows keep clear of its ink instead ("COM" has no descenders).
            const QString caption = CaptionFromQt(static_cast<QGroupBox*>(w)->title());
            const int room = DesignedRects()[size_t(Control::Combo_Port)].y() - 2;
            need = QSize(fm.horizontalAdvance(caption), fm.height() <= room
                                                            ? fm.height()
                                                            : fm.ascent() + fm.tightBoundingRect(caption).bottom() + 1);
            break;
        }
        case Kind::Combo: {
            // Room in the text field for the widest text a box shows closed, a rate.
            auto* box = static_cast<QComboBox*>(w);
            QStyleOptionComboBox option;
            option.initFrom(box);
            option.editable = true;
            option.frame = box->hasFrame();
            const auto field = [&](int height) {
                option.rect = QRect(0, 0, 200, height);
                return box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box);
            };
            const int hint = box->sizeHint().height();
            const int height = hint <= kComboRoom || !LineFits(fm, field(kComboRoom).height()) ? hint : kComboRoom;
            need = QSize(fm.horizontalAdvance(QStringLiteral("115200")) + kFieldPadding + 200 - field(height).width(), height);
            break;
        }
        case Kind::LineEdit: {
            auto* edit = static_cast<QLineEdit*>(w);
            QStyleOptionFrame option;
            option.initFrom(edit);
            option.rect = QRect(QPoint(), spec.rect.size());
            option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
            const QRect inner = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
            need = QSize(0, LineFits(fm, inner.height()) ? spec.rect.height() : edit->sizeHint().height());
            break;
        }
        default: break;
        }
    }
    return needs;
}

void MainWindow::ApplyLayout()
{
    const ControlRects rects = layout_.Place(client_->size());
    for (size_t i = 0; i < rects.size(); ++i)
        if (QWidget* w = widgets_[i]) w->setGeometry(rects[i]);
    // Beyond its designed width (where longer captions or a larger font
    // widen the window too) the extra room goes to the value columns.
    grid_->SetFillWidth(client_->width() > designedClient_.width());
}
