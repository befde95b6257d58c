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
        "       lorvex-cli import  CONNECTION --database D --table T [--delimiter C]\n"
        "                          [--quote C|none] [--header|--no-header] [--encoding E]\n"
        "                          [--null '\\N'|empty|NULL|none] [--line-end lf|crlf|cr]\n"
        "                          [--escapes|--no-escapes] [--keep-loaded]\n"
        "                          [--method auto|local|insert] FILE\n"
        "       lorvex-cli maintain CONNECTION --op check|analyze|optimize|repair|checksum\n"
        "                          [--database] D [TABLE...]\n"
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
        "600; 0 waits forever). Ctrl-C stops the running statement.\n"
        "import loads a delimited text file (CSV, TSV) into table T; what the options do\n"
        "not say of its format is detected from its first 64 KiB. --delimiter takes one\n"
        "character or \"tab\"; --encoding an iconv name (UTF-8, CP949, ISO-8859-1, ...). The\n"
        "columns are matched by the header's names, else by position. Any refused line\n"
        "rolls the import back unless --keep-loaded is given. --method local uses only\n"
        "LOAD DATA LOCAL INFILE, insert only INSERT statements (default: LOCAL INFILE when\n"
        "the server allows it).\n"
        "maintain runs CHECK, ANALYZE, OPTIMIZE, REPAIR or CHECKSUM TABLE on each TABLE of\n"
        "D in turn (without TABLE on every base table of D) and prints the server's rows,\n"
        "one a line: table, operation, message type, message (for checksum the checksum).\n"
        "Repair skips the tables whose engine cannot repair (InnoDB), saying so. The exit\n"
        "code is 1 when any table reports an error.\n");
}

namespace {

// An option of the import's file format: std::nullopt when `option` is none of them, an
// empty text when it was taken, else what is wrong with it.
template <class TakeValue>
std::optional<QString> parseCsvOption(CliOptions::CsvChoices& csv, const QString& option,
                                      const std::optional<QString>& inlineValue,
                                      TakeValue takeValue) {
    using files::LineEnd;
    using files::NullMarker;
    const auto flag = [&](std::optional<bool>& target, bool on) -> QString {
        if (inlineValue) return QStringLiteral("%1 takes no value").arg(option);
        target = on;
        return QString();
    };
    if (option == QLatin1String("--header")) return flag(csv.header, true);
    if (option == QLatin1String("--no-header")) return flag(csv.header, false);
    if (option == QLatin1String("--escapes")) return flag(csv.escapes, true);
    if (option == QLatin1String("--no-escapes")) return flag(csv.escapes, false);
    if (option == QLatin1String("--keep-loaded")) {
        if (inlineValue) return QStringLiteral("--keep-loaded takes no value");
        csv.keepLoaded = true;
        return QString();
    }
    static const QStringList valued{"--delimiter", "--quote", "--encoding", "--null",
                                    "--line-end", "--method"};
    if (!valued.contains(option)) return std::nullopt;
    const std::optional<QString> v = takeValue();
    if (!v) return QStringLiteral("%1 needs a value").arg(option);
    const QString& value = *v;
    if (option == QLatin1String("--delimiter")) {
        if (value == QLatin1String("tab") || value == QLatin1String("\\t"))
            csv.delimiter = '\t';
        else if (value.size() == 1 && value[0].unicode() < 128 && value[0] != u'\n')
            csv.delimiter = char(value[0].unicode());
        else
            return QStringLiteral("--delimiter takes one ASCII character or \"tab\"");
    } else if (option == QLatin1String("--quote")) {
        if (value == QLatin1String("none"))
            csv.quote = 0;
        else if (value.size() == 1 && value[0].unicode() < 128)
            csv.quote = char(value[0].unicode());
        else
            return QStringLiteral("--quote takes one ASCII character or \"none\"");
    } else if (option == QLatin1String("--encoding")) {
        csv.encoding = value.toLatin1();
    } else if (option == QLatin1String("--null")) {
        if (value == QLatin1String("\\N")) csv.null = NullMarker::BackslashN;
        else if (value == QLatin1String("empty")) csv.null = NullMarker::Empty;
        else if (value == QLatin1String("NULL")) csv.null = NullMarker::Word;
        else if (value == QLatin1String("none")) csv.null = NullMarker::None;
        else return QStringLiteral("--null takes \\N, empty, NULL or none");
    } else if (option == QLatin1String("--line-end")) {
        if (value == QLatin1String("lf")) csv.lineEnd = LineEnd::Lf;
        else if (value == QLatin1String("crlf")) csv.lineEnd = LineEnd::CrLf;
        else if (value == QLatin1String("cr")) csv.lineEnd = LineEnd::Cr;
        else return QStringLiteral("--line-end takes lf, crlf or cr");
    } else {
        using Method = CliOptions::CsvChoices::Method;
        if (value == QLatin1String("auto")) csv.method = Method::Auto;
        else if (value == QLatin1String("local")) csv.method = Method::Local;
        else if (value == QLatin1String("insert")) csv.method = Method::Inserts;
        else return QStringLiteral("--method takes auto, local or insert");
    }
    return QString();
}

}  // namespace

