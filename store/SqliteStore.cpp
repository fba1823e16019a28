// The store on SQLite: one file in WAL mode, a writer connection owned by the
// store thread and a reader connection for the callers' snapshots.
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "Sqlite.h"
#include "Store.h"
#include "StoreLock.h"

namespace pelmora::store {

std::string JoinList(const std::vector<std::string>& items) {
    std::string joined;
    for (const std::string& item : items) {
        if (item.empty()) continue;
        if (!joined.empty()) joined += ';';
        joined += item;
    }
    return joined;
}

std::vector<std::string> SplitList(const std::string& joined) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= joined.size()) {
        const std::size_t end = std::min(joined.find(';', start), joined.size());
        const std::size_t first = joined.find_first_not_of(" \t", start);
        if (first < end) {
            const std::size_t last = joined.find_last_not_of(" \t", end - 1);
            items.push_back(joined.substr(first, last - first + 1));
        }
        start = end + 1;
    }
    return items;
}

namespace {

constexpr std::int64_t kSchemaVersion = 5;
// A write that fails (a full disk) is tried again after this long.
constexpr std::chrono::seconds kRetryPause{1};

// Every change of the schema is one step, run once, in order.
const char* const kMigrations[] = {
    // 1: the registry and the record.
    "CREATE TABLE terminal("
    " device_id INTEGER PRIMARY KEY, sim TEXT NOT NULL DEFAULT '', address TEXT NOT NULL"
    " DEFAULT '', first_seen INTEGER NOT NULL DEFAULT 0, last_seen INTEGER NOT NULL DEFAULT 0,"
    " power INTEGER NOT NULL DEFAULT -1, power_changed INTEGER NOT NULL DEFAULT 0,"
    " firmware TEXT NOT NULL DEFAULT '', name TEXT NOT NULL DEFAULT '', region_code TEXT NOT"
    " NULL DEFAULT '', region_name TEXT NOT NULL DEFAULT '', latitude REAL, longitude REAL,"
    " tags TEXT NOT NULL DEFAULT '', note TEXT NOT NULL DEFAULT '');"
    "CREATE TABLE warning("
    " id INTEGER PRIMARY KEY, grp INTEGER NOT NULL, kind INTEGER NOT NULL, content TEXT NOT"
    " NULL, gbk_bytes INTEGER NOT NULL, gbk_hash TEXT NOT NULL, operator TEXT NOT NULL,"
    " queued INTEGER NOT NULL, started INTEGER NOT NULL, ended INTEGER NOT NULL, state TEXT"
    " NOT NULL, drill INTEGER NOT NULL);"
    "CREATE TABLE outcome("
    " warning_id INTEGER NOT NULL, device_id INTEGER NOT NULL, attempt INTEGER NOT NULL,"
    " word TEXT NOT NULL, time INTEGER NOT NULL, detail TEXT NOT NULL,"
    " PRIMARY KEY(warning_id, device_id, attempt)) WITHOUT ROWID;",
    // 2: the terminals' state changes.
    "CREATE TABLE event("
    " time INTEGER NOT NULL, device_id INTEGER NOT NULL, kind TEXT NOT NULL, value TEXT NOT"
    " NULL);"
    "CREATE INDEX event_device_time ON event(device_id, time);"
    "CREATE INDEX event_time ON event(time);",
    // 3: follow-up delivery, and finding records by time.
    "ALTER TABLE warning ADD COLUMN expires INTEGER NOT NULL DEFAULT 0;"
    "CREATE TABLE followup("
    " warning_id INTEGER NOT NULL, device_id INTEGER NOT NULL, expires INTEGER NOT NULL,"
    " state TEXT NOT NULL, attempts INTEGER NOT NULL, PRIMARY KEY(warning_id, device_id)) WITHOUT "
    "ROWID;"
    "CREATE INDEX followup_state ON followup(state);"
    "CREATE INDEX warning_queued ON warning(queued);",
    // 4: the warning workspace's templates and saved target groups.
    "CREATE TABLE warning_template("
    " name TEXT PRIMARY KEY, category TEXT NOT NULL, content TEXT NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE target_group("
    " name TEXT PRIMARY KEY, regions TEXT NOT NULL, tags TEXT NOT NULL, devices TEXT NOT NULL)"
    " WITHOUT ROWID;",
    // 5: alerts from the authority, and the terminals a warning from outside
    // was meant for.
    "CREATE TABLE alert("
    " warning_id INTEGER PRIMARY KEY, sender TEXT NOT NULL, identifier TEXT NOT NULL,"
    " sent TEXT NOT NULL, xml TEXT NOT NULL, source TEXT NOT NULL, note TEXT NOT NULL,"
    " UNIQUE(sender, identifier, sent));"
    "CREATE TABLE warning_target("
    " warning_id INTEGER NOT NULL, device_id INTEGER NOT NULL,"
    " PRIMARY KEY(warning_id, device_id)) WITHOUT ROWID;",
};

Terminal ReadTerminal(const Statement& row) {
    Terminal t;
    t.deviceId = static_cast<std::uint32_t>(row.Int(0));
    t.sim = row.Text(1);
    t.address = row.Text(2);
    t.firstSeen = row.Int(3);
    t.lastSeen = row.Int(4);
    t.power = static_cast<int>(row.Int(5));
    t.powerChanged = row.Int(6);
    t.firmware = row.Text(7);
    t.name = row.Text(8);
    t.regionCode = row.Text(9);
    t.regionName = row.Text(10);
    if (!row.IsNull(11)) t.latitude = row.Real(11);
    if (!row.IsNull(12)) t.longitude = row.Real(12);
    t.tags = row.Text(13);
    t.note = row.Text(14);
    return t;
}

constexpr const char* kTerminalColumns =
    "device_id, sim, address, first_seen, last_seen, power, power_changed, firmware, name,"
    " region_code, region_name, latitude, longitude, tags, note";

constexpr const char* kWarningColumns =
    "id, grp, kind, content, gbk_bytes, gbk_hash, operator, queued, started, ended, state, drill,"
    " expires";

Warning ReadWarning(const Statement& row) {
    Warning w;
    w.id = row.Int(0);
    w.group = row.Int(1) != 0;
    w.kind = static_cast<int>(row.Int(2));
    w.content = row.Text(3);
    w.gbkBytes = row.Int(4);
    w.gbkHash = row.Text(5);
    w.operatorName = row.Text(6);
    w.queued = row.Int(7);
    w.started = row.Int(8);
    w.ended = row.Int(9);
    w.state = row.Text(10);
    w.drill = row.Int(11) != 0;
    w.expires = row.Int(12);
    return w;
}

Outcome ReadOutcome(const Statement& row) {
    Outcome o;
    o.warningId = row.Int(0);
    o.deviceId = static_cast<std::uint32_t>(row.Int(1));
    o.attempt = static_cast<int>(row.Int(2));
    o.word = row.Text(3);
    o.time = row.Int(4);
    o.detail = row.Text(5);
    return o;
}

void Migrate(Database& db) {
    const std::int64_t version = db.UserVersion();
    if (version > kSchemaVersion)
        throw SqliteError("the database was written by a newer version", SQLITE_CANTOPEN);
    for (std::int64_t step = version; step < kSchemaVersion; ++step) {
        Transaction transaction(db);
        db.Exec(kMigrations[step]);
        db.Exec("PRAGMA user_version = " + std::to_string(step + 1));
        transaction.Commit();
    }
}

class SqliteStore final : public Store {
  public:
    // `reader` may be null: reads then share the writer's connection.
    SqliteStore(std::unique_ptr<Database> writer, std::unique_ptr<Database> reader, bool persistent,
                std::string problem, std::unique_ptr<StoreLock> lock)
        : writer_(std::move(writer)),
          reader_(std::move(reader)),
          persistent_(persistent),
          problem_(std::move(problem)),
          lock_(std::move(lock)) {
        Statement last = writer_->Prepare("SELECT coalesce(max(id), 0) FROM warning");
        nextWarningId_ = last.Step() ? last.Int(0) + 1 : 1;
        thread_ = std::thread([this] { WriterLoop(); });
    }

