#include "Inbox.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "LogText.h"

namespace fs = std::filesystem;

namespace pelmora::gateway {

namespace {

constexpr const char* kPrefix = "网关收件箱: ";
// Beyond this many names taken in done/ or rejected/ a file is left.
constexpr int kMaxSuffix = 10000;

bool EndsWithNoCase(const std::string& name, std::string_view suffix) {
    if (name.size() < suffix.size()) return false;
    return std::equal(suffix.begin(), suffix.end(), name.end() - suffix.size(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

bool Skipped(const std::string& name) {
    return name.empty() || name[0] == '.' || EndsWithNoCase(name, ".part") ||
           EndsWithNoCase(name, ".tmp");
}

bool Taken(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// Why the centre refused a file: its answer's error text, or its status.
std::string ReasonOf(const HttpAnswer& answer) {
    const nlohmann::json parsed = nlohmann::json::parse(answer.json, nullptr, false);
    if (parsed.is_object()) {
        const auto it = parsed.find("error");
        if (it != parsed.end() && it->is_string() && !it->get<std::string>().empty())
            return it->get<std::string>();
    }
    return "status " + std::to_string(answer.status);
}

}  // namespace

Inbox::Inbox(fs::path folder, IGatewayHandler& handler, Log log, std::chrono::milliseconds settle)
    : folder_(std::move(folder)), handler_(handler), log_(std::move(log)), settle_(settle) {}

void Inbox::Write(const std::string& line) {
    if (!log_) return;
    try {
        log_(line);
    } catch (...) {
        // A log that cannot write loses the line, not the file.
    }
}

void Inbox::FolderError(const std::string& error) {
    // Logged once, not on every scan while it lasts.
    if (error != folderError_) Write(kPrefix + error);
    folderError_ = error;
}

int Inbox::Scan() {
    std::error_code ec;
    for (const fs::path& dir : {folder_, folder_ / "done", folder_ / "rejected"}) {
        fs::create_directories(dir, ec);
        if (!ec && !fs::is_directory(dir, ec))
            ec = std::make_error_code(std::errc::not_a_directory);
        if (ec) {
            FolderError("无法使用文件夹 " + LogText(dir.string()) + "：" + ec.message());
            return 0;
        }
    }

    struct File {
        std::string name;
        fs::path path;
    };
    std::vector<File> files;
    fs::directory_iterator it(folder_, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (Skipped(name)) continue;
        std::error_code statError;
        // Links are not followed: a link out of the folder is not read.
        if (!it->is_regular_file(statError) || it->is_symlink(statError)) continue;
        files.push_back({std::move(name), it->path()});
    }
    if (ec) {
        FolderError("无法列出文件夹 " + LogText(folder_.string()) + "：" + ec.message());
        return 0;
    }
    folderError_.clear();
    std::sort(files.begin(), files.end(),
              [](const File& a, const File& b) { return a.name < b.name; });

    // What was stuck and is gone no longer needs remembering.
    for (auto s = stuck_.begin(); s != stuck_.end();) {
        const bool present = std::any_of(files.begin(), files.end(),
                                         [&](const File& f) { return f.name == s->first; });
        s = present ? std::next(s) : stuck_.erase(s);
    }

    int taken = 0;
    const auto now = fs::file_time_type::clock::now();
    for (const File& file : files) {
        std::error_code timeError;
        const fs::file_time_type modified = fs::last_write_time(file.path, timeError);
        if (timeError) continue;  // gone since it was listed
        const auto stuck = stuck_.find(file.name);
        if (stuck != stuck_.end() && stuck->second == modified) continue;
        if (settle_.count() > 0 && now - modified < settle_) continue;
        Take(file.path, file.name, modified);
        ++taken;
    }
    return taken;
}

void Inbox::Take(const fs::path& file, const std::string& name, fs::file_time_type modified) {
    HttpAnswer answer;
    std::string problem;  // for the log, beyond the answer
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (!ec && size > kMaxFileBytes) {
        answer = {413, nlohmann::json{{"error", "file larger than 1 MiB"}}.dump()};
    } else {
        std::string content;
        std::ifstream in(file, std::ios::binary);
        if (in) {
            // Read at most one byte over the bound: the file may still grow.
            content.resize(kMaxFileBytes + 1);
            in.read(content.data(), static_cast<std::streamsize>(content.size()));
            content.resize(static_cast<std::size_t>(in.gcount()));
        }
        if (!in && !in.eof()) {
            answer = {400, nlohmann::json{{"error", "file could not be read"}}.dump()};
        } else if (content.size() > kMaxFileBytes) {
            answer = {413, nlohmann::json{{"error", "file larger than 1 MiB"}}.dump()};
        } else {
            try {
                answer = handler_.PostAlert(content, "inbox:" + name);
            } catch (const std::exception& e) {
                problem = std::string("处理出错：") + e.what();
                answer = {500, nlohmann::json{{"error", "internal error"}}.dump()};
            } catch (...) {
                problem = "处理出错";
                answer = {500, nlohmann::json{{"error", "internal error"}}.dump()};
            }
        }
    }

    const bool done = answer.status >= 200 && answer.status <= 299;
    const std::string reason = done ? std::string() : ReasonOf(answer);
    const char* dirName = done ? "done" : "rejected";
    std::string movedAs;
    const std::string error =
        Move(file, name, folder_ / dirName, done ? nullptr : &reason, movedAs);

    std::string line = kPrefix + LogText(name);
    if (!movedAs.empty()) {
        line += std::string(" → ") + dirName;
        if (movedAs != name) line += "/" + LogText(movedAs);
    } else {
        line += std::string(" 应移到 ") + dirName;
    }
    if (!done) line += "：" + LogText(reason);
    if (!problem.empty()) line += "（" + LogText(problem) + "）";
    if (movedAs.empty()) {
        stuck_[name] = modified;
        line += "；无法移动，留在原处：" + LogText(error);
    } else if (!error.empty()) {
        line += "；" + LogText(error);
    }
    Write(line);
}

std::string Inbox::Move(const fs::path& file, const std::string& name, const fs::path& dir,
                        const std::string* reason, std::string& movedAs) {
    for (int n = 0; n < kMaxSuffix; ++n) {
        const std::string candidate = n == 0 ? name : name + "." + std::to_string(n);
        const fs::path target = dir / candidate;
        const fs::path reasonPath = dir / (candidate + ".reason");
        if (Taken(target) || (reason && Taken(reasonPath))) continue;
        std::error_code ec;
        fs::rename(file, target, ec);
        if (ec) return ec.message();
        movedAs = candidate;
        if (reason) {
            std::ofstream out(reasonPath, std::ios::binary);
            out << *reason << '\n';
            out.close();
            if (!out) return "the reason file could not be written";
        }
        return {};
    }
    return "no free name";
}

}  // namespace pelmora::gateway
