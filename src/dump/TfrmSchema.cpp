#include "dump/TfrmSchema.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <climits>

#include "db/Connection.h"
#include "dump/DumpSession.h"
#include "dump/DumpWriter.h"
#include "ui/BusyCursor.h"
#include "ui/Named.h"
#include "ui/ProgressRelay.h"
#include "ui/Prompts.h"
#include "ui/ServerWait.h"

namespace {

// The memo shows CR LF text as lines; the bytes stay in SchemaText().
QString shownText(const QByteArray& bytes) {
    QByteArray lines = bytes;
    lines.replace("\r\n", "\n");
    return QString::fromUtf8(lines);
}

}  // namespace

TfrmSchema::TfrmSchema(db::Connection& connection, ui::Prompts& prompts, QWidget* parent)
    : QDialog(parent), connection_(connection), prompts_(prompts) {
    setObjectName(QStringLiteral("frmSchema"));
    setWindowTitle(QStringLiteral("Scehma / Dump"));
    resize(720, 520);

    MemoSchema = ui::named(new QPlainTextEdit(this), "MemoSchema");
    MemoSchema->setReadOnly(true);
    MemoSchema->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoSchema->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    BitBtn1 = ui::named(new QPushButton(QStringLiteral("Save"), this), "BitBtn1");
    BitBtn2 = ui::named(new QPushButton(QStringLiteral("Close"), this), "BitBtn2");
    BitBtn3 = ui::named(new QPushButton(QStringLiteral("Stop"), this), "BitBtn3");
    BitBtn3->setEnabled(false);
    ui::ServerWait::allowDuringCalls(BitBtn3);
    CheckBox1 = ui::named(new QCheckBox(QStringLiteral("Data Include"), this), "CheckBox1");
    CheckBox2 = ui::named(new QCheckBox(QStringLiteral("Drop Include"), this), "CheckBox2");
    chkRoutines = ui::named(new QCheckBox(QStringLiteral("Routines"), this), "chkRoutines");
    chkTriggers = ui::named(new QCheckBox(QStringLiteral("Triggers"), this), "chkTriggers");
    chkEvents = ui::named(new QCheckBox(QStringLiteral("Events"), this), "chkEvents");
    chkDefiner = ui::named(new QCheckBox(QStringLiteral("Keep DEFINER"), this), "chkDefiner");
    chkDefiner->setToolTip(QStringLiteral("Without it the objects are written without their "
                                          "DEFINER, and belong to the account that restores them."));
    for (QCheckBox* box : {chkRoutines, chkTriggers, chkEvents, chkDefiner}) {
        box->setChecked(true);
        connect(box, &QCheckBox::clicked, this, &TfrmSchema::FormShow);
    }
    RadioButton1 = ui::named(new QRadioButton(QStringLiteral("Default"), this), "RadioButton1");
    RadioButton2 = ui::named(new QRadioButton(QStringLiteral("Lower"), this), "RadioButton2");
    RadioButton3 = ui::named(new QRadioButton(QStringLiteral("Upper"), this), "RadioButton3");
    RadioButton1->setChecked(true);
    ProgressBar1 = ui::named(new QProgressBar(this), "ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    lblStatus = ui::named(new QLabel(this), "lblStatus");

    // The captions never shrink below their text: the dialog grows instead of cutting them.
    for (QAbstractButton* box : std::initializer_list<QAbstractButton*>{
             CheckBox1, CheckBox2, chkRoutines, chkTriggers, chkEvents, chkDefiner, RadioButton1,
             RadioButton2, RadioButton3})
        box->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    auto* options = new QHBoxLayout;
    options->addWidget(CheckBox1);
    options->addWidget(CheckBox2);
    options->addSpacing(16);
    for (QCheckBox* box : {chkRoutines, chkTriggers, chkEvents, chkDefiner}) options->addWidget(box);
    options->addStretch();
    auto* letterCase = new QHBoxLayout;
    letterCase->addWidget(RadioButton1);
    letterCase->addWidget(RadioButton2);
    letterCase->addWidget(RadioButton3);
    letterCase->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lblStatus, 1);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn3);
    buttons->addWidget(BitBtn2);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MemoSchema, 1);
    layout->addLayout(options);
    layout->addLayout(letterCase);
    layout->addWidget(ProgressBar1);
    layout->addLayout(buttons);

    connect(BitBtn1, &QPushButton::clicked, this, &TfrmSchema::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TfrmSchema::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TfrmSchema::BitBtn3Click);
    connect(CheckBox2, &QCheckBox::clicked, this, &TfrmSchema::CheckBox2Click);
    connect(RadioButton1, &QRadioButton::clicked, this, &TfrmSchema::RadioButton1Click);
    connect(RadioButton2, &QRadioButton::clicked, this, &TfrmSchema::RadioButton2Click);
    connect(RadioButton3, &QRadioButton::clicked, this, &TfrmSchema::RadioButton3Click);
}

void TfrmSchema::SetState(int scope, const QString& database, const QString& table,
                          const QString& initialDir) {
    scope_ = scope;
    database_ = database;
    table_ = table;
    initialDir_ = initialDir;
}

void TfrmSchema::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

dump::LetterCase TfrmSchema::letterCase() const {
    if (RadioButton2->isChecked()) return dump::LetterCase::Lower;
    if (RadioButton3->isChecked()) return dump::LetterCase::Upper;
    return dump::LetterCase::Default;
}

