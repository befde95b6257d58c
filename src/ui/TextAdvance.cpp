#include "ui/TextAdvance.h"

namespace ui {

TextAdvance::TextAdvance(const QFont& font) : metrics_(font) { ascii_.fill(-1); }

int TextAdvance::operator()(const QString& text) {
    int width = 0;
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u >= ascii_.size()) {
            width += metrics_.horizontalAdvance(ch);
            continue;
        }
        if (ascii_[u] < 0) ascii_[u] = metrics_.horizontalAdvance(ch);
        width += ascii_[u];
    }
    return width;
}

}  // namespace ui
