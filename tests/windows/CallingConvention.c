/* Compiles only where every DS function has the calling convention of the
 * Windows system interfaces (__stdcall on 32-bit Windows): a function of
 * another convention does not convert to these pointer types. Never called. */
#include "Dovrik.h"

#define DOVRIK_CHECK(name, result, ...)                         \
    {                                                           \
        result(__stdcall * check)(__VA_ARGS__) = name;          \
        (void)check;                                            \
    }

void DovrikCheckCallingConvention(void);

void DovrikCheckCallingConvention(void) {
    DOVRIK_CHECK(DSStartService, int, uint16_t)
    DOVRIK_CHECK(DSStopService, void, void)
    DOVRIK_CHECK(DSGetNextData, int, _PACKET*, int)
    DOVRIK_CHECK(DSSendData, int, uint32_t, uint16_t, const uint8_t*)
    DOVRIK_CHECK(DSGetModemCount, int, void)
    DOVRIK_CHECK(DSGetModemByPosition, int, uint32_t, ModemInfo*)
    DOVRIK_CHECK(DSCloseConnectionByDeviceID, void, uint32_t)
    DOVRIK_CHECK(DSGetLastError, void, char*, int)
}
