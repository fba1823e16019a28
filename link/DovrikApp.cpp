// The eight exported DS functions: thin forwards to the library's one server
// object, which lives from load to unload.
#define DOVRIK_BUILDING
#include "Dovrik.h"
#include "TestServer.h"

namespace {

// The library's application object; it has no behaviour of its own.
class CDovrikApp final {};

[[maybe_unused]] CDovrikApp theApp;
dovrik::CTestServer theServer;

}  // namespace

extern "C" {

DOVRIK_API int DOVRIK_CALL DSStartService(uint16_t port) {
    return theServer.StartService(port);
}

DOVRIK_API void DOVRIK_CALL DSStopService(void) {
    theServer.StopService();
}

DOVRIK_API int DOVRIK_CALL DSGetNextData(_PACKET* packet, int /*reserved*/) {
    return theServer.GetNextData(packet);
}

DOVRIK_API int DOVRIK_CALL DSSendData(uint32_t deviceId, uint16_t length, const uint8_t* data) {
    return theServer.SendData(deviceId, length, data);
}

DOVRIK_API int DOVRIK_CALL DSGetModemCount(void) {
    return theServer.GetModemCount();
}

DOVRIK_API int DOVRIK_CALL DSGetModemByPosition(uint32_t position, ModemInfo* info) {
    return theServer.GetModemByPosition(position, info);
}

DOVRIK_API void DOVRIK_CALL DSCloseConnectionByDeviceID(uint32_t deviceId) {
    theServer.CloseConnectionByDeviceId(deviceId);
}

DOVRIK_API void DOVRIK_CALL DSGetLastError(char* buffer, int size) {
    theServer.CopyLastError(buffer, size);
}

}  // extern "C"
