#include "LinkApi.h"

#include "Dovrik.h"

namespace pelmora {

LinkApi DovrikLink() {
    LinkApi link;
    link.sendData = [](std::uint32_t id, std::uint16_t length, const std::uint8_t* data) {
        return DSSendData(id, length, data);
    };
    link.connections = [](ConnectionMap& out) {
        out.clear();
        const int count = DSGetModemCount();
        out.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
        for (int position = 0; position < count; ++position) {
            ModemInfo info{};
            if (DSGetModemByPosition(static_cast<std::uint32_t>(position), &info))
                out[info.deviceId] = info.loginTime;
        }
    };
    return link;
}

}  // namespace pelmora
