#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QStringList>
#include <vector>

#include "dataset/CellFormat.h"
#include "dataset/TMySQLConnection.h"
#include "db/Result.h"

// A position in one open result. A bookmark taken before the dataset was closed or
// re-opened is refused by GotoBookmark.
struct TBookmark {
    int row = -1;
    quint64 generation = 0;
};

// The read-only dataset: runs its SQL on a TMySQLConnection, keeps the whole result as the
// client library stored it, and presents it as a table model with a record cursor.
// Cells are converted only when a view asks for them. Nothing is ever written back.
// Call from the user-interface thread only.
class TMySQLDataSet : public QAbstractTableModel {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(QStringList SQL READ SQL WRITE SetSQL)

public:
    // data(): true for a NULL cell (whose DisplayRole text is "NULL").
    static constexpr int IsNullRole = Qt::UserRole + 1;

    explicit TMySQLDataSet(QObject* parent = nullptr);
    ~TMySQLDataSet() override;

    // Lines joined with CR LF and sent as one statement. Changing the SQL of an open
    // dataset does not run it: close and open again.
    const QStringList& SQL() const { return sql_; }
    void SetSQL(const QStringList& lines) { sql_ = lines; }
    // Not owned. Closing the connection leaves an open dataset with the rows it stored.
    TMySQLConnection* Connection() const { return connection_; }
    void SetConnection(TMySQLConnection* connection) { connection_ = connection; }

    // Rows kept of a result, at most (0: every row). The rows past the limit are read from
    // the server and counted (NotRead), not kept, so a statement returning millions of rows
    // takes the memory of the limit. Takes effect at the next open.
    void SetRowLimit(std::uint64_t rows) { rowLimit_ = rows; }
    std::uint64_t RowLimit() const { return rowLimit_; }
    // The rows of the open result past the limit (and whether counting them finished).
    std::uint64_t NotRead() const { return result_.notRead(); }
    bool NotReadKnown() const { return result_.notReadKnown(); }

    bool Active() const { return active_; }
    void SetActive(bool value);
    // Runs the statement and stores its result. A refused statement, one that returns
    // no result set, or a missing connection leaves the dataset closed and Open returns
    // false. Shows nothing: LastError() holds the sentence the caller shows.
    bool Open();
    // Why the last Open() failed, or the error of a later result set of a statement whose
    // first set did open (a CALL that failed after its first SELECT); empty when the last
    // Open() met no error.
    const QString& LastError() const { return lastError_; }
    // Runs the statement whatever it is, and opens on its rows when it answers with any (a
    // query whatever its first word: EXPLAIN, WITH, CHECK TABLE, a comment first). Otherwise
    // the dataset stays closed and the outcome says what the server did. Shows nothing.
    ExecOutcome Run();
    // What Open reports for a statement that answered without rows.
    static const QString& noResultSetText();
    // Opens on a result read elsewhere (one of a script's answers); nothing is sent.
    void OpenOn(db::Result result);

    // What a statement answered. Execute reads it on any thread (a query tab runs its
    // statement on a worker); Take opens the dataset on it, on the user-interface thread.
    struct Answer {
        db::Result result;  // the first result set; none when the statement had no rows
        QString failure;    // the server's error text, empty when the statement ran
        unsigned errorCode = 0;
        bool cancelled = false;
        std::uint64_t affectedRows = 0;
        qint64 ms = 0;
        int droppedSets = 0;
    };
    // Sends the statement and stores its first result set, at most `rowLimit` rows of it
    // (0: every row); later sets are read through and counted, so the connection is ready
    // for its next statement. Shows nothing.
    static Answer Execute(db::Connection& connection, std::string_view statement,
                          std::uint64_t rowLimit);
    // What Run() does once the server answered: the dataset opens on the rows, if any, and
    // the outcome says what the server did.
    ExecOutcome Take(Answer answer);
    // The stored result, in the server's order (what exports stream from).
    const db::Result& result() const { return result_; }
    void Close();

    const std::vector<FieldDef>& FieldDefs() const { return fields_; }
    bool GetCanModify() const;
    int RecordCount() const;

    // Record cursor. Open and First put it on the first row with Bof() true; Next on the
    // last row and Prior on the first row leave it where it is and set Eof() or Bof().
    // An empty or closed dataset has Bof() and Eof() both true and RecNo() 0.
    void First();
    void Next();
    void Prior();
    void Last();
    int RecNo() const;  // 1-based; 0 when there is no current row
    // Moves to row n (1-based); values outside 1..RecordCount() are ignored.
    void SetRecNo(int n);
    bool Bof() const { return bof_; }
    bool Eof() const { return eof_; }
    TBookmark GetBookmark() const;
    bool BookmarkValid(const TBookmark& bookmark) const;
    // False (and the cursor unchanged) for a bookmark of another open or out of range.
    bool GotoBookmark(const TBookmark& bookmark);

    // Rows are in the order shown: the result's order until sort() reorders them.
    // The stored bytes of a cell, for exporters: no conversion, zero bytes kept. A cell
    // outside the result reads as NULL.
    QByteArray rawValue(int row, int column, bool* isNull = nullptr) const;
    // The same without a copy; valid until the dataset closes.
    db::Value cell(int row, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value,
                 int role = Qt::EditRole) override;
    // Orders the stored rows by a column's values (NULL first, numbers as numbers, text
    // without regard to case); a column of -1 puts back the result's order. Nothing is sent
    // to the server.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

Q_SIGNALS:
    void BeforeOpen();
    void AfterOpen();
    void BeforeClose();
    void AfterClose();
    // The current record changed.
    void AfterScroll();

public:
    // How long the last Open() or Run() waited for the server, in milliseconds: the
    // statement's own time, without any message box shown about it.
    qint64 ElapsedMs() const { return elapsedMs_; }
    // The result sets after the first that the last Open() or Run() was answered with (a
    // CALL's further SELECTs); they are read and dropped, and only counted here.
    int DroppedResultSets() const { return droppedSets_; }

private:
    // Execute on the dataset's own connection and SQL.
    Answer ExecuteHere();
    ExecOutcome adoptAnswer(Answer answer);
    void Adopt(db::Result result);
    // The stored row shown at `row`.
    std::size_t storedRow(int row) const;
    void BuildFieldDefs();
    void MoveTo(int row, bool bof, bool eof);

    QString lastError_;
    std::uint64_t rowLimit_ = 0;
    qint64 elapsedMs_ = 0;
    int droppedSets_ = 0;
    TMySQLConnection* connection_ = nullptr;
    QStringList sql_;
    db::Result result_;
    db::StoredRows rows_;
    std::vector<int> order_;  // stored row of each shown row; empty: the result's order
    std::vector<FieldDef> fields_;
    int rowCount_ = 0;
    int current_ = -1;  // the current row; -1 without rows
    bool bof_ = true;
    bool eof_ = true;
    bool active_ = false;
    quint64 generation_ = 0;  // counts opens, so bookmarks of an earlier result are refused
};
