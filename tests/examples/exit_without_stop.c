/* A caller that forgets DSStopService: it starts the service, waits until a
 * terminal registered and sent text, leaves the terminal's next text in the
 * queue and returns from main with the service still running.
 *
 *   exit_without_stop PORT
 *
 * Prints "listening", then "returning" just before main returns; "did not
 * start" when the port is taken. */
#include <stdio.h>
#include <stdlib.h>

#include "Dovrik.h"

#if defined(_WIN32)
#include <windows.h>
static void Pause(void) {
    Sleep(100);
}
#else
#include <unistd.h>
static void Pause(void) {
    usleep(100 * 1000);
}
#endif

int main(int argc, char** argv) {
    const long port = argc > 1 ? strtol(argv[1], NULL, 10) : 0;
    static _PACKET packet; /* 4112 bytes: kept off the stack */
    char error[256];
    int polls;

    if (port < 1 || port > 65535) {
        fprintf(stderr, "usage: %s PORT  (1 to 65535)\n", argv[0]);
        return 2;
    }
    if (!DSStartService((uint16_t)port)) {
        DSGetLastError(error, (int)sizeof error);
        printf("did not start: %s\n", error);
        return 1;
    }
    printf("listening on port %ld\n", port);
    fflush(stdout);
    /* Up to two minutes for a registration and its first text. */
    for (polls = 0; DSGetModemCount() < 1 || !DSGetNextData(&packet, 0); ++polls) {
        if (polls == 1200) {
            printf("no terminal registered and sent text\n");
            return 1;
        }
        Pause();
    }
    /* The terminal sends every second: a little longer, and its next text
     * waits in the queue. */
    for (polls = 0; polls < 15; ++polls) Pause();
    printf("returning with %d terminal(s) registered\n", DSGetModemCount());
    fflush(stdout);
    return 0;
}
