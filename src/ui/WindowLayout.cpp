#include "ui/WindowLayout.h"

#include <algorithm>
#include <initializer_list>

namespace {

enum class Anchor { Start, End, Stretch };

// How a control follows the client area's size: horizontally, then vertically.
struct Follow {
    Anchor horizontal = Anchor::Start;
    Anchor vertical = Anchor::Start;
};

Follow FollowOf(Control c)
{
    switch (c) {
    case Control::Edit_Display:
    case Control::Edit_Learn: return {Anchor::Stretch, Anchor::Start};
    case Control::Combo_SetBaudRate:
    case Control::Button_SetBaudRate:
    case Control::Button_Learn: return {Anchor::End, Anchor::Start};
    case Control::ConfigGrid: return {Anchor::Stretch, Anchor::Stretch};
    case Control::ProgressBar1: return {Anchor::Stretch, Anchor::End};
    case Control::Button_OpenFile:
    case Control::Button_SaveFile:
    case Control::Button_SaveAs: return {Anchor::Start, Anchor::End};
    case Control::Button_ClearModule:
    case Control::Button_ReadModule:
    case Control::Button_WriteModule: return {Anchor::End, Anchor::End};
    default: return {};  // the port group and everything in it
    }
}

constexpr Control kFileButtons[] = {Control::Button_OpenFile, Control::Button_SaveFile, Control::Button_SaveAs};
constexpr Control kModuleButtons[] = {Control::Button_ClearModule, Control::Button_ReadModule,
                                      Control::Button_WriteModule};

}  // namespace

