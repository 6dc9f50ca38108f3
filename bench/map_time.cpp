// Start-up benchmark helper: runs a command N times on the current X display and prints the
// median time from starting it to the mapping of its first top-level window, in ms.
#include <X11/Xlib.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

static int cmp(const void *a, const void *b)
{
    double x = *static_cast<const double *>(a), y = *static_cast<const double *>(b);
    return x < y ? -1 : x > y;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: map_time RUNS COMMAND [ARG...]\n");
        return 2;
    }
    int runs = atoi(argv[1]);
    Display *display = XOpenDisplay(NULL);
    if (!display || runs < 1 || runs > 100) {
        fprintf(stderr, "map_time: no display\n");
        return 2;
    }
    double times[100];
    for (int r = 0; r < runs; ++r) {
        XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
        XSync(display, True);
        double start = now_ms();
        pid_t child = fork();
        if (child == 0) {
            execvp(argv[2], argv + 2);
            _exit(127);
        }
        times[r] = -1;
        while (times[r] < 0) {
            if (XPending(display) == 0) {
                if (waitpid(child, nullptr, WNOHANG) == child) {
                    fprintf(stderr, "map_time: %s ended without a window\n", argv[2]);
                    return 1;
                }
                usleep(1000);
                continue;
            }
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect)
                times[r] = now_ms() - start;
        }
        kill(child, SIGTERM);
        waitpid(child, NULL, 0);
        usleep(100000);
    }
    qsort(times, runs, sizeof times[0], cmp);
    printf("%.1f\n", times[runs / 2]);
    return 0;
}
