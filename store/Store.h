// What the centre remembers beyond one run: the registry of every terminal
// ever seen and what the operator says of it, and the warning record: every
// job that reached a terminal, with each terminal's outcome. Behind this
// interface so that another database could take the place of the local file.
//
// Writes are queued and return at once; one store thread commits them in
// batches, one transaction each, at least once a second while they come.
// Reads return copies. Every member may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelmora::store {

inline constexpr int kPowerUnknown = -1, kPowerMains = 0, kPowerBattery = 1;

struct Terminal {
    std::uint32_t deviceId = 0;
    // What the link saw.
    std::string sim;
    std::string address;         // the last address, "a.b.c.d"
    std::int64_t firstSeen = 0;  // seconds since 1970; 0: never online
    std::int64_t lastSeen = 0;
    int power = kPowerUnknown;
    std::int64_t powerChanged = 0;
    std::string firmware;  // what a version query found
    // What the operator gives it (UTF-8).
    std::string name;
    std::string regionCode;
    std::string regionName;
    std::optional<double> latitude;
    std::optional<double> longitude;
    std::string tags;  // separated by ';'
    std::string note;
    bool operator==(const Terminal&) const = default;
};

// One job that reached terminals.
struct Warning {
    std::int64_t id = 0;  // given by AddWarning
    bool group = false;
    int kind = 0;         // a CommandKind
    std::string content;  // UTF-8, as sent
    std::int64_t gbkBytes = 0;
    std::string gbkHash;  // of the GBK bytes, hexadecimal
    std::string operatorName;
    std::int64_t queued = 0;  // seconds since 1970
    std::int64_t started = 0;
    std::int64_t ended = 0;  // 0 while it runs, or when it never ended
    // "running", "finished", "unfinished"; for a warning from outside (an
    // authority's alert, a warning posted to the gateway) also "review"
    // (waiting for the operator), "refused" (by the operator), "recorded"
    // (kept, not played) and "no_terminals".
    std::string state;
    bool drill = false;
    // Until when terminals that missed it get it when they next register
    // (seconds since 1970); 0: no follow-up.
    std::int64_t expires = 0;
};

// Which records a search returns; empty or zero fields do not narrow it.
struct WarningQuery {
    std::int64_t from = 0;   // queued at or after (seconds since 1970)
    std::int64_t to = 0;     // queued before
    int kind = -1;           // a CommandKind; -1: every kind
    std::string regionCode;  // reached a terminal whose region code starts so
    std::string word;        // some terminal's latest outcome is this word
    std::string text;        // the content holds this text
    std::string state;       // the record's state is this one
    std::size_t count = 100;
};

// A terminal still owed a warning it missed: sent again when it next
// registers, until `expires`.
struct FollowUp {
    std::int64_t warningId = 0;
    std::uint32_t deviceId = 0;
    std::int64_t expires = 0;
    std::string state;  // "pending", "done" (answered with success), "cancelled", "expired"
    int attempts = 1;   // sends so far
    bool operator==(const FollowUp&) const = default;
};

// One terminal's outcome in a warning; attempt 1 is the first send.
struct Outcome {
    std::int64_t warningId = 0;
    std::uint32_t deviceId = 0;
    int attempt = 1;
    std::string word;  // an outcome word (UTF-8)
    std::int64_t time = 0;
    std::string detail;
    bool operator==(const Outcome&) const = default;
};

// A change in a terminal's state: "online" (value: its address), "offline",
// or "power" (value: "主电" or "备电").
struct Event {
    std::int64_t time = 0;
    std::uint32_t deviceId = 0;
    std::string kind;
    std::string value;
    bool operator==(const Event&) const = default;
};

// An approved warning text, chosen in the warning workspace and edited
// before it is sent. Its name is its key.
struct WarningTemplate {
    std::string name;
    std::string category;
    std::string content;  // UTF-8
    bool operator==(const WarningTemplate&) const = default;
};

// A saved set of targets: regions (code prefixes), tags and terminals. Its
// name is its key.
struct TargetGroup {
    std::string name;
    std::vector<std::string> regions;
    std::vector<std::string> tags;
    std::vector<std::uint32_t> devices;
    bool operator==(const TargetGroup&) const = default;
};

// An authority's alert that became a record: the key it is known by (its
// sender, identifier and sent time, as written), the whole document, where
// it came from, and what the centre noted of it (references to alerts it
// never received, why it was not played).
struct AlertRecord {
    std::int64_t warningId = 0;
    std::string sender;
    std::string identifier;
    std::string sent;
    std::string xml;
    std::string source;  // the client's address, or "inbox:<file>"
    std::string note;
    bool operator==(const AlertRecord&) const = default;
};