WindowLayout::WindowLayout(const ControlRects& designed, const ControlSizes& needs, QSize designedClient)
{
    const auto D = [&](Control c) { return designed[size_t(c)]; };
    const auto N = [&](Control c) { return needs[size_t(c)]; };
    const auto R = [&](Control c) -> QRect& { return rects_[size_t(c)]; };
    // A designed height of 0 leaves the height to the font.
    const auto height = [&](Control c) { return std::max(D(c).height(), N(c).height()); };
    const auto width = [&](Control c) { return std::max(D(c).width(), N(c).width()); };

    // Every push button is as high as the highest one needs to be.
    int buttonH = 0;
    for (Control c : {Control::Button_SetBaudRate, Control::Button_SaveAs, Control::Button_WriteModule,
                      Control::Button_ReadModule, Control::Button_ClearModule, Control::Button_SaveFile,
                      Control::Button_OpenFile, Control::Button_Learn, Control::Button_ClearDisplay,
                      Control::Button_TogglePort})
        buttonH = std::max(buttonH, height(c));

    // The port group: two rows of a label and a box, then its two buttons.
    // The rows keep their designed pitch unless the font makes them taller,
    // and the first starts below the group's caption.
    const QRect dGroup = D(Control::GroupBox1), dPort = D(Control::Combo_Port), dBaud = D(Control::Combo_BaudRate);
    const QRect dOpen = D(Control::Button_TogglePort), dClear = D(Control::Button_ClearDisplay);
    const QRect dLabel1 = D(Control::Label1), dLabel2 = D(Control::Label2);
    const int labelH = std::max(height(Control::Label1), height(Control::Label2));
    const int rowH = std::max({labelH, height(Control::Combo_Port), height(Control::Combo_BaudRate)});
    const int row1 = std::max(dPort.y(), N(Control::GroupBox1).height() + 2);
    const int row2 = row1 + std::max(dBaud.y() - dPort.y(), rowH + 3);
    const int row3 = row2 + std::max(dOpen.y() - dBaud.y(), rowH + 3);
    const int labelsW = std::max(N(Control::Label1).width(), N(Control::Label2).width());
    const int comboX = std::max(dPort.x(), dLabel1.x() + labelsW + 4);
    const int comboW = std::max(width(Control::Combo_Port), width(Control::Combo_BaudRate));
    R(Control::Label1) = QRect(dLabel1.x(), row1, width(Control::Label1), labelH);
    R(Control::Label2) = QRect(dLabel2.x(), row2, width(Control::Label2), labelH);
    R(Control::Combo_Port) = QRect(comboX, row1, comboW, height(Control::Combo_Port));
    R(Control::Combo_BaudRate) = QRect(comboX, row2, comboW, height(Control::Combo_BaudRate));
    const int openW = width(Control::Button_TogglePort);
    R(Control::Button_TogglePort) = QRect(dOpen.x(), row3, openW, buttonH);
    R(Control::Button_ClearDisplay) =
        QRect(dClear.x() + (openW - dOpen.width()), row3, width(Control::Button_ClearDisplay), buttonH);
    // The group keeps its designed margins around what it holds.
    const int groupW = std::max({dGroup.width(), comboX + comboW + (dGroup.width() - dPort.x() - dPort.width()),
                                 R(Control::Button_ClearDisplay).x() + R(Control::Button_ClearDisplay).width()
                                     + (dGroup.width() - dClear.x() - dClear.width())});
    const int groupH = std::max(dGroup.height(), row3 + buttonH + (dGroup.height() - dOpen.y() - dOpen.height()));
    R(Control::GroupBox1) = QRect(dGroup.topLeft(), QSize(groupW, groupH));

    // The top band: the log box beside the group, the module-baud box and its
    // button at the right edge; then the learn band.
    const QRect dLog = D(Control::Edit_Display), dModuleBox = D(Control::Combo_SetBaudRate);
    const QRect dLearn = D(Control::Edit_Learn), dLearnButton = D(Control::Button_Learn);
    const int columnW = std::max(width(Control::Combo_SetBaudRate), width(Control::Button_SetBaudRate));
    const int columnMargin = designedClient.width() - dModuleBox.x() - dModuleBox.width();
    const int logX = groupW + (dLog.x() - dGroup.width());
    const int logToColumn = dModuleBox.x() - dLog.x() - dLog.width();
    const int learnW = width(Control::Button_Learn);
    const int learnMargin = designedClient.width() - dLearnButton.x() - dLearnButton.width();
    const int learnToButton = dLearnButton.x() - dLearn.x() - dLearn.width();
    int clientW = std::max({designedClient.width(), logX + dLog.width() + logToColumn + columnW + columnMargin,
                            dLearn.x() + kLeastBoxWidth + learnToButton + learnW + learnMargin});

    // The bottom row: the file buttons from the left, the module buttons from
    // the right edge, each where designed unless a wider neighbour pushes it.
    int fileRight = D(kFileButtons[0]).x() - kLeastButtonGap;
    for (Control c : kFileButtons) {
        const int x = std::max(D(c).x(), fileRight + kLeastButtonGap);
        R(c) = QRect(x, 0, width(c), buttonH);
        fileRight = x + width(c);
    }
    // Right edges as offsets from the client's right edge.
    int nextLeft = 0;
    int moduleLeft = 0;
    for (auto it = std::rbegin(kModuleButtons); it != std::rend(kModuleButtons); ++it) {
        const int right = designedClient.width() - D(*it).x() - D(*it).width();
        const int offset = it == std::rbegin(kModuleButtons) ? right : std::max(right, nextLeft + kLeastButtonGap);
        R(*it) = QRect(-offset - width(*it), 0, width(*it), buttonH);
        nextLeft = offset + width(*it);
        moduleLeft = nextLeft;
    }
    clientW = std::max(clientW, fileRight + kLeastMiddleGap + moduleLeft);
    for (Control c : kModuleButtons) R(c).translate(clientW, 0);

    const int columnX = clientW - columnMargin - columnW;
    R(Control::Combo_SetBaudRate) = QRect(columnX, row1, columnW, height(Control::Combo_SetBaudRate));
    R(Control::Button_SetBaudRate) = QRect(columnX, row2, columnW, buttonH);
    R(Control::Edit_Display) = QRect(logX, dLog.y(), columnX - logToColumn - logX, dLog.height() + (groupH - dGroup.height()));

    const int learnTop = groupH + (dLearn.y() - dGroup.height());
    const int learnX = clientW - learnMargin - learnW;
    R(Control::Button_Learn) = QRect(learnX, learnTop, learnW, buttonH);
    R(Control::Edit_Learn) = QRect(dLearn.x(), learnTop, learnX - learnToButton - dLearn.x(), height(Control::Edit_Learn));

    // The grid and, under it, the bottom row and the progress bar.
    const QRect dGrid = D(Control::ConfigGrid), dRow = D(Control::Button_OpenFile), dBar = D(Control::ProgressBar1);
    const int learnBottom = learnTop + std::max(R(Control::Edit_Learn).height(), buttonH);
    const int gridTop = learnBottom + (dGrid.y() - dLearnButton.y() - dLearnButton.height());
    const int gridW = clientW - (designedClient.width() - dGrid.width());
    R(Control::ConfigGrid) = QRect(dGrid.x(), gridTop, gridW, dGrid.height());
    const int rowTop = gridTop + dGrid.height() + (dRow.y() - dGrid.y() - dGrid.height());
    for (Control c : kFileButtons) R(c).moveTop(rowTop);
    for (Control c : kModuleButtons) R(c).moveTop(rowTop);
    const int barTop = rowTop + buttonH + (dBar.y() - dRow.y() - dRow.height());
    R(Control::ProgressBar1) = QRect(dBar.x(), barTop, dBar.width() + (clientW - designedClient.width()), dBar.height());

    natural_ = QSize(clientW, designedClient.height() + (barTop - dBar.y()));
    bottomStrip_ = std::max(0, natural_.height() - barTop - dBar.height());

    // What can give up room: the strip and the grid's rows in height; in
    // width the boxes that stretch, the grid and the gap in the bottom row.
    const int middleGap = R(Control::Button_ClearModule).x() - fileRight;
    const int slack = std::max(0, std::min({R(Control::Edit_Display).width() - kLeastBoxWidth,
                                            R(Control::Edit_Learn).width() - kLeastBoxWidth, gridW - kLeastGridWidth,
                                            middleGap - kLeastMiddleGap}));
    const int gridSlack = std::max(0, dGrid.height() - kLeastGridHeight);
    minimum_ = QSize(clientW - slack, natural_.height() - bottomStrip_ - gridSlack);
}

ControlRects WindowLayout::Place(QSize client) const
{
    client = client.expandedTo(minimum_);
    const int dx = client.width() - natural_.width();
    const int dy = client.height() - natural_.height();
    // Growing, the grid takes all; shrinking, the strip under the bar goes first.
    const int dyGrid = dy >= 0 ? dy : std::min(0, dy + bottomStrip_);
    ControlRects placed = rects_;
    for (size_t i = 0; i < placed.size(); ++i) {
        QRect& r = placed[i];
        if (r.isNull()) continue;
        const Follow follow = FollowOf(Control(i));
        if (follow.horizontal == Anchor::End) r.translate(dx, 0);
        if (follow.horizontal == Anchor::Stretch) r.setWidth(r.width() + dx);
        if (follow.vertical == Anchor::End) r.translate(0, dyGrid);
        if (follow.vertical == Anchor::Stretch) r.setHeight(r.height() + dyGrid);
    }
    return placed;
}
