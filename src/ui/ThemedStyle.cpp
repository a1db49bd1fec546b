#include "ui/ThemedStyle.h"

#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyleOption>

#include "ui/UiServices.h"

QColor ThemeFrameColour(int variant)
{
    switch (variant) {
    case ThemeVariant::Blue: return QColor(123, 158, 189);
    case ThemeVariant::Green: return QColor(164, 185, 127);
    case ThemeVariant::Lavender: return QColor(198, 197, 215);
    default: return QColor();
    }
}

ThemedStyle::ThemedStyle(QStyle* base, QColor frame, QColor disabledFrame)
    : QProxyStyle(base), frame_(frame), disabledFrame_(disabledFrame)
{
}

void ThemedStyle::SetColours(QColor frame, QColor disabledFrame)
{
    frame_ = frame;
    disabledFrame_ = disabledFrame;
}

void ThemedStyle::DrawFrame(const QStyleOption* option, QPainter* painter, const QRect& rect) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen((option->state & State_Enabled) ? frame_ : disabledFrame_, 1));
    painter->drawRect(rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

void ThemedStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                const QWidget* widget) const
{
    if (!frame_.isValid()) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    switch (element) {
    case PE_PanelButtonCommand:
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        DrawFrame(option, painter, option->rect);
        // The base style shows a button's focus on its frame, which the
        // scheme colour covers, and only after a key moved it: a dotted
        // rectangle inside the frame shows it however it came. (A combo box's
        // arrow is drawn as such a panel too, and shows its focus its own way.)
        if ((option->state & State_HasFocus) && qobject_cast<const QPushButton*>(widget)) {
            painter->save();
            painter->setRenderHint(QPainter::Antialiasing, false);
            painter->setBrush(Qt::NoBrush);
            painter->setPen(QPen(option->palette.color(QPalette::ButtonText), 1, Qt::DotLine));
            painter->drawRect(option->rect.adjusted(3, 3, -4, -4));
            painter->restore();
        }
        return;
    case PE_FrameLineEdit:
    case PE_FrameGroupBox:
        DrawFrame(option, painter, option->rect);
        return;

    default:
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
}

void ThemedStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const
{
    // The log box is an edit box; the grid keeps its own frame.
    if (frame_.isValid() && element == CE_ShapedFrame && qobject_cast<const QPlainTextEdit*>(widget)) {
        DrawFrame(option, painter, option->rect);
        return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void ThemedStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                     const QWidget* widget) const
{
    if (!frame_.isValid()) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const auto* group = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control == CC_GroupBox && group) {
        // The classic group box: a frame whose top edge carries the caption.
        const QFontMetrics& fm = option->fontMetrics;
        DrawFrame(option, painter, option->rect.adjusted(0, fm.height() / 2, 0, 0));
        if (!group->text.isEmpty()) {
            const QRect label(8, option->rect.top(), fm.horizontalAdvance(group->text) + 4, fm.height());
            painter->fillRect(label, option->palette.window());
            drawItemText(painter, label, Qt::AlignCenter | Qt::TextShowMnemonic, option->palette,
                         option->state & State_Enabled, group->text, QPalette::WindowText);
        }
        return;
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    if (control == CC_ComboBox) DrawFrame(option, painter, option->rect);
}
