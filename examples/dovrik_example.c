/* A program that uses Dovrik the way a centre does: it loads the library,
 * starts the service, prints every terminal that registers and every message
 * that arrives, and stops the service when a key is pressed.
 *
 *   dovrik_example [PORT [LIBRARY]]
 *
 * PORT defaults to 5001, LIBRARY to Dovrik.dll on Windows and libDovrik.so.1
 * elsewhere. Standard C plus the few calls that load a library and look at
 * the keyboard, which differ between Windows and POSIX. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "Dovrik.h"

#if defined(_WIN32)
#include <conio.h>
#include <windows.h>
typedef HMODULE Library;
#define DEFAULT_LIBRARY "Dovrik.dll"
static Library OpenLibrary(const char* path) { return LoadLibraryA(path); }
static void ReportLoadFailure(const char* path) {
    fprintf(stderr, "cannot load %s (error %lu)\n", path, (unsigned long)GetLastError());
}
static void* Symbol(Library library, const char* name) {
    FARPROC function = GetProcAddress(library, name);
    void* address;
    memcpy(&address, &function, sizeof address);
    return address;
}
static void CloseLibrary(Library library) { FreeLibrary(library); }
static void Pause(void) { Sleep(100); }
static volatile LONG inputArrived = 0;
static int consoleInput = 0;
/* Piped input: a thread waits for its first byte or its end. */
static DWORD WINAPI AwaitInput(LPVOID unused) {
    char byte;
    DWORD read = 0;
    (void)unused;
    ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, NULL);
    InterlockedExchange(&inputArrived, 1);
    return 0;
}
static void KeyboardBegin(void) {
    DWORD mode = 0;
    HANDLE thread;
    consoleInput = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
    if (consoleInput) return;
    thread = CreateThread(NULL, 0, AwaitInput, NULL, 0, NULL);
    if (thread != NULL) CloseHandle(thread);
}
static void KeyboardEnd(void) {}
/* A key in a console; the first byte or the end of piped input. */
static int KeyPressed(void) {
    if (consoleInput) return _kbhit();
    return InterlockedCompareExchange(&inputArrived, 0, 0) != 0;
}
#else
#include <dlfcn.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>
typedef void* Library;
#define DEFAULT_LIBRARY "libDovrik.so.1"
static Library OpenLibrary(const char* path) { return dlopen(path, RTLD_NOW); }
static void ReportLoadFailure(const char* path) {
    const char* why = dlerror();
    fprintf(stderr, "cannot load %s: %s\n", path, why != NULL ? why : "unknown reason");
}
static void* Symbol(Library library, const char* name) { return dlsym(library, name); }
static void CloseLibrary(Library library) { dlclose(library); }
static void Pause(void) { usleep(100 * 1000); }
static struct termios savedTerminal;
static int terminalChanged = 0;
/* A key without Enter: the terminal stops collecting lines. */
static void KeyboardBegin(void) {
    struct termios raw;
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
    raw = savedTerminal;
    raw.c_lflag &= (tcflag_t) ~(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    terminalChanged = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}
static void KeyboardEnd(void) {
    if (terminalChanged) tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
}
/* A key, or the end of piped input. */
static int KeyPressed(void) {
    fd_set readable;
    struct timeval now = {0, 0};
    FD_ZERO(&readable);
    FD_SET(STDIN_FILENO, &readable);
    return select(STDIN_FILENO + 1, &readable, NULL, NULL, &now) > 0;
}
#endif

/* The DS functions, found by name. On 32-bit Windows they are __stdcall
 * (DOVRIK_CALL); a pointer of another convention would break the stack. */
typedef int(DOVRIK_CALL* StartServiceFn)(uint16_t);
typedef void(DOVRIK_CALL* StopServiceFn)(void);
typedef int(DOVRIK_CALL* GetNextDataFn)(_PACKET*, int);
typedef int(DOVRIK_CALL* GetModemCountFn)(void);
typedef int(DOVRIK_CALL* GetModemByPositionFn)(uint32_t, ModemInfo*);
typedef void(DOVRIK_CALL* GetLastErrorFn)(char*, int);

/* Device IDs already printed; registrations beyond it are printed again. */
#define KNOWN_MAX 4096
static uint32_t known[KNOWN_MAX];
static int knownCount = 0;

static int Known(uint32_t id) {
    int i;
    for (i = 0; i < knownCount; ++i) {
        if (known[i] == id) return 1;
    }
    if (knownCount < KNOWN_MAX) known[knownCount++] = id;
    return 0;
}

/* Text as it is; other bytes in hex. */
static void PrintMessage(const _PACKET* packet) {
    int i;
    int text = 1;
    for (i = 0; i < packet->length; ++i) {
        if (packet->data[i] < 0x20 && packet->data[i] != '\r' && packet->data[i] != '\n') text = 0;
    }
    printf("message from %08x, %u bytes: ", (unsigned)packet->deviceId, (unsigned)packet->length);
    for (i = 0; i < packet->length; ++i) {
        if (text) {
            putchar(packet->data[i] == '\r' || packet->data[i] == '\n' ? ' ' : packet->data[i]);
        } else {
            printf("%02x ", packet->data[i]);
        }
    }
    putchar('\n');
}

/* The functions this program calls. */
typedef struct Functions {
    StartServiceFn startService;
    StopServiceFn stopService;
    GetNextDataFn getNextData;
    GetModemCountFn getModemCount;
    GetModemByPositionFn getModemByPosition;
    GetLastErrorFn getLastError;
} Functions;

static int Find(Library library, const char* name, void** function) {
    *function = Symbol(library, name);
    if (*function == NULL) fprintf(stderr, "the library has no function %s\n", name);
    return *function != NULL;
}

/* Object and function pointers are alike on every platform that runs Dovrik. */
static int Bind(Library library, Functions* ds) {
    void* f[6];
    if (!Find(library, "DSStartService", &f[0]) || !Find(library, "DSStopService", &f[1]) ||
        !Find(library, "DSGetNextData", &f[2]) || !Find(library, "DSGetModemCount", &f[3]) ||
        !Find(library, "DSGetModemByPosition", &f[4]) || !Find(library, "DSGetLastError", &f[5])) {
        return 0;
    }
    memcpy(&ds->startService, &f[0], sizeof f[0]);
    memcpy(&ds->stopService, &f[1], sizeof f[1]);
    memcpy(&ds->getNextData, &f[2], sizeof f[2]);
    memcpy(&ds->getModemCount, &f[3], sizeof f[3]);
    memcpy(&ds->getModemByPosition, &f[4], sizeof f[4]);
    memcpy(&ds->getLastError, &f[5], sizeof f[5]);
    return 1;
}

int main(int argc, char** argv) {
    const long port = argc > 1 ? strtol(argv[1], NULL, 10) : 5001;
    const char* libraryPath = argc > 2 ? argv[2] : DEFAULT_LIBRARY;
    Library library;
    Functions ds;
    static _PACKET packet; /* 4112 bytes: kept off the stack */
    char error[256];

    if (port < 1 || port > 65535) {
        fprintf(stderr, "usage: %s [PORT [LIBRARY]]  (PORT 1 to 65535)\n", argv[0]);
        return 2;
    }
    library = OpenLibrary(libraryPath);
    if (library == NULL) {
        ReportLoadFailure(libraryPath);
        return 1;
    }
    if (!Bind(library, &ds)) {
        CloseLibrary(library);
        return 1;
    }
    if (!ds.startService((uint16_t)port)) {
        ds.getLastError(error, (int)sizeof error);
        fprintf(stderr, "the service did not start: %s\n", error);
        CloseLibrary(library);
        return 1;
    }
    printf("listening on port %ld; press a key to stop\n", port);
    fflush(stdout);
    KeyboardBegin();
    while (!KeyPressed()) {
        const int count = ds.getModemCount();
        int i;
        for (i = 0; i < count; ++i) {
            ModemInfo info;
            if (!ds.getModemByPosition((uint32_t)i, &info) || Known(info.deviceId)) continue;
            printf("registered %08x, SIM %.11s, address %u.%u.%u.%u\n", (unsigned)info.deviceId,
                   info.simNumber, info.ipAddress[0], info.ipAddress[1], info.ipAddress[2],
                   info.ipAddress[3]);
        }
        while (ds.getNextData(&packet, 0)) PrintMessage(&packet);
        fflush(stdout);
        Pause();
    }
    KeyboardEnd();
    ds.stopService();
    printf("stopped, %d terminals seen\n", knownCount);
    CloseLibrary(library);
    return 0;
}
