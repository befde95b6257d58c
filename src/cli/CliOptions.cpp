#include "cli/CliOptions.h"

#include <QStringList>

QString CliOptions::usage() {
    return QStringLiteral(
        "usage: lorvex-cli dump    CONNECTION --database D [--table T] [--drop] [--data]\n"
        "                          [--case default|lower|upper] [--skip-routines]\n"
        "                          [--skip-triggers] [--skip-events] [--skip-definer]\n"
        "                          --out FILE\n"
        "       lorvex-cli restore CONNECTION --database D [--data]\n"
        "                          [--allow-foreign-statements] [--each-database] FILE\n"
        "CONNECTION: --host H[:PORT] --user U [--password P], or --server NAME (a server\n"
        "registered in HostInfor.Dat beside this program), whose values the options above\n"
        "override. Without --password the password comes from LORVEX_PASSWORD, then from\n"
        "the registered server, then from a prompt when standard input is a terminal.\n"
        "dump writes FILE (the schema) and with --data the data file whose name ends in\n"
        "\"dat\" instead of FILE's last three characters; restore runs FILE and with --data\n"
        "that data file. A dump holds the routines, triggers and events too (--skip-...\n"
        "leaves them out; --skip-definer writes them without DEFINER, so that the\n"
        "restoring account owns them). restore also reads plain SQL scripts, as\n"
        "mariadb-dump and mysqldump write them, and checks the result. A restore refuses files with statements that reach beyond the\n"
        "database (another database, accounts, server settings, files) unless\n"
        "--allow-foreign-statements is given. A file of several databases (USE\n"
        "statements) goes all into D, or with --each-database (and\n"
        "--allow-foreign-statements) each database into its own, as the file says.\n"
        "--timeout SECONDS: how long a read or write may wait for the server (default\n"
        "600; 0 waits forever). Ctrl-C stops the running statement.\n");
}

CliOptions CliOptions::parse(const QStringList& arguments) {
    auto fail = [](const QString& text) -> CliOptions { throw UsageError(text); };
    CliOptions o;
    if (arguments.isEmpty()) return fail(QStringLiteral("no command given"));
    const QString& command = arguments.first();
    if (command == QLatin1String("dump")) {
        o.command = Command::Dump;
    } else if (command == QLatin1String("restore")) {
        o.command = Command::Restore;
    } else if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
               command == QLatin1String("help")) {
        return o;
    } else {
        return fail(QStringLiteral("unknown command \"%1\"").arg(command));
    }
    const bool dumping = o.command == Command::Dump;

    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString option = arguments[i];
        std::optional<QString> value;
        if (option.startsWith(QLatin1String("--")) && option.contains(u'=')) {
            value = option.mid(option.indexOf(u'=') + 1);
            option = option.left(option.indexOf(u'='));
        }
        auto takeValue = [&]() -> std::optional<QString> {
            if (value) return value;
            if (i + 1 >= arguments.size()) return std::nullopt;
            return arguments[++i];
        };
        auto flag = [&](bool& target) {
            if (value) return false;
            target = true;
            return true;
        };
        QString* text = nullptr;
        if (option == QLatin1String("--host"))
            text = &o.host;
        else if (option == QLatin1String("--user"))
            text = &o.user;
        else if (option == QLatin1String("--server"))
            text = &o.server;
        else if (option == QLatin1String("--database"))
            text = &o.database;
        else if (dumping && option == QLatin1String("--table"))
            text = &o.table;
        else if (dumping && option == QLatin1String("--out"))
            text = &o.out;
        if (text) {
            const std::optional<QString> v = takeValue();
            if (!v) return fail(QStringLiteral("%1 needs a value").arg(option));
            *text = *v;
            continue;
        }
        if (option == QLatin1String("--password")) {
            o.password = takeValue();
            if (!o.password) return fail(QStringLiteral("--password needs a value"));
            continue;
        }
        if (dumping && option == QLatin1String("--case")) {
            const std::optional<QString> v = takeValue();
            if (v == QLatin1String("default"))
                o.letterCase = dump::LetterCase::Default;
            else if (v == QLatin1String("lower"))
                o.letterCase = dump::LetterCase::Lower;
            else if (v == QLatin1String("upper"))
                o.letterCase = dump::LetterCase::Upper;
            else
                return fail(QStringLiteral("--case takes default, lower or upper"));
            continue;
        }
        if (option == QLatin1String("--timeout")) {
            bool number = false;
            const std::optional<QString> v = takeValue();
            const uint seconds = v ? v->toUInt(&number) : 0;
            if (!number) return fail(QStringLiteral("--timeout takes a number of seconds"));
            o.netTimeout = seconds;
            continue;
        }
        if (!dumping && option == QLatin1String("--allow-foreign-statements")) {
            if (!flag(o.allowForeign))
                return fail(QStringLiteral("--allow-foreign-statements takes no value"));
            continue;
        }
        if (!dumping && option == QLatin1String("--each-database")) {
            if (!flag(o.eachDatabase)) return fail(QStringLiteral("--each-database takes no value"));
            continue;
        }
        if (option == QLatin1String("--data")) {
            if (!flag(o.data)) return fail(QStringLiteral("--data takes no value"));
            continue;
        }
        bool* skipped = nullptr;
        if (dumping && option == QLatin1String("--skip-routines")) skipped = &o.routines;
        if (dumping && option == QLatin1String("--skip-triggers")) skipped = &o.triggers;
        if (dumping && option == QLatin1String("--skip-events")) skipped = &o.events;
        if (dumping && option == QLatin1String("--skip-definer")) skipped = &o.definers;
        if (skipped) {
            if (value) return fail(QStringLiteral("%1 takes no value").arg(option));
            *skipped = false;
            continue;
        }
        if (dumping && option == QLatin1String("--drop")) {
            if (!flag(o.drop)) return fail(QStringLiteral("--drop takes no value"));
            continue;
        }
        if (!dumping && !option.startsWith(u'-') && o.file.isEmpty()) {
            o.file = option;
            continue;
        }
        // Only the name: the value of a misspelt --password=... is a password.
        return fail(QStringLiteral("unknown option \"%1\" for %2").arg(option, command));
    }

    if (o.host.isEmpty() && o.server.isEmpty())
        return fail(QStringLiteral("give --host (or --server)"));
    if (o.database.isEmpty()) return fail(QStringLiteral("give --database"));
    if (dumping && o.out.isEmpty()) return fail(QStringLiteral("give --out FILE"));
    if (!dumping && o.file.isEmpty())
        return fail(QStringLiteral("give the schema FILE to restore"));
    return o;
}
