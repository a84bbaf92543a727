// peak_memory PROGRAM [ARGUMENT...]: runs the program and tells its peak
// resident memory in KiB as the last line on stderr; exits with its status.
//
// A program started by a large process (the test) through vfork or fork
// inherits that process's peak (Linux carries it over exec), so this small
// one, built without the sanitizers, starts it by fork and exec and asks
// wait4 for the figure.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return 2;
    std::fprintf(stderr, "\n%ld\n", usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
