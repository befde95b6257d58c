#pragma once

#include <QLabel>

namespace ui {

// A one-line label that never widens its window: a text longer than the label's width is
// drawn cut with "…", and the whole text is its tooltip. text() stays the whole text.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    // Sets the text and the tooltip.
    void setFullText(const QString& text);

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace ui
