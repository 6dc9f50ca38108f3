// Runs a command and reports its peak resident set size: "peak_rss_kb=N" as the last line
// on standard error. Exits with the command's status (128 + signal when it was killed).
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: peak_rss COMMAND [ARG...]\n");
        return 2;
    }
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    if (child < 0 || wait4(child, &status, 0, &usage) < 0)
        return 125;
    std::fprintf(stderr, "\npeak_rss_kb=%ld\n", usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
