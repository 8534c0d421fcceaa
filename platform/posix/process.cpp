// Child processes and their memory on Linux: fork/exec of a detached child, its memory through
// process_vm_readv / process_vm_writev, and the stand-in engine's side of the bargain (its
// memory at fixed addresses, and noticing that the process that started it has gone).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

// The launcher's process id travels to the child in its environment, so that a child whose
// launcher ended before the child could ask for its parent still learns that it is alone.
constexpr char launcher_variable[] = "LAUNCHER_PID";

struct ChildProcess final : EngineProcess {
    pid_t pid;
    explicit ChildProcess(pid_t id) : pid(id) {}

    bool read_memory(uint32_t address, void* data, size_t size) override {
        iovec local{data, size};
        iovec remote{reinterpret_cast<void*>(uintptr_t(address)), size};
        ssize_t moved = process_vm_readv(pid, &local, 1, &remote, 1, 0);
        return short_transfer(moved, size);
    }

    bool write_memory(uint32_t address, const void* data, size_t size) override {
        iovec local{const_cast<void*>(data), size};
        iovec remote{reinterpret_cast<void*>(uintptr_t(address)), size};
        ssize_t moved = process_vm_writev(pid, &local, 1, &remote, 1, 0);
        return short_transfer(moved, size);
    }

    static bool short_transfer(ssize_t moved, size_t size) {
        if (moved < 0) return true; // errno set by the call
        if (size_t(moved) != size) {
            errno = EFAULT; // part of the range is not mapped in the child
            return true;
        }
        return false;
    }
};

// Runs in the child between fork and exec: only async-signal-safe calls. descriptor_limit is
// one more than the highest descriptor number this process may have.
[[noreturn]] void become_child(const char* program, char* const* environment, int report_fd,
                               int descriptor_limit) {
    setsid(); // own session and process group, no controlling terminal
    int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
        if (null_fd > 2) close(null_fd);
    }
    // Nothing else of ours crosses the exec: the child may outlive us, and a descriptor we
    // inherited (a launcher's pipe, a make job server) held open there would keep its reader
    // from ever seeing the end. The report pipe is close-on-exec already and stays until then.
    if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        for (int fd = 3; fd < descriptor_limit; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    char* const arguments[] = {const_cast<char*>(program), nullptr};
    // A bare name is a path relative to the working directory: execve does not search PATH.
    execve(program, arguments, environment);
    int error = errno;
    ssize_t ignored = write(report_fd, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

pid_t remembered_parent = 0;

} // namespace

EngineProcess* launch_child(const char* program) {
    // The child's environment is ours with the launcher's id in place of any inherited one.
    // Built before the fork: the child may only make async-signal-safe calls.
    size_t count = 0;
    while (environ[count]) ++count;
    char** environment = new char*[count + 2];
    size_t used = 0;
    size_t name_length = strlen(launcher_variable);
    for (size_t i = 0; i < count; ++i) {
        if (strncmp(environ[i], launcher_variable, name_length) == 0 &&
            environ[i][name_length] == '=')
            continue;
        environment[used++] = environ[i];
    }
    char launcher_entry[64];
    snprintf(launcher_entry, sizeof launcher_entry, "%s=%ld", launcher_variable, long(getpid()));
    environment[used++] = launcher_entry;
    environment[used] = nullptr;

    const long open_max = sysconf(_SC_OPEN_MAX);
    const int descriptor_limit = open_max > 0 && open_max < (1 << 20) ? int(open_max) : 1 << 20;
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        delete[] environment;
        return nullptr;
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        become_child(program, environment, report[1], descriptor_limit);
    }
    int fork_error = errno;
    delete[] environment;
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        errno = fork_error;
        return nullptr;
    }
    // The pipe closes on a successful exec; on a failed one it carries the exec's errno.
    int exec_error = 0;
    ssize_t got;
    do {
        got = read(report[0], &exec_error, sizeof exec_error);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == ssize_t(sizeof exec_error)) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        errno = exec_error;
        return nullptr;
    }
    return new ChildProcess(pid);
}

bool end_child(EngineProcess* process) {
    auto* child = dynamic_cast<ChildProcess*>(process);
    if (child == nullptr || child->pid == 0) return false;
    // Until it is reaped below, the child holds its id, even when it has ended by itself.
    if (kill(child->pid, SIGKILL) != 0) return true;
    while (waitpid(child->pid, nullptr, 0) < 0) {
        if (errno != EINTR) return true;
    }
    child->pid = 0; // the id may now be another process's
    return false;
}

int64_t child_process_id(const EngineProcess* process) {
    auto* child = dynamic_cast<const ChildProcess*>(process);
    return child ? int64_t(child->pid) : 0;
}

bool process_running(int64_t pid) {
    if (pid <= 0) return false;
    if (kill(pid_t(pid), 0) != 0 && errno != EPERM) return false;
    // A zombie still answers kill(); its state in /proc tells it has ended.
    char path[64];
    snprintf(path, sizeof path, "/proc/%lld/stat", static_cast<long long>(pid));
    FILE* file = fopen(path, "r");
    if (!file) return false;
    char line[512];
    bool running = true;
    if (fgets(line, sizeof line, file)) {
        // The state follows the command name, which is in parentheses and may hold blanks.
        const char* close_paren = strrchr(line, ')');
        if (close_paren && close_paren[1] == ' ' &&
            (close_paren[2] == 'Z' || close_paren[2] == 'X'))
            running = false;
    }
    fclose(file);
    return running;
}

void end_process_group(int64_t pid) {
    if (pid <= 0) return;
    kill(-pid_t(pid), SIGKILL);
    kill(pid_t(pid), SIGKILL);
    // Reap it when it is our child; for anyone else's this returns at once.
    while (waitpid(pid_t(pid), nullptr, 0) < 0 && errno == EINTR) {
    }
}

bool map_fixed_region(uintptr_t address, size_t size) {
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    uintptr_t begin = address & ~(page - 1);
    uintptr_t end = (address + size + page - 1) & ~(page - 1);
    void* wanted = reinterpret_cast<void*>(begin);
    void* got = mmap(wanted, end - begin, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (got == MAP_FAILED) {
        int error = errno;
        print_line("Cannot map memory at 0x%lx to 0x%lx: %s\n", static_cast<unsigned long>(begin),
                   static_cast<unsigned long>(end), strerror(error));
        errno = error;
        return true;
    }
    if (got != wanted) {
        // A kernel that does not know the flag takes it as a hint and maps elsewhere.
        munmap(got, end - begin);
        print_line("Cannot map memory at 0x%lx to 0x%lx: %s\n", static_cast<unsigned long>(begin),
                   static_cast<unsigned long>(end), strerror(EEXIST));
        errno = EEXIST;
        return true;
    }
    return false;
}

bool parent_alive() {
    if (remembered_parent == 0) {
        pid_t parent = getppid();
        remembered_parent = parent;
        if (const char* text = getenv(launcher_variable)) {
            long launcher = strtol(text, nullptr, 10);
            // The launcher is our parent, or it has already gone (we were handed to a
            // reaper), or the variable was inherited from further up and means nothing.
            if (launcher > 0 && pid_t(launcher) != parent && !process_running(launcher))
                remembered_parent = pid_t(launcher);
        }
    }
    return getppid() == remembered_parent;
}
