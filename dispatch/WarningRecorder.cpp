#include "WarningRecorder.h"

#include <openssl/evp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "GbkCodec.h"

namespace pelmora::dispatch {

WarningRecorder::WarningRecorder(store::Store& store, std::string operatorName, Clock clock)
    : store_(store), operator_(std::move(operatorName)), clock_(std::move(clock)) {
    if (!clock_) clock_ = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
}

std::int64_t WarningRecorder::Started(const RecordedJob& job) {
    store::Warning warning;
    warning.group = job.group;
    warning.kind = static_cast<int>(job.kind);
    warning.content = GbkToUtf8Lossy(job.text);
    warning.gbkBytes = static_cast<std::int64_t>(job.text.size());
    warning.gbkHash = Sha256Hex(job.text);
    warning.operatorName = operator_;
    warning.queued = clock_();
    warning.started = warning.queued;
    warning.state = "running";
    return store_.AddWarning(std::move(warning));
}

void WarningRecorder::Outcomes(std::int64_t id, std::vector<RecordedOutcome> outcomes) {
    std::vector<store::Outcome> rows;
    rows.reserve(outcomes.size());
    for (const RecordedOutcome& o : outcomes)
        rows.push_back(
            {id, o.deviceId, 1, OutcomeWord(o.outcome), o.time, GbkToUtf8Lossy(o.detail)});
    store_.AddOutcomes(std::move(rows));
}

void WarningRecorder::Ended(std::int64_t id, bool finished) {
    store_.EndWarning(id, clock_(), finished ? "finished" : "unfinished");
}

std::string DesktopUser() {
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_name)
        return entry->pw_name;
    const char* user = std::getenv("USER");
    return user ? user : "";
}

std::string Sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        return {};
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

std::string OutcomeWord(GroupOutcome outcome) {
    // The engine's own words; a terminal still on its way is "等待" alone.
    if (!IsFinal(outcome)) return "等待";
    return GbkToUtf8Lossy(GroupOutcomeName(outcome));
}

}  // namespace pelmora::dispatch
