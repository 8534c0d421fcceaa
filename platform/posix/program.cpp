// Programs that tests and tools start with their output in a file (POSIX).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

// In the child between fork and exec: only async-signal-safe calls, and any failure is
// handed to the parent through the pipe as an errno value.
[[noreturn]] void exec_child(const char* const* argv, const char* directory,
                             char* const* environment, const char* output_path, int report_fd) {
    setpgid(0, 0);
    int error = 0;
    if (directory != nullptr && chdir(directory) != 0) error = errno;
    if (error == 0) {
        const int input = open("/dev/null", O_RDONLY);
        const int output = open(output_path, O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (input < 0 || output < 0) {
            error = errno;
        } else {
            dup2(input, 0);
            dup2(output, 1);
            dup2(output, 2);
            close(input);
            close(output);
        }
    }
    if (error == 0) {
        execvpe(argv[0], const_cast<char* const*>(argv), environment);
        error = errno;
    }
    ssize_t written = write(report_fd, &error, sizeof error);
    (void)written;
    _exit(127);
}

// This process's environment with the entries of extra added or replacing those of the same
// name. Built before the fork: the child may not allocate.
char** merged_environment(const char* const* extra) {
    size_t count = 0;
    for (char** entry = environ; *entry != nullptr; ++entry) ++count;
    size_t extra_count = 0;
    if (extra != nullptr) {
        for (const char* const* entry = extra; *entry != nullptr; ++entry) ++extra_count;
    }
    char** merged = static_cast<char**>(calloc(count + extra_count + 1, sizeof(char*)));
    if (merged == nullptr) return nullptr;
    size_t used = 0;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = strchr(*entry, '=');
        const size_t name_length = equals ? size_t(equals - *entry) : strlen(*entry);
        bool replaced = false;
        for (size_t i = 0; i < extra_count && !replaced; ++i) {
            replaced = strncmp(extra[i], *entry, name_length) == 0 && extra[i][name_length] == '=';
        }
        if (!replaced) merged[used++] = *entry;
    }
    for (size_t i = 0; i < extra_count; ++i) merged[used++] = const_cast<char*>(extra[i]);
    merged[used] = nullptr;
    return merged;
}

} // namespace

int64_t start_program(const char* const* argv, const char* directory,
                      const char* const* environment, const char* output_path) {
    char** merged = merged_environment(environment);
    if (merged == nullptr) return 0;
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        free(merged);
        return 0;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        const int error = errno;
        close(report[0]);
        close(report[1]);
        free(merged);
        errno = error;
        return 0;
    }
    if (pid == 0) {
        close(report[0]);
        exec_child(argv, directory, merged, output_path, report[1]);
    }
    free(merged);
    close(report[1]);
    // The pipe closes on a successful exec; a failure arrives as the child's errno.
    int error = 0;
    ssize_t got;
    do {
        got = read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == ssize_t(sizeof error)) {
        waitpid(pid, nullptr, 0);
        errno = error;
        return 0;
    }
    // Also set here, so that the group exists before anyone signals it.
    setpgid(pid, pid);
    return pid;
}

bool wait_program(int64_t pid, int timeout_ms, int& status) {
    const int64_t deadline = clock_ms() + timeout_ms;
    for (;;) {
        int raw = 0;
        const pid_t done = waitpid(pid_t(pid), &raw, WNOHANG);
        if (done == pid_t(pid)) {
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            return true;
        }
        if (done < 0 && errno != EINTR) return false;
        if (clock_ms() >= deadline) return false;
        pause_ms(10);
    }
}

int child_processes(int64_t pid, int64_t* children, int max) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return 0;
    int count = 0;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long id = strtol(entry->d_name, &end, 10);
        if (id <= 0 || *end != '\0') continue;
        char path[64];
        snprintf(path, sizeof path, "/proc/%ld/stat", id);
        FILE* file = fopen(path, "r");
        if (file == nullptr) continue;
        char line[512];
        const bool got = fgets(line, sizeof line, file) != nullptr;
        fclose(file);
        if (!got) continue;
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const char* close_paren = strrchr(line, ')');
        if (close_paren == nullptr) continue;
        char state = 0;
        long parent = 0;
        if (sscanf(close_paren + 1, " %c %ld", &state, &parent) != 2) continue;
        if (parent != pid || state == 'Z') continue;
        if (count < max) children[count] = id;
        ++count;
    }
    closedir(proc);
    return count < max ? count : max;
}
