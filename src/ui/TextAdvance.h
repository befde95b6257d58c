#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QString>
#include <array>

namespace ui {

// The width of a text in one font as the sum of its characters' advances, without laying it
// out: laying out thousands of names through the style, as an item view's resize to
// contents does, costs more than the listing that made them. Kerning and ligatures make the
// real width differ by a little, so rank texts by this estimate and measure the widest few.
class TextAdvance {
public:
    explicit TextAdvance(const QFont& font);
    int operator()(const QString& text);

private:
    QFontMetrics metrics_;
    std::array<int, 128> ascii_;  // -1: not looked up yet
};

}  // namespace ui
