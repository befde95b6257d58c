// lorvex-cli: the dump, restore, import and table maintenance of the main window's dialogs,
// on the command line.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <numeric>

#include "admin/TableMaintenance.h"
#include "cli/CliOptions.h"
#include "cli/Interrupt.h"
#include "cli/Terminal.h"
#include "db/Connection.h"
#include "dump/CsvImport.h"
#include "dump/DumpFormat.h"
#include "dump/DumpWriter.h"
#include "dump/RestoreEngine.h"
#include "dump/RestoreTally.h"
#include "dump/ScriptScan.h"
#include "files/RestoreInput.h"
#include "registry/ServerAccess.h"
#include "registry/ServerRegistry.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;
// The restore ran through, but the server stored values with warnings (incorrect or
// truncated values): the data may differ from the file.
constexpr int kWarnings = 3;
constexpr int kInterrupted = 130;  // as a shell reports a program ended by Ctrl-C

void say(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

int failure(const QString& text) {
    say(stderr, QStringLiteral("lorvex-cli: %1\n").arg(text));
    return kFailed;
}

QString seconds(const QElapsedTimer& clock) {
    return QString::number(double(clock.nsecsElapsed()) / 1e9, 'f', 2);
}

bool answeredYes(const QString& question) {
    if (!terminal::stdinIsTerminal()) return false;
    say(stderr, question + QStringLiteral(" [y/N] "));
    char line[16] = {};
    return std::fgets(line, sizeof line, stdin) && (line[0] == 'y' || line[0] == 'Y');
}

// Opens what reaching a registered server takes (its password from the keyring, its SSH
// tunnel, kept by `access` for the run); the host and password given on the command line win.
bool openRegistered(CliOptions& o, const RegistryRecord& record, const QString& dir,
                    ServerAccess& access, QString* error) {
    access.setKnownHostsFile(QDir(dir).filePath(QStringLiteral("known_hosts")));
    TServerEntry entry = record.entry;
    if (!o.host.isEmpty()) entry.IP = o.host;
    if (!o.user.isEmpty()) entry.USERID = o.user;
    if (o.password) {
        entry.options.password = PasswordStorage::File;
        entry.PASSWD = *o.password;
    }
    AccessQuestions questions;
    questions.password = [](const QString& prompt) -> std::optional<QString> {
        if (!terminal::stdinIsTerminal()) return std::nullopt;
        return terminal::readPassword(prompt + u' ');
    };
    questions.trustHostKey = [](const QString& text) { return answeredYes(text); };
    try {
        const db::ConnectParams params = access.open(record.name, entry, questions);
        o.host = params.host;
        o.user = params.user;
        o.password = params.password;
        o.tls = params.tls;
    } catch (const std::exception& e) {
        *error = QString::fromUtf8(e.what());
        return false;
    }
    return true;
}

// Fills host, user and password from --server and the environment; false with `error` set
// when the server is not registered or cannot be reached.
bool resolveConnection(CliOptions& o, ServerAccess& access, QString* error) {
    if (!o.password && qEnvironmentVariableIsSet("LORVEX_PASSWORD"))
        o.password = qEnvironmentVariable("LORVEX_PASSWORD");
    if (!o.server.isEmpty()) {
        const QString dir = QCoreApplication::applicationDirPath();
        const QString path = QDir(dir).filePath(QStringLiteral("HostInfor.Dat"));
        std::vector<RegistryRecord> records;
        QString damaged;
        try {
            records = ServerRegistry(path).LoadServerRegistry(&damaged);
        } catch (const RegistryError& e) {
            *error = e.text();
            return false;
        }
        if (!damaged.isEmpty()) {
            *error = damaged;
            return false;
        }
        const auto match =
            std::find_if(records.begin(), records.end(),
                         [&](const RegistryRecord& r) { return r.name == o.server; });
        // Two servers of one name may be two accounts: which one is meant is never guessed.
        QStringList logins;
        for (const RegistryRecord& r : records)
            if (r.name == o.server) logins << QStringLiteral("%1 at %2").arg(r.entry.USERID, r.entry.IP);
        if (logins.size() > 1) {
            *error = QStringLiteral("%1 servers named \"%2\" are registered in %3 (%4): give each "
                                    "a name of its own in the server's properties, or give "
                                    "--host and --user instead of --server")
                         .arg(logins.size())
                         .arg(o.server, QDir::toNativeSeparators(path), logins.join(QStringLiteral(", ")));
            return false;
        }
        if (match == records.end()) {
            *error = QStringLiteral("no server named \"%1\" is registered in %2")
                         .arg(o.server, QDir::toNativeSeparators(path));
            return false;
        }
        return openRegistered(o, *match, dir, access, error);
    }
    if (!o.password && terminal::stdinIsTerminal())
        o.password =
            terminal::readPassword(QStringLiteral("Password for %1@%2: ").arg(o.user, o.host));
    return true;
}

db::ConnectParams paramsOf(const CliOptions& o, bool multiStatements) {
    db::ConnectParams params;
    params.host = o.host;
    params.label = o.server;  // a registered server by its name; else the host
    params.user = o.user;
    params.password = o.password.value_or(QString());
    params.tls = o.tls;
    params.multiStatements = multiStatements;
    params.netTimeout = o.netTimeout;
    return params;
}

// The access of a registered server (its tunnel), for the reason a connection through the
// tunnel failed; null for a host given on the command line.
const ServerAccess* registeredAccess = nullptr;

bool connect(db::Connection& connection, const CliOptions& o, bool multiStatements) {
    const db::ConnectParams params = paramsOf(o, multiStatements);
    try {
        connection.connect(params);
    } catch (const db::DbError& e) {
        const QString server =
            o.server.isEmpty() ? o.host : QStringLiteral("\"%1\"").arg(o.server);
        const QString tunnel = registeredAccess ? registeredAccess->tunnelFailure() : QString();
        failure(QStringLiteral("cannot connect to %1 as %2: %3")
                    .arg(server, o.user, tunnel.isEmpty() ? QString::fromUtf8(e.what()) : tunnel));
        return false;
    }
    return true;
}

// One line that rewrites itself on a terminal; nothing elsewhere.
class ProgressLine {
public:
    ProgressLine() : shown_(terminal::stderrIsTerminal()) {}
    ~ProgressLine() { clear(); }
    void show(const QString& text) {
        if (!shown_) return;
        say(stderr, QStringLiteral("\r\x1b[K") + text.left(160));
        dirty_ = true;
    }
    void clear() {
        if (dirty_) say(stderr, QStringLiteral("\r\x1b[K"));
        dirty_ = false;
    }

private:
    bool shown_;
    bool dirty_ = false;
};

int runDump(const CliOptions& o) {
    QElapsedTimer clock;
    clock.start();
    db::Connection connection;
    if (!connect(connection, o, false)) return kFailed;
    InterruptWatch interrupt(paramsOf(o, false), connection.threadId());
    dump::DumpWriter writer(connection);
    const dump::DumpTarget target{o.database, o.table};
    dump::SchemaOptions schemaOptions;
    schemaOptions.drop = o.drop;
    schemaOptions.routines = o.routines;
    schemaOptions.triggers = o.triggers;
    schemaOptions.events = o.events;
    schemaOptions.definers = o.definers;
    std::optional<dump::SchemaText> schema;
    try {
        schema = writer.schema(target, schemaOptions);
    } catch (const dump::DumpError& e) {
        return failure(e.text());
    }
    dump::convertCase(schema->text, o.letterCase);

    const QString path = dump::withDefaultSuffix(o.out);
    ProgressLine line;
    const dump::DumpResult result = writer.save(
        path, schema->text, o.data ? &target : nullptr, [&line](const dump::DumpProgress& p) {
            line.show(
                QStringLiteral("%1: %2 of about %3 rows").arg(p.table).arg(p.rows).arg(p.expected));
            return !InterruptWatch::interrupted();
        });
    line.clear();
    if (InterruptWatch::interrupted()) {
        failure(QStringLiteral("interrupted; the files were left as they were"));
        return kInterrupted;
    }
    if (!result.ok) return failure(result.error);
    QString files = QDir::toNativeSeparators(path);
    if (o.data) files += QStringLiteral(", ") + QDir::toNativeSeparators(dump::dataFilePath(path));
    say(stdout, QStringLiteral("dump: %1, 0 failures, %2 s (%3)\n")
                    .arg(dump::tablesAndRows(schema->tables, result.rows), seconds(clock), files));
    if (schema->routines + schema->triggers + schema->events > 0)
        say(stdout, QStringLiteral("dump: also %1\n")
                        .arg(dump::routinesTriggersEvents(schema->routines, schema->triggers,
                                                          schema->events)));
    if (!result.outsideSnapshot.empty())
        say(stdout, QStringLiteral("dump: tables without transactions, read outside the consistent "
                                   "snapshot: %1\n")
                        .arg(QStringList(result.outsideSnapshot.begin(), result.outsideSnapshot.end())
                                 .join(QStringLiteral(", "))));
    return 0;
}

int runRestore(const CliOptions& o) {
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QIODevice> scriptFile;
    try {
        scriptFile = files::RestoreInput::open(o.file);
    } catch (const files::ReadError& e) {
        return failure(QStringLiteral("cannot read %1: %2")
                           .arg(QDir::toNativeSeparators(o.file), e.reason()));
    }
    QIODevice& script = *scriptFile;
    const QString dataPath = dump::dataFilePath(o.file);
    std::unique_ptr<QIODevice> dataFile;
    if (o.data) {
        if (QFileInfo(dataPath).absoluteFilePath() == QFileInfo(o.file).absoluteFilePath())
            return failure(QStringLiteral("%1 is its own data file; restore it without --data")
                               .arg(QDir::toNativeSeparators(o.file)));
        try {
            dataFile = files::RestoreInput::open(dataPath);
        } catch (const files::ReadError& e) {
            return failure(QStringLiteral("cannot read the data file %1: %2; nothing was restored")
                               .arg(QDir::toNativeSeparators(dataPath), e.reason()));
        }
    }

    // Read before anything is sent: a file that is no dump, or one that reaches beyond the
    // database, runs nothing. A signal ends the reading of a long file.
    dump::RestoreCheck check;
    {
        InterruptWatch early(paramsOf(o, true), 0);
        check = dump::checkRestore(o.file, o.data ? dataPath : QString(), o.database,
                                   &InterruptWatch::interrupted);
    }
    if (check.stopped) {
        failure(check.problem);
        return kInterrupted;
    }
    if (!check.problem.isEmpty()) return failure(check.problem);
    if (!check.foreign.isEmpty() && !o.allowForeign)
        return failure(QStringLiteral("%1 statements reach beyond the database %2 or act on the "
                                      "server as a whole; nothing was restored:\n%3\nGive "
                                      "--allow-foreign-statements to run them all the same.")
                           .arg(check.foreignCount)
                           .arg(o.database, check.foreign));
    if (!check.ctrlZ.isEmpty())
        say(stderr, QStringLiteral("lorvex-cli: %1 holds a Ctrl-Z, the end-of-file mark of old "
                                   "tools; the restore goes on after it.\n")
                        .arg(check.ctrlZ));

    db::Connection connection;
    if (!connect(connection, o, true)) return kFailed;
    InterruptWatch interrupt(paramsOf(o, true), connection.threadId());
    dump::RestoreEngine engine(connection, o.database);
    try {
        engine.begin();
    } catch (const dump::DumpError& e) {
        return failure(e.text());
    }

    ProgressLine line;
    auto progressFor = [&line](const QString& prefix) {
        return [&line, prefix](const dump::RestoreProgress& p) {
            QString text = prefix + p.status;
            if (p.size > 0) text += QStringLiteral("  (%1%)").arg(p.position * 100 / p.size);
            line.show(text);
            return !InterruptWatch::interrupted();
        };
    };
    std::uint64_t statements = 0, failures = 0;
    bool ok = true, warned = false;
    auto account = [&](const dump::RestoreRun& run, const QString& file) {
        line.clear();
        statements += run.statements;
        failures += run.failures;
        const QString report = dump::failureReport(run, QFileInfo(file).fileName());
        if (!report.isEmpty()) say(stderr, report + u'\n');
        if (!run.fatal.isEmpty()) say(stderr, QStringLiteral("lorvex-cli: %1\n").arg(run.fatal));
        ok = ok && run.okButWarned();
        warned = warned || run.warnedCount > 0;
        return run.fatal.isEmpty();
    };

    dump::RunOptions options;
    // What the check above could not read through is looked at as it runs.
    options.refuseForeign = !o.allowForeign && check.unscanned;
    bool plain = check.plain;
    if (check.unscanned) {
        // A pipe: its head says at once whether it is text at all.
        for (QIODevice* input : {&script, dataFile.get()}) {
            if (!input) continue;
            const dump::TextKind kind = dump::sniffText(input->peek(64 * 1024));
            const QString name = QFileInfo(input == &script ? o.file : dataPath).fileName();
            if (kind != dump::TextKind::Text && !(kind == dump::TextKind::Empty && input != &script))
                return failure(dump::textKindProblem(kind, name));
        }
        const dump::ScriptSniff sniff =
            dump::sniffScript(script.peek(64 * 1024), QFileInfo(o.file).fileName());
        plain = sniff.plain;
        if (!sniff.notSql.isEmpty()) return failure(sniff.notSql);
    }
    options.format = plain ? dump::ScriptFormat::Plain : dump::ScriptFormat::Own;
    // Triggers wait for the rows, so that they do not fire on the dump's own inserts.
    options.deferLate = o.data && !plain;
    options.followUse = o.eachDatabase;
    const QString sqlPrefix = QStringLiteral("SQL Exec.......  ");
    const dump::RestoreRun scriptRun =
        engine.run(script, dump::RunKind::Script, progressFor(sqlPrefix), options);
    bool going = account(scriptRun, o.file) && !scriptRun.stopped;
    if (going && o.data) {
        dump::RunOptions dataOptions = options;
        dataOptions.format = dump::ScriptFormat::Own;
        const dump::RestoreRun dataRun =
            engine.run(*dataFile, dump::RunKind::Data,
                       progressFor(QStringLiteral("Data Insert Exec.......  ")), dataOptions);
        going = account(dataRun, dataPath) && !dataRun.stopped;
    }
    if (going && !scriptRun.late.empty())
        account(engine.runLate(scriptRun.late, progressFor(sqlPrefix), options), o.file);
    try {
        engine.finish();
    } catch (const dump::DumpError& e) {
        ok = false;
        say(stderr, QStringLiteral("lorvex-cli: %1\n").arg(e.text()));
    }
    const dump::DatabasesVerified verified =
        dump::verifyDatabases(connection, o.database, engine.tallies());
    say(stdout, QStringLiteral("restore: %1 statements, %2 failures, %3 rows, %4 s (%5)\n")
                    .arg(statements)
                    .arg(failures)
                    .arg(std::accumulate(engine.tallies().begin(), engine.tallies().end(),
                                         std::uint64_t(0),
                                         [](std::uint64_t n, const auto& t) { return n + t.second.rows(); }))
                    .arg(seconds(clock), plain ? QStringLiteral("plain SQL script")
                                               : QStringLiteral("Lorvex dump")));
    const std::vector<QString> databases =
        o.eachDatabase ? scriptRun.databases : check.databases;
    if (const QString way = dump::databasesDone(databases, o.eachDatabase, o.database); !way.isEmpty())
        say(stdout, QStringLiteral("restore: %1\n").arg(way));
    if (!verified.differs) {
        say(stdout, QStringLiteral("restore: %1\n").arg(verified.text));
    } else {
        ok = false;
        say(stderr, QStringLiteral("lorvex-cli: %1\n").arg(verified.text));
    }
    if (InterruptWatch::interrupted()) return kInterrupted;
    if (!ok) return kFailed;
    return warned ? kWarnings : 0;
}

// The file's format: what the options say, the rest as its first bytes suggest.
files::CsvFormat importFormat(const CliOptions& o, QIODevice& file) {
    files::CsvFormat f = files::detectCsvFormat(file.peek(files::kCsvDetectBytes));
    const CliOptions::CsvChoices& c = o.csv;
    if (c.delimiter) f.delimiter = *c.delimiter;
    if (c.quote) f.quote = *c.quote;
    if (c.header) f.header = *c.header;
    if (c.escapes) f.backslashEscapes = *c.escapes;
    if (c.encoding) f.encoding = *c.encoding;
    if (c.null) f.null = *c.null;
    if (c.lineEnd) f.lineEnd = *c.lineEnd;
    return f;
}

int runImport(const CliOptions& o) {
    QElapsedTimer clock;
    clock.start();
    QFile file(o.file);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("cannot read %1: %2")
                           .arg(QDir::toNativeSeparators(o.file), file.errorString()));
    dump::CsvImportOptions options;
    options.database = o.database;
    options.table = o.table;
    options.path = o.file;
    options.format = importFormat(o, file);
    options.keepLoaded = o.csv.keepLoaded;
    using Method = CliOptions::CsvChoices::Method;
    options.method = o.csv.method == Method::Local     ? dump::CsvImportOptions::Method::LocalInfile
                     : o.csv.method == Method::Inserts ? dump::CsvImportOptions::Method::Inserts
                                                       : dump::CsvImportOptions::Method::Auto;
    file.close();

    db::Connection session;
    if (!connect(session, o, false)) return kFailed;
    // The import runs on a connection of its own; Ctrl-C stops whatever statement runs there.
    InterruptWatch interrupt(paramsOf(o, false), 0);
    ProgressLine line;
    dump::CsvImportResult result;
    try {
        result = dump::CsvImport(session, options).run([&](const dump::CsvProgress& p) {
            const double done = p.total ? double(p.bytes) / double(p.total) : 0;
            const double elapsed = double(clock.elapsed()) / 1000;
            QString text = QStringLiteral("import: %1%").arg(int(done * 100));
            if (done > 0.02)
                text += QStringLiteral(", about %1 s left").arg(int(elapsed / done - elapsed + 0.5));
            line.show(text);
            return !InterruptWatch::interrupted();
        });
    } catch (const dump::CsvImportError& e) {
        line.clear();
        return failure(QString::fromUtf8(e.what()));
    }
    line.clear();
    const QString summary = result.summary();
    say(result.ok() ? stdout : stderr,
        QStringLiteral("import: %1\nimport: %2 s (%3)\n")
            .arg(summary, seconds(clock),
                 result.localInfile ? QStringLiteral("LOAD DATA LOCAL INFILE")
                                    : QStringLiteral("INSERT statements")));
    if (result.cancelled) return kInterrupted;
    if (result.rolledBack) return kFailed;
    return result.ok() ? 0 : kWarnings;
}

