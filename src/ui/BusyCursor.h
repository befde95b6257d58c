#pragma once

namespace ui {

// Shows the busy cursor for the whole application while it lives and restores the
// previous cursor on every way out, exceptions included. Guards may nest.
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace ui
