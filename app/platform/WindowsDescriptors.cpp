#include "../Descriptors.h"

namespace pelmora {

// Sockets are handles on Windows, bounded by memory, with no per-process
// limit to raise or to come close to.
bool RaiseDescriptorLimit() { return true; }

std::optional<DescriptorUse> CurrentDescriptorUse() { return std::nullopt; }

}  // namespace pelmora