void TfrmSchema::FormShow() {
    if (busy_) return;
    ui::BusyCursor busy;
    if (scope_ == ScopeTable || scope_ == ScopeDatabase) {
        dump::DumpWriter writer(connection_);
        const dump::DumpTarget target{database_, scope_ == ScopeTable ? table_ : QString()};
        dump::SchemaOptions options;
        options.drop = drop_;
        options.routines = chkRoutines->isChecked();
        options.triggers = chkTriggers->isChecked();
        options.events = chkEvents->isChecked();
        options.definers = chkDefiner->isChecked();
        try {
            text_ = writer.schema(target, options).text;
        } catch (const dump::DumpError& e) {
            prompts_.message(this, QStringLiteral("Schema FormShow Error\r\n\r\n") + e.text());
            return;
        } catch (const dump::Stopped&) {
            // Cancelled while the definitions were read: the text shown stays as it was.
            lblStatus->setText(QStringLiteral("Stopped"));
            return;
        }
    }
    dump::convertCase(text_, letterCase());
    MemoSchema->setPlainText(shownText(text_));
}

void TfrmSchema::CheckBox2Click() {
    drop_ = CheckBox2->isChecked();
    FormShow();
}

void TfrmSchema::setRunning(bool running) {
    busy_ = running;
    stopRequested_ = false;
    for (QWidget* w : std::initializer_list<QWidget*>{BitBtn1, BitBtn2, CheckBox1, CheckBox2,
                                                      RadioButton1, RadioButton2, RadioButton3,
                                                      chkRoutines, chkTriggers, chkEvents, chkDefiner})
        w->setEnabled(!running);
    BitBtn3->setEnabled(running);
}

void TfrmSchema::setProgress(std::uint64_t rows, std::uint64_t expected) {
    std::uint64_t maximum = std::max(rows, expected);
    if (maximum > std::uint64_t(INT_MAX)) {
        const std::uint64_t scale = maximum / INT_MAX + 1;
        rows /= scale;
        maximum /= scale;
    }
    ProgressBar1->setRange(0, int(std::max<std::uint64_t>(maximum, 1)));
    ProgressBar1->setValue(int(rows));
}

void TfrmSchema::BitBtn1Click() {
    if (busy_) return;
    const QString proposal = proposedPath_.isEmpty() ? initialDir_ : proposedPath_;
    const QString chosen = prompts_.saveFileName(this, QStringLiteral("Save"), proposal,
                                                 QStringLiteral("SQL Files (*.sql)"));
    if (chosen.isEmpty()) {
        scope_ = ScopeNone;
        return;
    }
    const QString path = dump::withDefaultSuffix(chosen);
    const bool withData = CheckBox1->isChecked();
    // The save dialog asked about the schema file; the data file beside it, which may belong
    // to something else (H2.txt and H2.dat), is asked about here.
    const QString dataPath = dump::dataFilePath(path);
    if (withData && QFileInfo::exists(dataPath) &&
        !prompts_.okCancel(this,
                           QStringLiteral("%1 exists already and would be replaced by the data "
                                          "file of this dump. Replace it?")
                               .arg(QDir::toNativeSeparators(dataPath)),
                           QStringLiteral("Save")))
        return;
    const dump::DumpTarget target{database_, table_};

    dump::DumpResult result;
    {
        ui::BusyCursor busy;
        setRunning(withData);
        ProgressBar1->setValue(0);
        dump::DumpWriter writer(connection_);
        const auto show = [this](const dump::DumpProgress& p) {
            lblStatus->setText(p.table);
            setProgress(p.rows, p.expected);
        };
        const dump::DumpTarget* data = withData ? &target : nullptr;
        if (!connection_.waiter()) {
            result = writer.save(path, text_, data, [&](const dump::DumpProgress& p) {
                show(p);
                QCoreApplication::processEvents();
                return !stopRequested_;
            });
        } else {
            // One call of the waiter for the whole dump: the rows stream in off the window's
            // thread, which a slow server would otherwise hold in each read.
            ui::ProgressRelay<dump::DumpProgress> relay(show);
            connection_.runAside(
                "Dumping " + db::utf8(database_),
                [&] {
                    result = writer.save(path, text_, data, [&](const dump::DumpProgress& p) {
                        relay.post(p);
                        // Escape cancels the whole call: between statements too.
                        return !stopRequested_ && !connection_.waiter()->cancelRequested();
                    });
                },
                true);
            relay.deliver();
        }
        setRunning(false);
        ProgressBar1->setRange(0, 100);
        ProgressBar1->setValue(0);
    }
    if (result.ok) {
        // Rows of tables without transactions may have changed while the others were read.
        QStringList outside(result.outsideSnapshot.begin(), result.outsideSnapshot.end());
        lblStatus->setText(outside.isEmpty()
                               ? QStringLiteral("Done")
                               : QStringLiteral("Done - read outside the snapshot (no transactions): ") +
                                     outside.join(QStringLiteral(", ")));
        if (withData) proposedPath_ = dump::dataFilePath(path);
    } else if (result.stopped) {
        lblStatus->setText(QStringLiteral("Stopped"));
    } else if (result.schemaFailed) {
        lblStatus->clear();
        prompts_.message(this, QStringLiteral("Schema Save Error\r\n\r\n") + result.error);
        return;  // the scope stays
    } else {
        lblStatus->clear();
        prompts_.message(this,
                         QStringLiteral("Dumping Error\r\n\r\nRetry!\r\n\r\n") + result.error);
    }
    scope_ = ScopeNone;
}

void TfrmSchema::BitBtn2Click() { reject(); }

void TfrmSchema::BitBtn3Click() {
    stopRequested_ = true;
    connection_.cancelRunning();  // also the statement the server is running now
}

void TfrmSchema::reject() {
    // The close box or Escape during a dump stops it; the dialog closes afterwards.
    if (busy_) {
        BitBtn3Click();
        return;
    }
    scope_ = ScopeNone;
    QDialog::reject();
}
