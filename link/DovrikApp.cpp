// The eight exported DS functions: thin forwards to the library's one server
// object.
#define DOVRIK_BUILDING
#include "Dovrik.h"
#include "TestServer.h"

#include <utility>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

// The library's application object; it has no behaviour of its own.
class CDovrikApp final {};

[[maybe_unused]] CDovrikApp theApp;

#if defined(_WIN32)
// A Windows process that ends (main returns, or ExitProcess) first kills all
// its other threads, the service's among them, and only then detaches the
// DLLs. A server destroyed at that point waits for its listener's share of a
// wake-up that never comes, and the process never ends. So the server lives
// on the heap: an unload by FreeLibrary destroys it (DllMain), while at the
// end of the process it is left alone and the system takes back its sockets,
// handles and memory.
dovrik::CTestServer& theServer = *new dovrik::CTestServer;

// The service's threads cannot end while FreeLibrary holds the loader lock,
// so an unload cannot stop a running service. While it runs the library
// holds a reference to itself instead: a FreeLibrary before DSStopService
// leaves it loaded and serving, and the unload that destroys the server
// finds it stopped. Used by DSStartService and DSStopService only.
HMODULE heldLibrary = nullptr;

void HoldLibrary() {
    HMODULE self = nullptr;
    if (heldLibrary == nullptr &&
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&heldLibrary), &self)) {
        heldLibrary = self;
    }
}

// The caller holds a reference of its own while it calls in, so this one is
// never the last.
void ReleaseLibrary() {
    if (heldLibrary != nullptr) FreeLibrary(std::exchange(heldLibrary, nullptr));
}
#else
// Elsewhere the service's threads still run when the process ends or the
// library is unloaded: the server's destructor stops them and closes every
// connection, and nothing needs to hold the library.
dovrik::CTestServer theServer;

void HoldLibrary() {}
void ReleaseLibrary() {}
#endif

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

#if defined(_WIN32)
// `reserved` is null when FreeLibrary unloads the library and not null when
// the process ends.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) delete &theServer;
    return TRUE;
}
#endif

extern "C" {

DOVRIK_API int DOVRIK_CALL DSStartService(uint16_t port) {
    return Shielded(0, [&] {
        const int started = theServer.StartService(port);
        if (started != 0) HoldLibrary();
        return started;
    });
}

DOVRIK_API void DOVRIK_CALL DSStopService(void) {
    Shielded([] {
        theServer.StopService();
        ReleaseLibrary();
    });
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
