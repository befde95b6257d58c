#pragma once

#include <QtGlobal>

// A TCP port on 127.0.0.1 that nothing listens on now (0 when none could be had). Another
// process may take it before it is bound: callers retry.
quint16 freeLoopbackPort();
