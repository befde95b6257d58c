#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

#include "db/Result.h"

class TMySQLDataSet;

// The query result file: one line per row, the column values joined by TAB and the line
// ended by one CR (no LF), no header. Tab, LF, CR and backslash inside a value are written
// \t \n \r \\ and NULL is \N, as LOAD DATA reads them; every other byte, zero bytes
// included, is written as it is.
class ResultFile {
public:
    // The value of one cell; a NULL value has no data.
    using CellReader = std::function<db::Value(int row, int column)>;

    // Creates the file anew (replacing any file of that name only once every byte is
    // written). On failure throws files::WriteError naming the file and the reason, and
    // leaves an existing file as it was.
    static void write(const QString& path, int rowCount, int columnCount,
                      const CellReader& cell);
    // The rows of an open dataset, as its grid shows them.
    static void write(const QString& path, const TMySQLDataSet& dataSet);

    // Appends the line of one row.
    static void appendLine(QByteArray& out, int row, int columnCount, const CellReader& cell);
};
