#include "Sqlite.h"

#include <sqlite3.h>

namespace pelmora::store {

namespace {

[[noreturn]] void Fail(sqlite3* db, int code, std::string_view what) {
    std::string message(what);
    message += ": ";
    message += db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw SqliteError(message, code);
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
    const int code =
        sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr);
    if (code != SQLITE_OK) Fail(db, code, "prepare");
}

Statement::~Statement() {
    sqlite3_finalize(statement_);
}

Statement::Statement(Statement&& other) noexcept : db_(other.db_), statement_(other.statement_) {
    other.statement_ = nullptr;
}

Statement& Statement::Bind(int index, std::int64_t value) {
    if (const int code = sqlite3_bind_int64(statement_, index, value); code != SQLITE_OK)
        Fail(db_, code, "bind");
    return *this;
}

Statement& Statement::Bind(int index, double value) {
    if (const int code = sqlite3_bind_double(statement_, index, value); code != SQLITE_OK)
        Fail(db_, code, "bind");
    return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
    const int code = sqlite3_bind_text(statement_, index, text.data(),
                                       static_cast<int>(text.size()), SQLITE_TRANSIENT);
    if (code != SQLITE_OK) Fail(db_, code, "bind");
    return *this;
}

Statement& Statement::Bind(int index, std::optional<double> value) {
    return value ? Bind(index, *value) : BindNull(index);
}

Statement& Statement::BindNull(int index) {
    if (const int code = sqlite3_bind_null(statement_, index); code != SQLITE_OK)
        Fail(db_, code, "bind");
    return *this;
}

bool Statement::Step() {
    const int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW) return true;
    if (code == SQLITE_DONE) return false;
    Fail(db_, code, "step");
}

void Statement::Reset() {
    sqlite3_reset(statement_);
}

std::int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(statement_, column);
}

double Statement::Real(int column) const {
    return sqlite3_column_double(statement_, column);
}

std::string Statement::Text(int column) const {
    const auto* text = sqlite3_column_text(statement_, column);
    if (text == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

Database::Database(const std::string& path, bool create) {
    const int flags =
        SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    const int code = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (code != SQLITE_OK) {
        const std::string message =
            std::string("open ") + path + ": " + (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code));
        sqlite3_close(db_);
        db_ = nullptr;
        throw SqliteError(message, code);
    }
    sqlite3_extended_result_codes(db_, 1);
}

Database::~Database() {
    sqlite3_close(db_);
}

void Database::Exec(std::string_view sql) {
    char* error = nullptr;
    const std::string text(sql);
    const int code = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &error);
    if (code != SQLITE_OK) {
        const std::string message = std::string("exec: ") + (error ? error : sqlite3_errstr(code));
        sqlite3_free(error);
        throw SqliteError(message, code);
    }
}

std::int64_t Database::UserVersion() {
    Statement statement = Prepare("PRAGMA user_version");
    return statement.Step() ? statement.Int(0) : 0;
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.Exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (!open_) return;
    try {
        db_.Exec("ROLLBACK");
    } catch (const SqliteError&) {
        // Nothing more can be done; the transaction ends with the connection.
    }
}

void Transaction::Commit() {
    db_.Exec("COMMIT");
    open_ = false;
}

}  // namespace pelmora::store
