#pragma once
// The themed look: the platform's own drawing of the standard controls, with
// their frames in one scheme colour, and in the face colour darkened when the
// control is disabled. Cheaper than a style sheet, which would take over the
// drawing of every control. Without a frame colour it draws exactly like its
// base, so it can be in place before the look is switched on.

#include <QColor>
#include <QProxyStyle>

class ThemedStyle : public QProxyStyle {
    Q_OBJECT
public:
    // `base` is taken over; null means the platform's default style. An
    // invalid `frame` leaves every frame to the base.
    ThemedStyle(QStyle* base, QColor frame, QColor disabledFrame);

    // Changes the colours; the controls show them when next drawn. Nothing
    // else about the controls depends on them, so none needs polishing again.
    void SetColours(QColor frame, QColor disabledFrame);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;

private:
    void DrawFrame(const QStyleOption* option, QPainter* painter, const QRect& rect) const;

    QColor frame_;
    QColor disabledFrame_;
};

// The frame colour of themed variant 1, 2 or 3; invalid for any other value.
QColor ThemeFrameColour(int variant);
