#pragma once

#include "dump/DumpWriter.h"

namespace db {
class Connection;
}

namespace dump {

// The schema file's text of a database or a table (see DumpWriter::schema): the objects it
// holds read from the server in the order they are created again, each in its block.
class SchemaWriter {
public:
    explicit SchemaWriter(db::Connection& connection) : connection_(connection) {}
    // Throws DumpError when the server refuses a statement or an object's text cannot be
    // read (which would leave it out of the backup).
    SchemaText schema(const DumpTarget& target, const SchemaOptions& options);

private:
    db::Connection& connection_;
};

}  // namespace dump
