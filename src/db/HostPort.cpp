#include "db/HostPort.h"

namespace db {

namespace {

bool parsePort(const QString& text, unsigned& port) {
    if (text.isEmpty() || text.size() > 5) return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9') return false;
    const unsigned value = text.toUInt();
    if (value < 1 || value > 65535) return false;
    port = value;
    return true;
}

}  // namespace

HostPort parseHostPort(const QString& field) {
    HostPort result;
    if (field.startsWith(u'/') || field.startsWith(QLatin1String("unix:"))) {
        result.socket = field.startsWith(u'/') ? field : field.mid(5);
        result.valid = !result.socket.isEmpty();
        return result;
    }
    if (field.startsWith(u'[')) {
        const qsizetype close = field.indexOf(u']');
        if (close < 0) {
            result.host = field;
            result.valid = false;
            return result;
        }
        result.host = field.mid(1, close - 1);
        const QString rest = field.mid(close + 1);
        if (rest.isEmpty()) return result;
        if (!rest.startsWith(u':') || !parsePort(rest.mid(1), result.port)) result.valid = false;
        return result;
    }
    const qsizetype colon = field.indexOf(u':');
    if (colon < 0 || field.indexOf(u':', colon + 1) >= 0) {
        // No colon, or a bare IPv6 address: the whole field is the host.
        result.host = field;
        return result;
    }
    result.host = field.left(colon);
    if (!parsePort(field.mid(colon + 1), result.port)) result.valid = false;
    return result;
}

}  // namespace db
