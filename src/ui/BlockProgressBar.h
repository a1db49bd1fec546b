#pragma once
// The window's progress bar: a shallow sunken edge with the progress drawn as
// a row of separate blocks rather than one smooth band, whatever the style.

#include <QProgressBar>

class BlockProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit BlockProgressBar(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
