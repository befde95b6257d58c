#include "sqleditor/ResultFile.h"

#include <QSaveFile>

#include "dataset/TMySQLDataSet.h"
#include "files/OutputFile.h"
#include "panels/ResultExport.h"

namespace {

QString failure(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot write the result file \"%1\": %2").arg(path, reason);
}

// Unbuffered: a buffered QSaveFile can lose a failed write of its buffer and still commit.
// Each write is checked for its full count.
bool writeAll(QSaveFile& file, const QByteArray& bytes) {
    return bytes.isEmpty() || file.write(bytes) == bytes.size();
}

}  // namespace

void ResultFile::appendLine(QByteArray& out, int row, int columnCount, const CellReader& cell) {
    for (int column = 0; column < columnCount; ++column) {
        if (column > 0) out += '\t';
        const db::Value value = cell(row, column);
        // Escaped as LOAD DATA reads them back, so a value cannot add fields or lines and
        // NULL differs from an empty value; zero bytes stay as they are.
        if (value.isNull())
            out += "\\N";
        else
            appendTsvEscaped(out, value.view(), false);
    }
    out += '\r';
}

void ResultFile::write(const QString& path, int rowCount, int columnCount,
                       const CellReader& cell) {
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    // Rows are gathered into chunks so that the unbuffered file sees few, large writes.
    constexpr qsizetype chunkSize = 256 * 1024;
    QByteArray chunk;
    chunk.reserve(chunkSize + 4096);
    for (int row = 0; ok && row < rowCount; ++row) {
        appendLine(chunk, row, columnCount, cell);
        if (chunk.size() >= chunkSize) {
            ok = writeAll(file, chunk);
            chunk.resize(0);  // keeps the capacity
        }
    }
    if (ok) ok = writeAll(file, chunk);
    if (ok) ok = file.commit();
    // An uncommitted QSaveFile discards its temporary file and leaves the old one.
    if (!ok) throw files::WriteError(failure(path, file.errorString()));
}

void ResultFile::write(const QString& path, const TMySQLDataSet& dataSet) {
    write(path, dataSet.rowCount(), dataSet.columnCount(),
          [&dataSet](int row, int column) { return dataSet.cell(row, column); });
}
