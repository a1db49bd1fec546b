#pragma once
// The program's one window: 22 controls in four bands (port group, log box
// and module-baud setting; learn box; configuration grid; file and module
// buttons over the progress bar) and the binding of its events to the
// handlers it is given. At its designed size the controls sit at their
// designed places; the window can be resized and fits the screen it starts
// on (see WindowLayout). Only on a screen smaller than its least size do its
// controls scroll.

#include <QObject>
#include <QString>
#include <QWidget>
#include <array>

#include "ui/UiServices.h"
#include "ui/WindowHandlers.h"
#include "ui/WindowLayout.h"

class ConfigTable;
class ConfigGridView;
class ListComboBox;
class QAction;
class LogBox;
class QScrollArea;
class QTimer;

// The window's file dialog has no visible area; it keeps its settings and the
// file name last confirmed from one showing to the next.
class CommonFileDialog : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    int kind = 0;  // 0 open, 1 save
    QString defaultExtension;
    QString fileName;  // full path last confirmed
};

class MainWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kOuterWidth = 740;
    static constexpr int kOuterHeight = 818;
    // The log keeps this many lines and characters at most, dropping the
    // oldest lines, so a line that never stops talking cannot fill the memory.
    // The characters allow some 20,000 lines of 50; only noise reaches them.
    static constexpr int kMaxLogLines = 20000;
    static constexpr int kMaxLogCharacters = 1'000'000;

    MainWindow(ConfigTable& table, WindowHandlers handlers, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Runs the created handler; call once, after construction and before the first show.
    void RunCreatedHandler();
    // Called once, after the window has first been drawn.
    void SetFirstShown(std::function<void()> callback);
    // While blocked no handler runs (a fatal report is showing, or the window closed).
    void SetHandlersBlocked(bool blocked) { blocked_ = blocked; }
    bool DestroyedHandlerRan() const { return closed_; }
    // The button whose click handler runs now (by mouse, key or shortcut); nullptr outside one.
    QWidget* ButtonBeingClicked() const { return clicking_; }

    // The widget of a control; nullptr for the timer, the file dialog and the window.
    QWidget* Widget(Control c) const;
    // The combo box `c`; nullptr when `c` is none.
    ListComboBox* Combo(Control c) const;
    QTimer* ReceiveTimer() const { return timer_; }
    CommonFileDialog* FileDialog() const { return dialog_; }
    ConfigGridView* Grid() const { return grid_; }
    // F7, the comparison with the module: enabled exactly while 读取模块 is.
    QAction* CompareAction() const { return compare_; }
    LogBox* Log() const;
    // The area the controls are laid out in; as large as the window's client
    // area, and never smaller than the layout's least size, below which it scrolls.
    QWidget* ClientArea() const { return client_; }
    const WindowLayout& Layout() const { return layout_; }

    // Where the window goes on a screen, as its outer rectangle: its natural
    // outer size, centred on the whole screen, then moved inside the available
    // area (never above its top) and no larger than that area. Where the area
    // is smaller than the least outer size, the window keeps room for a scroll
    // bar of `scrollBarExtent` across that direction if it can.
    static QRect OuterPlacement(const QRect& screen, const QRect& available, QSize natural, QSize least,
                                int scrollBarExtent = 0);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void BindEvents();
    // Names for the controls without a caption of their own, for screen readers.
    void NameForScreenReaders();
    void Run(const std::function<void()>& handler);
    // Sizes and places the window on its screen for the frame the window manager gave it.
    void ApplyPlacement();
    // Takes the window manager's frame as it is now and lays the controls
    // out for it; returns the frame's size.
    QSize NoteFrame();
    // Every control's designed rectangle.
    static ControlRects DesignedRects();
    // What the font asks of each control's size.
    ControlSizes MeasureNeeds() const;
    // Lays the controls out anew for the font they have now.
    void Remeasure();
    // Puts every control where the layout wants it for the client area's size.
    void ApplyLayout();

    WindowHandlers handlers_;
    std::array<QWidget*, int(Control::MainWindow) + 1> widgets_{};
    QScrollArea* scroller_ = nullptr;
    QWidget* client_ = nullptr;
    QTimer* timer_ = nullptr;
    CommonFileDialog* dialog_ = nullptr;
    ConfigGridView* grid_ = nullptr;
    QAction* compare_ = nullptr;
    std::function<void()> firstShown_;
    bool shown_ = false;
    bool blocked_ = false;
    bool closed_ = false;
    QWidget* clicking_ = nullptr;
    QMargins appliedFrame_;
    QSize placedSize_;  // the size ApplyPlacement gave the window
    QSize designedClient_;  // the client area at the designed outer size
    WindowLayout layout_;
    bool remeasurePending_ = false;
};
