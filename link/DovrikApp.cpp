// The eight exported DS functions: thin forwards to the library's one server
// object, which lives from load to unload.
#define DOVRIK_BUILDING
#include "Dovrik.h"
#include "TestServer.h"

#include <utility>

namespace {

// The library's application object; it has no behaviour of its own.
class CDovrikApp final {};

[[maybe_unused]] CDovrikApp theApp;
dovrik::CTestServer theServer;

// No exception crosses the C boundary: a failure the server did not foresee
// becomes the function's failure result.
template <class Call>
auto Shielded(decltype(std::declval<Call>()()) failure, Call&& call) noexcept {
    try {
        return call();
    } catch (...) {
        return failure;
    }
}

template <class Call>
void Shielded(Call&& call) noexcept {
    try {
        call();
    } catch (...) {
    }
}

}  // namespace

extern "C" {

DOVRIK_API int DOVRIK_CALL DSStartService(uint16_t port) {
    return Shielded(0, [&] { return theServer.StartService(port); });
}

DOVRIK_API void DOVRIK_CALL DSStopService(void) {
    Shielded([] { theServer.StopService(); });
}

DOVRIK_API int DOVRIK_CALL DSGetNextData(_PACKET* packet, int /*reserved*/) {
    return Shielded(0, [&] { return theServer.GetNextData(packet); });
}

DOVRIK_API int DOVRIK_CALL DSSendData(uint32_t deviceId, uint16_t length, const uint8_t* data) {
    return Shielded(0, [&] { return theServer.SendData(deviceId, length, data); });
}

DOVRIK_API int DOVRIK_CALL DSGetModemCount(void) {
    return Shielded(0, [] { return theServer.GetModemCount(); });
}

DOVRIK_API int DOVRIK_CALL DSGetModemByPosition(uint32_t position, ModemInfo* info) {
    return Shielded(0, [&] { return theServer.GetModemByPosition(position, info); });
}

DOVRIK_API void DOVRIK_CALL DSCloseConnectionByDeviceID(uint32_t deviceId) {
    Shielded([&] { theServer.CloseConnectionByDeviceId(deviceId); });
}

DOVRIK_API void DOVRIK_CALL DSGetLastError(char* buffer, int size) {
    Shielded([&] { theServer.CopyLastError(buffer, size); });
}

}  // extern "C"
