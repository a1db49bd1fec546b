#pragma once
// What the main window runs for each of its events. Plain callables, so the
// window knows nothing of the program's logic; an empty one does nothing.

#include <QStringView>
#include <functional>

struct WindowHandlers {
    std::function<void()> created;    // once, after every control exists, before the first show
    std::function<void()> destroyed;  // once, when the window closes
    std::function<void()> setBaudRateClicked;
    std::function<void()> learnClicked;
    std::function<void()> clearModuleClicked;
    std::function<void()> readModuleClicked;
    std::function<void()> writeModuleClicked;
    std::function<void()> compareRequested;  // F7, or the grid's menu: only while 读取模块 is enabled
    std::function<void()> openFileClicked;
    std::function<void()> saveFileClicked;
    std::function<void()> saveAsClicked;
    std::function<void()> togglePortClicked;
    std::function<void()> clearDisplayClicked;
    std::function<void()> portListAboutToDropDown;  // before the port box shows its list
    std::function<void()> receiveTimerTick;
    // Asked, not run: whether a read of the module cannot bring a cell's code
    // back whole (given the text of a code that converts; the grid marks such codes).
    std::function<bool(QStringView codeText)> readCannotBringBack;
};