CliOptions CliOptions::parse(const QStringList& arguments) {
    auto fail = [](const QString& text) -> CliOptions { throw UsageError(text); };
    CliOptions o;
    if (arguments.isEmpty()) return fail(QStringLiteral("no command given"));
    const QString& command = arguments.first();
    if (command == QLatin1String("dump")) {
        o.command = Command::Dump;
    } else if (command == QLatin1String("restore")) {
        o.command = Command::Restore;
    } else if (command == QLatin1String("import")) {
        o.command = Command::Import;
    } else if (command == QLatin1String("maintain")) {
        o.command = Command::Maintain;
    } else if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
               command == QLatin1String("help")) {
        return o;
    } else {
        return fail(QStringLiteral("unknown command \"%1\"").arg(command));
    }
    const bool dumping = o.command == Command::Dump;
    const bool importing = o.command == Command::Import;
    const bool restoring = o.command == Command::Restore;
    const bool maintaining = o.command == Command::Maintain;

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
        else if ((dumping || importing) && option == QLatin1String("--table"))
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
        if (importing) {
            const std::optional<QString> problem = parseCsvOption(o.csv, option, value, [&] {
                return takeValue();
            });
            if (problem && !problem->isEmpty()) return fail(*problem);
            if (problem) continue;
        }
        if (maintaining && option == QLatin1String("--op")) {
            const std::optional<QString> v = takeValue();
            o.op = v ? admin::opNamed(*v) : std::nullopt;
            if (!o.op)
                return fail(QStringLiteral("--op takes check, analyze, optimize, repair or checksum"));
            continue;
        }
        if (maintaining && !option.startsWith(u'-')) {
            o.tables << option;
            continue;
        }
        if (restoring && option == QLatin1String("--allow-foreign-statements")) {
            if (!flag(o.allowForeign))
                return fail(QStringLiteral("--allow-foreign-statements takes no value"));
            continue;
        }
        if (restoring && option == QLatin1String("--each-database")) {
            if (!flag(o.eachDatabase)) return fail(QStringLiteral("--each-database takes no value"));
            continue;
        }
        if ((dumping || restoring) && option == QLatin1String("--data")) {
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
        if ((restoring || importing) && !option.startsWith(u'-') && o.file.isEmpty()) {
            o.file = option;
            continue;
        }
        // Only the name: the value of a misspelt --password=... is a password.
        return fail(QStringLiteral("unknown option \"%1\" for %2").arg(option, command));
    }

    if (o.host.isEmpty() && o.server.isEmpty())
        return fail(QStringLiteral("give --host (or --server)"));
    // maintain D T1 T2: the first name is the database when --database is not given.
    if (maintaining && o.database.isEmpty() && !o.tables.isEmpty()) o.database = o.tables.takeFirst();
    if (o.database.isEmpty()) return fail(QStringLiteral("give --database"));
    if (maintaining) {
        if (!o.op) return fail(QStringLiteral("give --op check|analyze|optimize|repair|checksum"));
        return o;
    }
    if (dumping && o.out.isEmpty()) return fail(QStringLiteral("give --out FILE"));
    if (importing && o.table.isEmpty()) return fail(QStringLiteral("give --table"));
    if (importing && o.file.isEmpty()) return fail(QStringLiteral("give the FILE to import"));
    if (!dumping && o.file.isEmpty())
        return fail(QStringLiteral("give the schema FILE to restore"));
    return o;
}