// A list kept in one column (tags, a target group's regions): its items
// separated by ';', each trimmed; empty items are dropped.
std::string JoinList(const std::vector<std::string>& items);
std::vector<std::string> SplitList(const std::string& joined);

// Events older than this are pruned when the store opens.
inline constexpr std::int64_t kEventDays = 90;

class Store {
  public:
    virtual ~Store() = default;

    // Where the store keeps its data, and what went wrong opening it (empty
    // when nothing did). A store that could not open its file keeps
    // everything in memory.
    virtual bool Persistent() const = 0;
    virtual std::string Problem() const = 0;

    // --- the registry ---
    virtual std::vector<Terminal> Terminals() = 0;
    virtual std::optional<Terminal> FindTerminal(std::uint32_t deviceId) = 0;
    // Inserts or replaces each terminal whole.
    virtual void SaveTerminals(std::vector<Terminal> terminals) = 0;

    // --- the record ---
    // Gives the warning its id (at once) and queues its row.
    virtual std::int64_t AddWarning(Warning warning) = 0;
    virtual void AddOutcomes(std::vector<Outcome> outcomes) = 0;
    virtual void EndWarning(std::int64_t id, std::int64_t ended, std::string state) = 0;
    // Newest first.
    virtual std::vector<Warning> LatestWarnings(std::size_t count) = 0;
    virtual std::vector<Warning> FindWarnings(const WarningQuery& query) = 0;
    virtual std::optional<Warning> FindWarning(std::int64_t id) = 0;
    virtual std::vector<Outcome> OutcomesOf(std::int64_t warningId) = 0;
    // Replaces the record's content, state and drill mark (a warning edited
    // in review, then sent or refused).
    virtual void UpdateWarning(const Warning& warning) = 0;
    // The terminals a warning from outside was meant for, matched before it
    // was sent (those that never answered are still listed).
    virtual void SetTargets(std::int64_t warningId, std::vector<std::uint32_t> deviceIds) = 0;
    virtual std::vector<std::uint32_t> TargetsOf(std::int64_t warningId) = 0;
    // The alerts behind records, one per record; its key (sender, identifier,
    // sent) is unique.
    virtual void AddAlert(AlertRecord alert) = 0;
    virtual std::optional<AlertRecord> AlertOf(std::int64_t warningId) = 0;
    // Every alert's key and record, without the documents (the gateway's
    // index at start).
    virtual std::vector<AlertRecord> AlertKeys() = 0;
    // Each terminal's latest outcome (by time, then record, then attempt)
    // in the latest `records` records of these kinds, by device ID.
    virtual std::vector<Outcome> LatestOutcomes(const std::vector<int>& kinds,
                                                std::size_t records) = 0;

    // --- follow-ups ---
    // Inserts or replaces each one (by warning and terminal).
    virtual void SaveFollowUps(std::vector<FollowUp> followUps) = 0;
    // Those still "pending", oldest warning first.
    virtual std::vector<FollowUp> PendingFollowUps() = 0;

    // --- events ---
    virtual void AddEvents(std::vector<Event> events) = 0;
    // The terminal's latest events, newest first.
    virtual std::vector<Event> EventsOf(std::uint32_t deviceId, std::size_t count) = 0;

    // --- templates and target groups, by name ---
    virtual std::vector<WarningTemplate> Templates() = 0;
    // Inserts or replaces the one of that name.
    virtual void SaveTemplate(WarningTemplate entry) = 0;
    virtual void DeleteTemplate(const std::string& name) = 0;
    virtual std::vector<TargetGroup> TargetGroups() = 0;
    virtual void SaveTargetGroup(TargetGroup group) = 0;
    virtual void DeleteTargetGroup(const std::string& name) = 0;

    // Waits until every queued write is committed (or failed); true when
    // nothing is left waiting.
    virtual bool Flush() = 0;
};

// The store in `path` (created when missing), or, when it cannot be opened,
// one in memory whose Problem() says why. A damaged file is renamed aside
// (".damaged-<time>") and a new one made; another program holding the file
// leaves this one in memory.
std::unique_ptr<Store> OpenStore(const std::string& path);
// A store in memory only (tests, and a centre without a data folder).
std::unique_ptr<Store> MemoryStore();

}  // namespace pelmora::store
