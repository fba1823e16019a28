// The process's file descriptors: the limit a centre with thousands of
// terminals needs raised, and how close it is to running out.
#pragma once

#include <optional>

namespace pelmora {

struct DescriptorUse {
    long open = 0;
    long limit = 0;
};

// Raises the soft limit on open descriptors to the hard limit, as long-lived
// network servers do: each terminal holds one. False when it could not.
bool RaiseDescriptorLimit();
// Open descriptors and the soft limit; empty where the platform cannot tell.
std::optional<DescriptorUse> CurrentDescriptorUse();

}  // namespace pelmora
