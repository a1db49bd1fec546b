#pragma once
// Where the main window's controls go. With the designed client size and a
// font that fits the designed rectangles, every control is exactly at its
// designed rectangle. A font that needs more room widens or heightens the
// controls whose text it is and moves those right of and below them, and the
// natural size of the window grows with them. A window larger than natural
// gives its extra room to the log box, the learn box and the grid; the
// controls at the right edge and the bottom row keep their distance from the
// right and the bottom. A smaller one first gives up the empty strip under the
// progress bar, then grid rows, so the buttons and the bar stay in view.

#include <QRect>
#include <QSize>
#include <array>

#include "ui/UiServices.h"

// One rectangle or size per control, indexed by Control.
using ControlRects = std::array<QRect, size_t(Control::MainWindow)>;
using ControlSizes = std::array<QSize, size_t(Control::MainWindow)>;

class WindowLayout {
public:
    // Nothing laid out; Place gives empty rectangles.
    WindowLayout() = default;
    // `designed`: each control's rectangle in its parent as designed (a
    // height of 0: as high as its need says). `needs`: the least size each
    // control's text asks for in the current font (empty where it asks
    // nothing). `designedClient`: the client area at the window's designed
    // outer size.
    WindowLayout(const ControlRects& designed, const ControlSizes& needs, QSize designedClient);

    // The client size at which nothing is stretched or squeezed.
    QSize Natural() const { return natural_; }
    // The smallest client size at which every control still shows whole.
    QSize Minimum() const { return minimum_; }
    // Every control's rectangle in its parent for a client area of `client`;
    // a size below Minimum() is taken as Minimum().
    ControlRects Place(QSize client) const;

    // Least sizes of what gives up room when the window is made smaller.
    static constexpr int kLeastGridHeight = 100;
    static constexpr int kLeastGridWidth = 300;
    static constexpr int kLeastBoxWidth = 160;  // the log box and the learn box
    static constexpr int kLeastButtonGap = 8;
    static constexpr int kLeastMiddleGap = 20;  // between the file and the module buttons

private:
    ControlRects rects_{};  // at the natural size
    QSize natural_;
    QSize minimum_;
    int bottomStrip_ = 0;  // empty height under the progress bar at the natural size
};
