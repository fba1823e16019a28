#include "RegistryImport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "RegistryCsv.h"
#include "Store.h"

namespace pelmora {

std::string DataFolder() {
    std::filesystem::path folder;
    if (const char* chosen = std::getenv("PELMORA_DATA_DIR"); chosen && *chosen) {
        folder = chosen;
    } else if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
        folder = std::filesystem::path(data) / "Pelmora";
    } else {
        const char* home = std::getenv("HOME");
        folder = std::filesystem::path(home ? home : ".") / ".local/share/Pelmora";
    }
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder.string();
}

int ImportRegistryFile(const std::string& file, const std::string& folder) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "Pelmora: 无法读取 %s\n", file.c_str());
        return 2;
    }
    std::string text;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (text.size() > store::kMaxCsvBytes) break;  // refused whole by the parser
    }
    const store::CsvImport parsed = store::ParseRegistryCsv(text);
    if (!parsed.problems.empty()) {
        for (const store::CsvProblem& problem : parsed.problems)
            std::fprintf(stderr, "%s:%zu: %s\n", file.c_str(), problem.line,
                         problem.reason.c_str());
        std::fprintf(stderr, "Pelmora: %zu行有误,未导入任何终端\n", parsed.problems.size());
        return 1;
    }
    auto db = store::OpenStore((std::filesystem::path(folder) / "pelmora.db").string());
    if (!db->Persistent()) {
        std::fprintf(stderr, "Pelmora: 数据库无法打开: %s\n", db->Problem().c_str());
        return 3;
    }
    db->SaveTerminals(store::MergeImport(db->Terminals(), parsed));
    if (!db->Flush()) {
        std::fprintf(stderr, "Pelmora: 数据库无法写入: %s\n", db->Problem().c_str());
        return 3;
    }
    std::printf("Pelmora: 已导入%zu台终端\n", parsed.rows.size());
    return 0;
}

}  // namespace pelmora
