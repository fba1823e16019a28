// A small RAII wrapper around SQLite's C API: a connection and its prepared
// statements. Failures throw SqliteError with SQLite's own message and code,
// so that a caller handles them in one place.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace pelmora::store {

class SqliteError : public std::runtime_error {
  public:
    SqliteError(const std::string& what, int code) : std::runtime_error(what), code_(code) {}
    // SQLite's primary result code (SQLITE_FULL, SQLITE_BUSY, ...).
    int Code() const { return code_ & 0xFF; }

  private:
    int code_;
};

class Statement {
  public:
    Statement(sqlite3* db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept;

    // Parameters count from 1.
    Statement& Bind(int index, std::int64_t value);
    Statement& Bind(int index, double value);
    Statement& Bind(int index, std::string_view text);
    Statement& Bind(int index, std::optional<double> value);
    Statement& BindNull(int index);
    // True while a row is there; false once done.
    bool Step();
    // Ready to run again, parameters kept.
    void Reset();

    // Columns count from 0.
    std::int64_t Int(int column) const;
    double Real(int column) const;
    std::string Text(int column) const;
    bool IsNull(int column) const;

  private:
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

class Database {
  public:
    // Opens (and, with `create`, creates) the file; ":memory:" for a
    // database in memory. Throws SqliteError.
    Database(const std::string& path, bool create);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void Exec(std::string_view sql);
    Statement Prepare(std::string_view sql) { return Statement(db_, sql); }
    std::int64_t UserVersion();
    sqlite3* Handle() { return db_; }

  private:
    sqlite3* db_ = nullptr;
};

// Runs its body in one transaction: committed by Commit, rolled back when
// left otherwise.
class Transaction {
  public:
    explicit Transaction(Database& db);
    ~Transaction();
    void Commit();

  private:
    Database& db_;
    bool open_ = true;
};

}  // namespace pelmora::store