int runMaintain(const CliOptions& o) {
    QElapsedTimer clock;
    clock.start();
    db::Connection connection;
    if (!connect(connection, o, false)) return kFailed;
    QStringList tables = o.tables;
    if (tables.isEmpty()) {
        try {
            tables = admin::tablesOf(connection, o.database);
        } catch (const db::DbError& e) {
            return failure(QStringLiteral("cannot list the tables of %1: %2")
                               .arg(o.database, QString::fromUtf8(e.what())));
        }
        if (tables.isEmpty()) return failure(QStringLiteral("%1 has no tables").arg(o.database));
    }
    InterruptWatch interrupt(paramsOf(o, false), connection.threadId());
    ProgressLine line;
    const admin::MaintenanceRun run =
        admin::TableMaintenance(connection, o.database, *o.op)
            .run(tables, [&line](const admin::MaintenanceProgress& p) {
                if (p.index < p.total)
                    line.show(QStringLiteral("%1 of %2: %3").arg(p.index + 1).arg(p.total).arg(p.table));
                return !InterruptWatch::interrupted();
            });
    line.clear();
    for (const admin::MaintenanceRow& row : run.rows())
        say(stdout, QStringList{row.table, row.op, row.msgType, row.msgText}.join(u'\t') + u'\n');
    say(run.anyFailed() || !run.fatal.isEmpty() ? stderr : stdout,
        QStringLiteral("maintain: %1 %2 s\n").arg(run.summary(), seconds(clock)));
    if (run.stopped) return kInterrupted;
    return run.anyFailed() || !run.fatal.isEmpty() ? kFailed : 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A file size limit (ulimit -f) then makes a write fail with EFBIG, which the dump reports
    // as a write failure and leaves the old files, instead of killing the program silently.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    terminal::hidePasswordArguments(argc, argv);
    std::optional<CliOptions> options;
    try {
        options = CliOptions::parse(arguments);
    } catch (const UsageError& e) {
        say(stderr, QStringLiteral("lorvex-cli: %1\n%2").arg(e.text(), CliOptions::usage()));
        return kUsage;
    }
    QString error;
    if (options->command == CliOptions::Command::Help) {
        say(stdout, CliOptions::usage());
        return 0;
    }
    // Before anything the libraries tear down at exit: the SSH tunnel, if one was opened.
    ServerAccess access{QString()};
    if (!resolveConnection(*options, access, &error)) return failure(error);
    registeredAccess = &access;
    switch (options->command) {
        case CliOptions::Command::Dump: return runDump(*options);
        case CliOptions::Command::Import: return runImport(*options);
        case CliOptions::Command::Maintain: return runMaintain(*options);
        default: return runRestore(*options);
    }
}
