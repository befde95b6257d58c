#include "dump/TfrmCsvImport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "db/Connection.h"
#include "dump/CsvImport.h"
#include "files/TextCodec.h"
#include "ui/Prompts.h"
#include "ui/ServerWait.h"

namespace {

// Fills a combo box with (text, data) items.
template <class T>
void fill(QComboBox* box, std::initializer_list<std::pair<const char*, T>> items) {
    for (const auto& [text, value] : items) box->addItem(QString::fromUtf8(text), QVariant::fromValue(value));
}

void select(QComboBox* box, const QVariant& value) {
    const int i = box->findData(value);
    if (i >= 0) box->setCurrentIndex(i);
}

}  // namespace

TfrmCsvImport::TfrmCsvImport(db::Connection& connection, ui::Prompts& prompts, QWidget* parent)
    : QDialog(parent), connection_(connection), prompts_(prompts) {
    setObjectName(QStringLiteral("TfrmCsvImport"));
    setWindowTitle(QStringLiteral("Import CSV"));
    resize(760, 640);

    fileLabel_ = new QLabel(this);
    delimiter_ = new QComboBox(this);
    fill<int>(delimiter_, {{", (comma)", ','}, {"; (semicolon)", ';'}, {"Tab", '\t'}, {"| (bar)", '|'}});
    quote_ = new QComboBox(this);
    fill<int>(quote_, {{"\" (double quote)", '"'}, {"' (single quote)", '\''}, {"none", 0}});
    encoding_ = new QComboBox(this);
    for (const files::TextEncoding& e : files::textEncodings())
        encoding_->addItem(QString::fromUtf8(e.label), QByteArray(e.id));
    null_ = new QComboBox(this);
    fill<int>(null_, {{"\\N", int(files::NullMarker::BackslashN)},
                      {"empty field", int(files::NullMarker::Empty)},
                      {"NULL", int(files::NullMarker::Word)},
                      {"none", int(files::NullMarker::None)}});
    lineEnd_ = new QComboBox(this);
    fill<int>(lineEnd_, {{"LF", int(files::LineEnd::Lf)},
                         {"CR LF", int(files::LineEnd::CrLf)},
                         {"CR", int(files::LineEnd::Cr)}});
    header_ = new QCheckBox(QStringLiteral("First line names the columns"), this);
    escapes_ = new QCheckBox(QStringLiteral("Backslash escapes (\\t \\n \\\\)"), this);
    keepLoaded_ = new QCheckBox(QStringLiteral("Keep the rows that load when lines are refused"), this);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("File:"), fileLabel_);
    auto* row1 = new QHBoxLayout;
    row1->addWidget(new QLabel(QStringLiteral("Delimiter:"), this));
    row1->addWidget(delimiter_);
    row1->addWidget(new QLabel(QStringLiteral("Quote:"), this));
    row1->addWidget(quote_);
    row1->addWidget(new QLabel(QStringLiteral("NULL:"), this));
    row1->addWidget(null_);
    row1->addWidget(new QLabel(QStringLiteral("Line end:"), this));
    row1->addWidget(lineEnd_);
    row1->addStretch();
    form->addRow(row1);
    form->addRow(QStringLiteral("Encoding:"), encoding_);
    auto* row2 = new QHBoxLayout;
    row2->addWidget(header_);
    row2->addWidget(escapes_);
    row2->addStretch();
    form->addRow(row2);

    preview_ = new QTableWidget(this);
    preview_->setObjectName(QStringLiteral("preview"));
    preview_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    mapping_ = new QTableWidget(0, 2, this);
    mapping_->setObjectName(QStringLiteral("mapping"));
    mapping_->setHorizontalHeaderLabels({QStringLiteral("File column"), QStringLiteral("Table column")});
    mapping_->horizontalHeader()->setStretchLastSection(true);
    mapping_->setEditTriggers(QAbstractItemView::NoEditTriggers);

    bar_ = new QProgressBar(this);
    bar_->setRange(0, 1000);
    status_ = new QLabel(this);
    outcome_ = new QPlainTextEdit(this);
    outcome_->setReadOnly(true);
    outcome_->setMaximumHeight(120);
    import_ = new QPushButton(QStringLiteral("Import"), this);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setEnabled(false);
    ui::ServerWait::allowDuringCalls(cancel_);
    close_ = new QPushButton(QStringLiteral("Close"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(keepLoaded_);
    buttons->addStretch();
    buttons->addWidget(import_);
    buttons->addWidget(cancel_);
    buttons->addWidget(close_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(new QLabel(QStringLiteral("First rows:"), this));
    layout->addWidget(preview_, 2);
    layout->addWidget(new QLabel(QStringLiteral("Columns:"), this));
    layout->addWidget(mapping_, 1);
    layout->addWidget(bar_);
    layout->addWidget(status_);
    layout->addWidget(outcome_);
    layout->addLayout(buttons);

    timer_ = new QTimer(this);
    timer_->setInterval(200);
    connect(timer_, &QTimer::timeout, this, &TfrmCsvImport::showProgress);
    connect(import_, &QPushButton::clicked, this, &TfrmCsvImport::ImportClick);
    connect(cancel_, &QPushButton::clicked, this, &TfrmCsvImport::CancelClick);
    connect(close_, &QPushButton::clicked, this, &QDialog::reject);
    for (QComboBox* box : {delimiter_, quote_, encoding_, null_, lineEnd_})
        connect(box, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    for (QCheckBox* box : {header_, escapes_})
        connect(box, &QCheckBox::toggled, this, [this] { refresh(); });
}

void TfrmCsvImport::SetTable(const QString& database, const QString& table) {
    database_ = database;
    table_ = table;
    columns_ = dump::tableColumns(connection_, database, table);
    setWindowTitle(QStringLiteral("Import CSV into %1").arg(ui::qualifiedLabel(database, table)));
    refresh();
}

void TfrmCsvImport::LoadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw dump::CsvImportError(QStringLiteral("Cannot read %1: %2.")
                                       .arg(QDir::toNativeSeparators(path), file.errorString())
                                       .toStdString());
    path_ = path;
    fileLabel_->setText(QDir::toNativeSeparators(path));
    setFormat(files::detectCsvFormat(file.read(files::kCsvDetectBytes)));
}

files::CsvFormat TfrmCsvImport::format() const {
    files::CsvFormat f;
    f.delimiter = char(delimiter_->currentData().toInt());
    f.quote = char(quote_->currentData().toInt());
    f.encoding = encoding_->currentData().toByteArray();
    f.null = files::NullMarker(null_->currentData().toInt());
    f.lineEnd = files::LineEnd(lineEnd_->currentData().toInt());
    f.header = header_->isChecked();
    f.backslashEscapes = escapes_->isChecked();
    return f;
}

void TfrmCsvImport::setFormat(const files::CsvFormat& f) {
    loading_ = true;
    select(delimiter_, int(f.delimiter));
    select(quote_, int(f.quote));
    select(encoding_, f.encoding);
    select(null_, int(f.null));
    select(lineEnd_, int(f.lineEnd));
    header_->setChecked(f.header);
    escapes_->setChecked(f.backslashEscapes);
    loading_ = false;
    refresh();
}

std::vector<int> TfrmCsvImport::mapping() const {
    std::vector<int> out;
    for (int r = 0; r < mapping_->rowCount(); ++r) {
        const auto* box = qobject_cast<QComboBox*>(mapping_->cellWidget(r, 1));
        out.push_back(box ? box->currentData().toInt() : -1);
    }
    return out;
}

void TfrmCsvImport::refresh() {
    if (loading_ || path_.isEmpty()) return;
    const files::CsvFormat f = format();
    files::CsvPreview p;
    QFile file(path_);
    if (file.open(QIODevice::ReadOnly)) {
        try {
            p = files::previewCsv(file, f, kPreviewRows);
            status_->clear();
        } catch (const files::CsvError& e) {
            status_->setText(QString::fromUtf8(e.what()));
        }
    }
    preview_->clear();
    preview_->setColumnCount(int(p.columns));
    preview_->setRowCount(int(p.rows.size()));
    QStringList names;
    for (std::size_t c = 0; c < p.columns; ++c)
        names << (c < p.header.size() ? p.header[c] : QStringLiteral("Column %1").arg(c + 1));
    preview_->setHorizontalHeaderLabels(names);
    QStringList lines;
    for (std::size_t r = 0; r < p.rows.size(); ++r) {
        lines << QString::number(p.lines[r]);
        for (std::size_t c = 0; c < p.rows[r].size(); ++c) {
            const QString& v = p.rows[r][c];
            auto* item = new QTableWidgetItem(v.isNull() ? QStringLiteral("NULL") : v);
            if (v.isNull()) item->setForeground(Qt::gray);
            preview_->setItem(int(r), int(c), item);
        }
    }
    preview_->setVerticalHeaderLabels(lines);  // the file's line numbers

    const std::vector<int> m = dump::mapColumns(p.header, p.columns, columns_, f.header);
    mapping_->setRowCount(int(p.columns));
    for (std::size_t c = 0; c < p.columns; ++c) {
        mapping_->setItem(int(c), 0, new QTableWidgetItem(names[qsizetype(c)]));
        auto* box = new QComboBox(mapping_);
        box->addItem(QStringLiteral("(skip)"), -1);
        for (std::size_t t = 0; t < columns_.size(); ++t) box->addItem(columns_[t], int(t));
        select(box, m[c]);
        mapping_->setCellWidget(int(c), 1, box);
    }
}

void TfrmCsvImport::showProgress() {
    const std::uint64_t total = total_.load(), bytes = bytes_.load();
    if (total == 0) return;
    const double done = double(bytes) / double(total);
    bar_->setValue(int(done * 1000));
    const double elapsed = double(clock_.elapsed()) / 1000;
    status_->setText(done > 0.02 ? QStringLiteral("%1 of %2 MiB read, about %3 s left")
                                       .arg(double(bytes) / 1048576, 0, 'f', 1)
                                       .arg(double(total) / 1048576, 0, 'f', 1)
                                       .arg(int(elapsed / done - elapsed + 0.5))
                                 : QStringLiteral("Reading..."));
}

void TfrmCsvImport::ImportClick() {
    dump::CsvImportOptions options;
    options.database = database_;
    options.table = table_;
    options.path = path_;
    options.format = format();
    options.mapping = mapping();
    options.keepLoaded = keepLoaded_->isChecked();
    import_->setEnabled(false);
    close_->setEnabled(false);
    cancel_->setEnabled(true);
    outcome_->clear();
    bytes_ = 0;
    total_ = 0;
    clock_.start();
    timer_->start();
    try {
        const dump::CsvImportResult result =
            dump::CsvImport(connection_, options).run([this](const dump::CsvProgress& p) {
                bytes_ = p.bytes;  // on the import's thread: only the counters
                total_ = p.total;
                return true;
            });
        outcome_->setPlainText(result.summary());
        bar_->setValue(result.ok() ? 1000 : bar_->value());
    } catch (const std::runtime_error& e) {
        outcome_->setPlainText(QString::fromUtf8(e.what()));
    }
    timer_->stop();
    status_->clear();
    cancel_->setEnabled(false);
    import_->setEnabled(true);
    close_->setEnabled(true);
}

void TfrmCsvImport::CancelClick() { connection_.cancelRunning(); }
