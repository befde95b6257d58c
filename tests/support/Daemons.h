#pragma once

#include <QtGlobal>

class QProcess;

// What the throwaway servers of the tests (mariadbd, sshd, dbus-daemon) share.

// A TCP port on 127.0.0.1 that nothing listens on now (0 when none could be had). Another
// process may take it before it is bound: callers retry.
quint16 freeLoopbackPort();

// The process, once started, is killed when the test process ends, even by a crash.
void endWithTest(QProcess& process);
