/*
 * Dovrik: the terminal link service of the early-warning centre.
 *
 * Field terminals keep one TCP connection open to the centre. This library
 * accepts them, registers each under the device ID it announces, keeps the
 * table of registered terminals and a queue of the messages they send, and
 * sends bytes to them. Everything is offered through the eight DS functions.
 *
 * Conventions, stated once:
 *  - Results: 1 means success, 0 means failure. After a failure of
 *    DSStartService or DSSendData, DSGetLastError gives the reason.
 *  - Buffers: every buffer is the caller's. The library copies records into
 *    them and never hands out memory, so nothing is ever freed by the caller.
 *  - Threads: functions 3 to 8 may be called from any thread, at any time,
 *    also while the service is stopped. DSStartService and DSStopService must
 *    be called from one thread only.
 *  - Text: the error texts are GBK byte strings.
 *  - Times are seconds since 1970-01-01 UTC, low 32 bits.
 */
#ifndef DOVRIK_H
#define DOVRIK_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define DOVRIK_CALL __stdcall
#if defined(DOVRIK_BUILDING)
#define DOVRIK_API __declspec(dllexport)
#else
#define DOVRIK_API __declspec(dllimport)
#endif
#else
#define DOVRIK_CALL
#define DOVRIK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* One registered terminal, as DSGetModemByPosition reports it. */
typedef struct ModemInfo {
    uint32_t deviceId;       /* little-endian on the wire, shown as "%08x" */
    char simNumber[12];      /* 11 ASCII characters and a NUL */
    uint8_t ipAddress[4];    /* as the terminal reported it, byte 0 shown first */
    uint32_t loginTime;      /* time of registration */
    uint32_t lastUpdateTime; /* time of the latest receive, data or heartbeat */
} ModemInfo;

/* Received bytes of one terminal, as DSGetNextData hands them out. TCP keeps
 * no message boundaries: a packet holds what arrived in one receive, so it may
 * hold several messages or part of one. Taken in order, a terminal's packets
 * give every byte it sent, in order, without its heartbeats. */
typedef struct _PACKET {
    uint32_t deviceId;
    uint32_t receiveTime;
    uint8_t data[4098]; /* un-escaped bytes, 1 to 4095, then zeros */
    uint16_t length;    /* number of data bytes, not counting the NUL */
    uint8_t valid;      /* always 1 */
    uint8_t reserved[3];
} _PACKET;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(ModemInfo) == 28, "ModemInfo is 28 bytes");
static_assert(offsetof(ModemInfo, simNumber) == 4, "ModemInfo layout");
static_assert(offsetof(ModemInfo, ipAddress) == 16, "ModemInfo layout");
static_assert(offsetof(ModemInfo, loginTime) == 20, "ModemInfo layout");
static_assert(offsetof(ModemInfo, lastUpdateTime) == 24, "ModemInfo layout");
static_assert(sizeof(_PACKET) == 4112, "_PACKET is 4112 bytes");
static_assert(offsetof(_PACKET, receiveTime) == 4, "_PACKET layout");
static_assert(offsetof(_PACKET, data) == 8, "_PACKET layout");
static_assert(offsetof(_PACKET, length) == 4106, "_PACKET layout");
static_assert(offsetof(_PACKET, valid) == 4108, "_PACKET layout");
#else
_Static_assert(sizeof(ModemInfo) == 28, "ModemInfo is 28 bytes");
_Static_assert(sizeof(_PACKET) == 4112, "_PACKET is 4112 bytes");
#endif

/* 1. Starts listening on `port`, after raising the process's soft limit of
 *    open descriptors to its hard limit. 0 if the service already runs
 *    ("Server has started!"), the port cannot be bound ("Binding socket
 *    failed！") or a thread cannot be created ("Create thread failed!"); the
 *    service then stays stopped. */
DOVRIK_API int DOVRIK_CALL DSStartService(uint16_t port);

/* 2. Closes every connection and empties the terminal table. Messages already
 *    received stay queued. Does nothing while stopped. */
DOVRIK_API void DOVRIK_CALL DSStopService(void);

/* 3. Moves the oldest received message into *packet (4112 bytes). 0 when the
 *    queue is empty; *packet is then untouched. `reserved` is ignored. */
DOVRIK_API int DOVRIK_CALL DSGetNextData(_PACKET* packet, int reserved);

/* 4. Link-escapes `length` bytes and sends them to the terminal in one
 *    blocking send of at most 5 seconds. A message is sent whole or not at
 *    all. Messages sent from several threads to one terminal never
 *    interleave. 0 if the terminal is not connected ("The connection with
 *    modem has broken！"), or ("Send failed!") if the escaped message is
 *    longer than 4096 bytes (nothing is sent) or the send did not take every
 *    byte in time. A terminal whose message was cut off by the time limit is
 *    disconnected and leaves the table, as with DSCloseConnectionByDeviceID;
 *    one of whose message nothing was written stays. */
DOVRIK_API int DOVRIK_CALL DSSendData(uint32_t deviceId, uint16_t length, const uint8_t* data);

/* 5. Number of registered terminals. */
DOVRIK_API int DOVRIK_CALL DSGetModemCount(void);

/* 6. Copies the terminal at 0-based `position` (registration order, oldest
 *    first) into *info. 0 if position is not less than the count. */
DOVRIK_API int DOVRIK_CALL DSGetModemByPosition(uint32_t position, ModemInfo* info);

/* 7. Drops the terminal's connection at once and removes it from the table.
 *    An unknown ID is ignored. */
DOVRIK_API void DOVRIK_CALL DSCloseConnectionByDeviceID(uint32_t deviceId);

/* 8. Copies at most size - 1 bytes of the last error text into buffer and
 *    always writes a NUL into buffer[size - 1]. */
DOVRIK_API void DOVRIK_CALL DSGetLastError(char* buffer, int size);

#ifdef __cplusplus
}
#endif

#endif /* DOVRIK_H */
