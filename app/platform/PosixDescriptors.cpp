#include "../Descriptors.h"

#include <dirent.h>
#include <sys/resource.h>

namespace pelmora {

bool RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    if (limit.rlim_cur == limit.rlim_max) return true;
    limit.rlim_cur = limit.rlim_max;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

std::optional<DescriptorUse> CurrentDescriptorUse() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return std::nullopt;
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr) return std::nullopt;
    long open = -1;  // the folder's own descriptor is listed too
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.') ++open;
    }
    ::closedir(folder);
    DescriptorUse use;
    use.open = open;
    use.limit = limit.rlim_cur == RLIM_INFINITY ? 1L << 30 : static_cast<long>(limit.rlim_cur);
    return use;
}

}  // namespace pelmora
