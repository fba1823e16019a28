#include "LinkApi.h"

#include "Dovrik.h"

namespace pelmora {

LinkApi DovrikLink() {
    LinkApi link;
    link.sendData = [](std::uint32_t id, std::uint16_t length, const std::uint8_t* data) {
        return DSSendData(id, length, data);
    };
    return link;
}

}  // namespace pelmora