    ~SqliteStore() override {
        {
            std::lock_guard guard(queueLock_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    bool Persistent() const override { return persistent_; }
    std::string Problem() const override {
        std::lock_guard guard(queueLock_);
        return problem_;
    }

    std::vector<Terminal> Terminals() override {
        return Read<std::vector<Terminal>>([](Database& db) {
            std::vector<Terminal> all;
            Statement rows = db.Prepare(std::string("SELECT ") + kTerminalColumns +
                                        " FROM terminal ORDER BY device_id");
            while (rows.Step()) all.push_back(ReadTerminal(rows));
            return all;
        });
    }

    std::optional<Terminal> FindTerminal(std::uint32_t deviceId) override {
        return Read<std::optional<Terminal>>([deviceId](Database& db) -> std::optional<Terminal> {
            Statement row = db.Prepare(std::string("SELECT ") + kTerminalColumns +
                                       " FROM terminal WHERE device_id = ?");
            row.Bind(1, static_cast<std::int64_t>(deviceId));
            if (!row.Step()) return std::nullopt;
            return ReadTerminal(row);
        });
    }

    void SaveTerminals(std::vector<Terminal> terminals) override {
        Queue([terminals = std::move(terminals)](Database& db) {
            Statement insert =
                db.Prepare(std::string("INSERT OR REPLACE INTO terminal(") + kTerminalColumns +
                           ") VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
            for (const Terminal& t : terminals) {
                insert.Bind(1, static_cast<std::int64_t>(t.deviceId))
                    .Bind(2, t.sim)
                    .Bind(3, t.address)
                    .Bind(4, t.firstSeen)
                    .Bind(5, t.lastSeen)
                    .Bind(6, static_cast<std::int64_t>(t.power))
                    .Bind(7, t.powerChanged)
                    .Bind(8, t.firmware)
                    .Bind(9, t.name)
                    .Bind(10, t.regionCode)
                    .Bind(11, t.regionName)
                    .Bind(12, t.latitude)
                    .Bind(13, t.longitude)
                    .Bind(14, t.tags)
                    .Bind(15, t.note);
                insert.Step();
                insert.Reset();
            }
        });
    }

    std::int64_t AddWarning(Warning warning) override {
        warning.id = nextWarningId_++;
        const std::int64_t id = warning.id;
        Queue([warning = std::move(warning)](Database& db) {
            Statement insert = db.Prepare(std::string("INSERT INTO warning(") + kWarningColumns +
                                          ") VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?)");
            insert.Bind(1, warning.id)
                .Bind(2, static_cast<std::int64_t>(warning.group))
                .Bind(3, static_cast<std::int64_t>(warning.kind))
                .Bind(4, warning.content)
                .Bind(5, warning.gbkBytes)
                .Bind(6, warning.gbkHash)
                .Bind(7, warning.operatorName)
                .Bind(8, warning.queued)
                .Bind(9, warning.started)
                .Bind(10, warning.ended)
                .Bind(11, warning.state)
                .Bind(12, static_cast<std::int64_t>(warning.drill))
                .Bind(13, warning.expires);
            insert.Step();
        });
        return id;
    }

    void AddOutcomes(std::vector<Outcome> outcomes) override {
        if (outcomes.empty()) return;
        Queue([outcomes = std::move(outcomes)](Database& db) {
            Statement insert = db.Prepare(
                "INSERT OR REPLACE INTO outcome(warning_id, device_id, attempt, word, time,"
                " detail) VALUES(?,?,?,?,?,?)");
            for (const Outcome& o : outcomes) {
                insert.Bind(1, o.warningId)
                    .Bind(2, static_cast<std::int64_t>(o.deviceId))
                    .Bind(3, static_cast<std::int64_t>(o.attempt))
                    .Bind(4, o.word)
                    .Bind(5, o.time)
                    .Bind(6, o.detail);
                insert.Step();
                insert.Reset();
            }
        });
    }

    void EndWarning(std::int64_t id, std::int64_t ended, std::string state) override {
        Queue([id, ended, state = std::move(state)](Database& db) {
            Statement update = db.Prepare("UPDATE warning SET ended = ?, state = ? WHERE id = ?");
            update.Bind(1, ended).Bind(2, state).Bind(3, id);
            update.Step();
        });
    }

    std::vector<Warning> LatestWarnings(std::size_t count) override {
        WarningQuery query;
        query.count = count;
        return FindWarnings(query);
    }

    std::vector<Warning> FindWarnings(const WarningQuery& query) override {
        return Read<std::vector<Warning>>([&query](Database& db) {
            // Only what the query sets narrows it; each part binds in turn.
            std::string sql = std::string("SELECT ") + kWarningColumns + " FROM warning w WHERE 1";
            if (query.from != 0) sql += " AND queued >= ?";
            if (query.to != 0) sql += " AND queued < ?";
            if (query.kind >= 0) sql += " AND kind = ?";
            if (!query.text.empty()) sql += " AND instr(content, ?) > 0";
            if (!query.state.empty()) sql += " AND state = ?";
            if (!query.regionCode.empty())
                sql +=
                    " AND EXISTS(SELECT 1 FROM outcome o JOIN terminal t ON t.device_id ="
                    " o.device_id WHERE o.warning_id = w.id AND substr(t.region_code, 1, ?) = ?)";
            if (!query.word.empty())
                sql +=
                    " AND EXISTS(SELECT 1 FROM outcome o WHERE o.warning_id = w.id AND o.word = ?"
                    " AND o.attempt = (SELECT max(attempt) FROM outcome p WHERE p.warning_id ="
                    " o.warning_id AND p.device_id = o.device_id))";
            sql += " ORDER BY id DESC LIMIT ?";
            Statement rows = db.Prepare(sql);
            int at = 0;
            if (query.from != 0) rows.Bind(++at, query.from);
            if (query.to != 0) rows.Bind(++at, query.to);
            if (query.kind >= 0) rows.Bind(++at, static_cast<std::int64_t>(query.kind));
            if (!query.text.empty()) rows.Bind(++at, query.text);
            if (!query.state.empty()) rows.Bind(++at, query.state);
            if (!query.regionCode.empty()) {
                rows.Bind(++at, static_cast<std::int64_t>(query.regionCode.size()));
                rows.Bind(++at, query.regionCode);
            }
            if (!query.word.empty()) rows.Bind(++at, query.word);
            rows.Bind(++at, static_cast<std::int64_t>(query.count));
            std::vector<Warning> found;
            while (rows.Step()) found.push_back(ReadWarning(rows));
            return found;
        });
    }

    std::optional<Warning> FindWarning(std::int64_t id) override {
        return Read<std::optional<Warning>>([id](Database& db) -> std::optional<Warning> {
            Statement row =
                db.Prepare(std::string("SELECT ") + kWarningColumns + " FROM warning WHERE id = ?");
            row.Bind(1, id);
            if (!row.Step()) return std::nullopt;
            return ReadWarning(row);
        });
    }

    std::vector<Outcome> OutcomesOf(std::int64_t warningId) override {
        return Read<std::vector<Outcome>>([warningId](Database& db) {
            std::vector<Outcome> all;
            Statement rows = db.Prepare(
                "SELECT warning_id, device_id, attempt, word, time, detail FROM outcome"
                " WHERE warning_id = ? ORDER BY device_id, attempt");
            rows.Bind(1, warningId);
            while (rows.Step()) all.push_back(ReadOutcome(rows));
            return all;
        });
    }

    void UpdateWarning(const Warning& warning) override {
        Queue([w = warning](Database& db) {
            Statement update = db.Prepare(
                "UPDATE warning SET content = ?, gbk_bytes = ?, gbk_hash = ?, operator = ?,"
                " queued = ?, started = ?, ended = ?, state = ?, drill = ?, expires = ?"
                " WHERE id = ?");
            update.Bind(1, w.content)
                .Bind(2, w.gbkBytes)
                .Bind(3, w.gbkHash)
                .Bind(4, w.operatorName)
                .Bind(5, w.queued)
                .Bind(6, w.started)
                .Bind(7, w.ended)
                .Bind(8, w.state)
                .Bind(9, static_cast<std::int64_t>(w.drill))
                .Bind(10, w.expires)
                .Bind(11, w.id);
            update.Step();
        });
    }

    void SetTargets(std::int64_t warningId, std::vector<std::uint32_t> deviceIds) override {
        Queue([warningId, ids = std::move(deviceIds)](Database& db) {
            Statement clear = db.Prepare("DELETE FROM warning_target WHERE warning_id = ?");
            clear.Bind(1, warningId);
            clear.Step();
            Statement insert = db.Prepare(
                "INSERT OR IGNORE INTO warning_target(warning_id, device_id) VALUES(?,?)");
            for (const std::uint32_t id : ids) {
                insert.Bind(1, warningId).Bind(2, static_cast<std::int64_t>(id));
                insert.Step();
                insert.Reset();
            }
        });
    }

    std::vector<std::uint32_t> TargetsOf(std::int64_t warningId) override {
        return Read<std::vector<std::uint32_t>>([warningId](Database& db) {
            std::vector<std::uint32_t> ids;
            Statement rows = db.Prepare(
                "SELECT device_id FROM warning_target WHERE warning_id = ? ORDER BY device_id");
            rows.Bind(1, warningId);
            while (rows.Step()) ids.push_back(static_cast<std::uint32_t>(rows.Int(0)));
            return ids;
        });
    }

    void AddAlert(AlertRecord alert) override {
        Queue([a = std::move(alert)](Database& db) {
            // A key already taken keeps its first record.
            Statement insert = db.Prepare(
                "INSERT OR IGNORE INTO alert(warning_id, sender, identifier, sent, xml, source,"
                " note) VALUES(?,?,?,?,?,?,?)");
            insert.Bind(1, a.warningId)
                .Bind(2, a.sender)
                .Bind(3, a.identifier)
                .Bind(4, a.sent)
                .Bind(5, a.xml)
                .Bind(6, a.source)
                .Bind(7, a.note);
            insert.Step();
        });
    }

    std::optional<AlertRecord> AlertOf(std::int64_t warningId) override {
        return Read<std::optional<AlertRecord>>(
            [warningId](Database& db) -> std::optional<AlertRecord> {
                Statement row = db.Prepare(
                    "SELECT warning_id, sender, identifier, sent, xml, source, note FROM alert"
                    " WHERE warning_id = ?");
                row.Bind(1, warningId);
                if (!row.Step()) return std::nullopt;
                return AlertRecord{row.Int(0),  row.Text(1), row.Text(2), row.Text(3),
                                   row.Text(4), row.Text(5), row.Text(6)};
            });
    }

    std::vector<AlertRecord> AlertKeys() override {
        return Read<std::vector<AlertRecord>>([](Database& db) {
            std::vector<AlertRecord> all;
            Statement rows = db.Prepare(
                "SELECT warning_id, sender, identifier, sent, source, note FROM alert"
                " ORDER BY warning_id");
            while (rows.Step())
                all.push_back({rows.Int(0),
                               rows.Text(1),
                               rows.Text(2),
                               rows.Text(3),
                               {},
                               rows.Text(4),
                               rows.Text(5)});
            return all;
        });
    }

    std::vector<Outcome> LatestOutcomes(const std::vector<int>& kinds,
                                        std::size_t records) override {
        if (kinds.empty() || records == 0) return {};
        return Read<std::vector<Outcome>>([&kinds, records](Database& db) {
            std::string marks;
            for (std::size_t i = 0; i < kinds.size(); ++i) marks += i == 0 ? "?" : ",?";
            Statement rows = db.Prepare(
                "SELECT warning_id, device_id, attempt, word, time, detail FROM ("
                " SELECT o.*, row_number() OVER (PARTITION BY device_id ORDER BY time DESC,"
                " warning_id DESC, attempt DESC) AS latest FROM outcome o WHERE warning_id IN"
                " (SELECT id FROM warning WHERE kind IN (" +
                marks + ") ORDER BY id DESC LIMIT ?)) WHERE latest = 1 ORDER BY device_id");
            int at = 0;
            for (const int kind : kinds) rows.Bind(++at, static_cast<std::int64_t>(kind));
            rows.Bind(++at, static_cast<std::int64_t>(records));
            std::vector<Outcome> latest;
            while (rows.Step()) latest.push_back(ReadOutcome(rows));
            return latest;
        });
    }

    void SaveFollowUps(std::vector<FollowUp> followUps) override {
        if (followUps.empty()) return;
        Queue([followUps = std::move(followUps)](Database& db) {
            Statement insert = db.Prepare(
                "INSERT OR REPLACE INTO followup(warning_id, device_id, expires, state, attempts)"
                " VALUES(?,?,?,?,?)");
            for (const FollowUp& f : followUps) {
                insert.Bind(1, f.warningId)
                    .Bind(2, static_cast<std::int64_t>(f.deviceId))
                    .Bind(3, f.expires)
                    .Bind(4, f.state)
                    .Bind(5, static_cast<std::int64_t>(f.attempts));
                insert.Step();
                insert.Reset();
            }
        });
    }

    std::vector<FollowUp> PendingFollowUps() override {
        return Read<std::vector<FollowUp>>([](Database& db) {
            std::vector<FollowUp> pending;
            Statement rows = db.Prepare(
                "SELECT warning_id, device_id, expires, state, attempts FROM followup"
                " WHERE state = 'pending' ORDER BY warning_id, device_id");
            while (rows.Step())
                pending.push_back({rows.Int(0), static_cast<std::uint32_t>(rows.Int(1)),
                                   rows.Int(2), rows.Text(3), static_cast<int>(rows.Int(4))});
            return pending;
        });
    }

    std::vector<WarningTemplate> Templates() override {
        return Read<std::vector<WarningTemplate>>([](Database& db) {
            std::vector<WarningTemplate> all;
            Statement rows = db.Prepare(
                "SELECT name, category, content FROM warning_template ORDER BY category, name");
            while (rows.Step()) all.push_back({rows.Text(0), rows.Text(1), rows.Text(2)});
            return all;
        });
    }

    void SaveTemplate(WarningTemplate entry) override {
        Queue([entry = std::move(entry)](Database& db) {
            Statement insert = db.Prepare(
                "INSERT OR REPLACE INTO warning_template(name, category, content) VALUES(?,?,?)");
            insert.Bind(1, entry.name).Bind(2, entry.category).Bind(3, entry.content);
            insert.Step();
        });
    }

    void DeleteTemplate(const std::string& name) override {
        Queue([name](Database& db) {
            Statement remove = db.Prepare("DELETE FROM warning_template WHERE name = ?");
            remove.Bind(1, name);
            remove.Step();
        });
    }

    std::vector<TargetGroup> TargetGroups() override {
        return Read<std::vector<TargetGroup>>([](Database& db) {
            std::vector<TargetGroup> all;
            Statement rows =
                db.Prepare("SELECT name, regions, tags, devices FROM target_group ORDER BY name");
            while (rows.Step()) {
                TargetGroup group{
                    rows.Text(0), SplitList(rows.Text(1)), SplitList(rows.Text(2)), {}};
                for (const std::string& id : SplitList(rows.Text(3))) {
                    char* end = nullptr;
                    const unsigned long value = std::strtoul(id.c_str(), &end, 16);
                    if (end != nullptr && *end == '\0' && value <= 0xFFFFFFFFul)
                        group.devices.push_back(static_cast<std::uint32_t>(value));
                }
                all.push_back(std::move(group));
            }
            return all;
        });
    }

    void SaveTargetGroup(TargetGroup group) override {
        std::vector<std::string> devices;
        for (const std::uint32_t id : group.devices) {
            char hex[9];
            std::snprintf(hex, sizeof hex, "%08x", id);
            devices.emplace_back(hex);
        }
        Queue([group = std::move(group), devices = JoinList(devices)](Database& db) {
            Statement insert = db.Prepare(
                "INSERT OR REPLACE INTO target_group(name, regions, tags, devices)"
                " VALUES(?,?,?,?)");
            insert.Bind(1, group.name)
                .Bind(2, JoinList(group.regions))
                .Bind(3, JoinList(group.tags))
                .Bind(4, devices);
            insert.Step();
        });
    }

    void DeleteTargetGroup(const std::string& name) override {
        Queue([name](Database& db) {
            Statement remove = db.Prepare("DELETE FROM target_group WHERE name = ?");
            remove.Bind(1, name);
            remove.Step();
        });
    }

    void AddEvents(std::vector<Event> events) override {
        if (events.empty()) return;
        Queue([events = std::move(events)](Database& db) {
            Statement insert =
                db.Prepare("INSERT INTO event(time, device_id, kind, value) VALUES(?,?,?,?)");
            for (const Event& e : events) {
                insert.Bind(1, e.time)
                    .Bind(2, static_cast<std::int64_t>(e.deviceId))
                    .Bind(3, e.kind)
                    .Bind(4, e.value);
                insert.Step();
                insert.Reset();
            }
        });
    }

    std::vector<Event> EventsOf(std::uint32_t deviceId, std::size_t count) override {
        return Read<std::vector<Event>>([deviceId, count](Database& db) {
            std::vector<Event> latest;
            Statement rows = db.Prepare(
                "SELECT time, device_id, kind, value FROM event WHERE device_id = ?"
                " ORDER BY time DESC, rowid DESC LIMIT ?");
            rows.Bind(1, static_cast<std::int64_t>(deviceId))
                .Bind(2, static_cast<std::int64_t>(count));
            while (rows.Step())
                latest.push_back({rows.Int(0), static_cast<std::uint32_t>(rows.Int(1)),
                                  rows.Text(2), rows.Text(3)});
            return latest;
        });
    }

    bool Flush() override {
        std::unique_lock guard(queueLock_);
        drained_.wait(guard, [this] { return (queue_.empty() && busy_ == 0) || failing_; });
        return queue_.empty() && busy_ == 0;
    }

  private:
    using Write = std::function<void(Database&)>;

    void Queue(Write write) {
        {
            std::lock_guard guard(queueLock_);
            queue_.push_back(std::move(write));
        }
        wake_.notify_one();
    }

    // A read from the reader connection, or from the writer's when there is
    // no other (a database in memory). A read that fails gives nothing.
    template <class Result, class Body>
    Result Read(Body body) {
        std::lock_guard guard(reader_ ? readerLock_ : writerLock_);
        try {
            return body(reader_ ? *reader_ : *writer_);
        } catch (const SqliteError& error) {
            Note(std::string("read: ") + error.what());
            return Result{};
        }
    }

    void Note(std::string problem) {
        std::lock_guard guard(queueLock_);
        problem_ = std::move(problem);
    }

    void WriterLoop() {
        for (;;) {
            std::deque<Write> batch;
            {
                std::unique_lock guard(queueLock_);
                wake_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) return;  // stopping, and everything written
                batch.swap(queue_);
                busy_ = batch.size();
            }
            std::string failure;
            try {
                std::lock_guard guard(writerLock_);
                Transaction transaction(*writer_);
                for (Write& write : batch) write(*writer_);
                transaction.Commit();
            } catch (const SqliteError& error) {
                failure = error.what();
            }
            std::unique_lock guard(queueLock_);
            busy_ = 0;
            if (failure.empty()) {
                if (failing_) problem_.clear();  // the disk has room again
                failing_ = false;
                drained_.notify_all();
                continue;
            }
            // Nothing is lost: the batch goes back in front and is tried
            // again, until the store is closed.
            failing_ = true;
            problem_ = failure;
            drained_.notify_all();
            if (stopping_) return;
            for (auto it = batch.rbegin(); it != batch.rend(); ++it)
                queue_.push_front(std::move(*it));
            wake_.wait_for(guard, kRetryPause, [this] { return stopping_; });
        }
    }

    std::unique_ptr<Database> writer_;
    std::unique_ptr<Database> reader_;
    const bool persistent_;
    std::mutex writerLock_;  // the writer connection, when reads share it
    std::mutex readerLock_;
    std::atomic<std::int64_t> nextWarningId_{1};

    mutable std::mutex queueLock_;
    std::condition_variable wake_;
    std::condition_variable drained_;
    std::deque<Write> queue_;  // guarded by queueLock_
    std::size_t busy_ = 0;     // guarded by queueLock_: writes being committed
    bool failing_ = false;     // guarded by queueLock_
    bool stopping_ = false;    // guarded by queueLock_
    std::string problem_;      // guarded by queueLock_
    std::unique_ptr<StoreLock> lock_;
    std::thread thread_;
};

std::unique_ptr<Database> OpenFile(const std::string& path) {
    auto db = std::make_unique<Database>(path, true);
    sqlite3_busy_timeout(db->Handle(), 2000);
    db->Exec("PRAGMA journal_mode = WAL");
    db->Exec("PRAGMA synchronous = NORMAL");
    Migrate(*db);
    // A job that was running when the program last ended did not finish.
    db->Exec("UPDATE warning SET state = 'unfinished' WHERE state = 'running'");
    // The history of state changes is kept for a bounded time.
    Statement prune = db->Prepare("DELETE FROM event WHERE time < ?");
    prune.Bind(1, static_cast<std::int64_t>(std::time(nullptr)) - kEventDays * 86400);
    prune.Step();
    return db;
}

std::string DamagedName(const std::string& path) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return path + ".damaged-" + stamp;
}

std::unique_ptr<Store> InMemory(std::string problem) {
    auto db = std::make_unique<Database>(":memory:", true);
    Migrate(*db);
    return std::make_unique<SqliteStore>(std::move(db), nullptr, false, std::move(problem),
                                         nullptr);
}

}  // namespace

std::unique_ptr<Store> MemoryStore() {
    return InMemory(std::string());
}

std::unique_ptr<Store> OpenStore(const std::string& path) {
    std::string problem;
    auto lock = StoreLock::Take(path + ".lock", problem);
    if (!lock) return InMemory(problem);
    try {
        std::unique_ptr<Database> writer;
        try {
            writer = OpenFile(path);
        } catch (const SqliteError& error) {
            if (error.Code() != SQLITE_NOTADB && error.Code() != SQLITE_CORRUPT) throw;
            // Kept aside, never deleted: someone may want what is in it.
            const std::string aside = DamagedName(path);
            if (std::rename(path.c_str(), aside.c_str()) != 0) throw;
            std::remove((path + "-wal").c_str());
            std::remove((path + "-shm").c_str());
            problem = "damaged database kept as " + aside + " (" + error.what() + ")";
            writer = OpenFile(path);
        }
        auto reader = std::make_unique<Database>(path, false);
        sqlite3_busy_timeout(reader->Handle(), 2000);
        return std::make_unique<SqliteStore>(std::move(writer), std::move(reader), true,
                                             std::move(problem), std::move(lock));
    } catch (const SqliteError& error) {
        return InMemory(std::string(error.what()));
    }
}

}  // namespace pelmora::store
