// Programs that tests and tools start with their output in a file (Windows), and the look at
// other processes by id that they use.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

// The handles of started programs, kept so that their exit codes outlive them.
struct StartedProgram {
    int64_t pid;
    HANDLE process;
};
constexpr int started_capacity = 64;
StartedProgram started_programs[started_capacity];

StartedProgram* find_started(int64_t pid) {
    for (StartedProgram& entry : started_programs) {
        if (entry.process != nullptr && entry.pid == pid) return &entry;
    }
    return nullptr;
}

void forget_started(int64_t pid) {
    if (StartedProgram* entry = find_started(pid)) {
        CloseHandle(entry->process);
        entry->process = nullptr;
        entry->pid = 0;
    }
}

// Appends one argument, quoted so that the C runtime's parser gives it back unchanged.
bool append_argument(char* line, size_t size, size_t& used, const char* argument) {
    auto put = [&](char c) {
        if (used + 1 >= size) return false;
        line[used++] = c;
        line[used] = '\0';
        return true;
    };
    if (used > 0 && !put(' ')) return false;
    const bool plain = argument[0] != '\0' && strpbrk(argument, " \t\"") == nullptr;
    if (plain) {
        for (const char* c = argument; *c; ++c) {
            if (!put(*c)) return false;
        }
        return true;
    }
    if (!put('"')) return false;
    size_t backslashes = 0;
    for (const char* c = argument;; ++c) {
        if (*c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them: then each is doubled.
        const size_t copies = (*c == '"' || *c == '\0') ? backslashes * 2 : backslashes;
        for (size_t i = 0; i < copies; ++i) {
            if (!put('\\')) return false;
        }
        backslashes = 0;
        if (*c == '\0') break;
        if (*c == '"' && !put('\\')) return false;
        if (!put(*c)) return false;
    }
    return put('"');
}

// This process's environment block with the entries of extra added or replacing those of the
// same name. Null when there is nothing to add; the caller frees it.
char* merged_environment(const char* const* extra) {
    if (extra == nullptr || extra[0] == nullptr) return nullptr;
    char* own = GetEnvironmentStringsA();
    if (own == nullptr) return nullptr;
    size_t size = 1;
    for (const char* entry = own; *entry; entry += strlen(entry) + 1) size += strlen(entry) + 1;
    for (const char* const* entry = extra; *entry; ++entry) size += strlen(*entry) + 1;
    char* block = static_cast<char*>(malloc(size));
    if (block == nullptr) {
        FreeEnvironmentStringsA(own);
        return nullptr;
    }
    size_t used = 0;
    for (const char* entry = own; *entry; entry += strlen(entry) + 1) {
        // Entries such as "=C:=C:\" name a drive's directory: their name starts after the '='.
        const char* equals = strchr(entry + 1, '=');
        const size_t name_length = equals ? size_t(equals - entry) : strlen(entry);
        bool replaced = false;
        for (const char* const* added = extra; *added && !replaced; ++added) {
            replaced = _strnicmp(*added, entry, name_length) == 0 && (*added)[name_length] == '=';
        }
        if (replaced) continue;
        memcpy(block + used, entry, strlen(entry) + 1);
        used += strlen(entry) + 1;
    }
    for (const char* const* entry = extra; *entry; ++entry) {
        memcpy(block + used, *entry, strlen(*entry) + 1);
        used += strlen(*entry) + 1;
    }
    block[used] = '\0';
    FreeEnvironmentStringsA(own);
    return block;
}

// The ids of every process whose recorded parent is pid.
int list_children(int64_t pid, int64_t* children, int max) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && count < max;
         more = Process32Next(snapshot, &entry)) {
        if (int64_t(entry.th32ParentProcessID) == pid && entry.th32ProcessID != DWORD(pid)) {
            children[count++] = entry.th32ProcessID;
        }
    }
    CloseHandle(snapshot);
    return count;
}

} // namespace

int64_t start_program(const char* const* argv, const char* directory,
                      const char* const* environment, const char* output_path) {
    char command_line[4096] = "";
    size_t used = 0;
    for (const char* const* argument = argv; *argument; ++argument) {
        if (!append_argument(command_line, sizeof command_line, used, *argument)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return 0;
        }
    }
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                               OPEN_EXISTING, 0, nullptr);
    HANDLE output = CreateFileA(output_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherited, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (input == INVALID_HANDLE_VALUE || output == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
        if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
        SetLastError(error);
        return 0;
    }
    char* block = merged_environment(environment);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION started{};
    const BOOL ok = CreateProcessA(nullptr, command_line, nullptr, nullptr, TRUE,
                                   CREATE_NEW_PROCESS_GROUP, block, directory, &startup, &started);
    const DWORD error = GetLastError();
    free(block);
    CloseHandle(input);
    CloseHandle(output);
    if (!ok) {
        SetLastError(error);
        return 0;
    }
    CloseHandle(started.hThread);
    for (StartedProgram& entry : started_programs) {
        if (entry.process == nullptr) {
            entry = {int64_t(started.dwProcessId), started.hProcess};
            return entry.pid;
        }
    }
    // No room to keep it: its exit code can still be asked for while it runs.
    CloseHandle(started.hProcess);
    return int64_t(started.dwProcessId);
}

bool wait_program(int64_t pid, int timeout_ms, int& status) {
    StartedProgram* entry = find_started(pid);
    HANDLE process =
        entry ? entry->process
              : OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (process == nullptr) return false;
    const bool ended =
        WaitForSingleObject(process, DWORD(timeout_ms < 0 ? 0 : timeout_ms)) == WAIT_OBJECT_0;
    DWORD code = 0;
    if (ended && GetExitCodeProcess(process, &code)) status = int(code);
    if (entry == nullptr) {
        CloseHandle(process);
    } else if (ended) {
        forget_started(pid);
    }
    return ended;
}

int child_processes(int64_t pid, int64_t* children, int max) {
    int count = list_children(pid, children, max);
    // Windows keeps the parent id of a process that has ended: only live ones count.
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        if (process_running(children[i])) children[kept++] = children[i];
    }
    return kept;
}

bool process_running(int64_t pid) {
    if (pid <= 0) return false;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (process == nullptr) return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

void end_process_group(int64_t pid) {
    if (pid <= 0) return;
    // Windows has no group to signal: end the process and everything it started, found
    // before any of them ends.
    constexpr int most = 64;
    int64_t tree[most];
    int count = 0;
    tree[count++] = pid;
    for (int i = 0; i < count && count < most; ++i) {
        count += list_children(tree[i], tree + count, most - count);
    }
    for (int i = 0; i < count; ++i) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, DWORD(tree[i]));
        if (process == nullptr) continue;
        TerminateProcess(process, 137);
        WaitForSingleObject(process, 2000);
        CloseHandle(process);
    }
}

// Windows keeps no zombies and needs no reaper: an exit code lives as long as a handle.
void adopt_orphans() {}
