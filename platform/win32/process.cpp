// The engine child process on Windows: started with CreateProcessA, reached through
// ReadProcessMemory and WriteProcessMemory on the handle kept from the launch. Also the
// stand-in's side: the check of its fixed region and the watch on its parent.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

struct WindowsEngineProcess final : EngineProcess {
    HANDLE process = nullptr;

    bool read_memory(uint32_t address, void* data, size_t size) override {
        SIZE_T moved = 0;
        const BOOL ok = ReadProcessMemory(process, reinterpret_cast<LPCVOID>(uintptr_t(address)),
                                          data, size, &moved);
        return transfer_failed(ok, moved, size);
    }

    bool write_memory(uint32_t address, const void* data, size_t size) override {
        SIZE_T moved = 0;
        const BOOL ok = WriteProcessMemory(process, reinterpret_cast<LPVOID>(uintptr_t(address)),
                                           data, size, &moved);
        return transfer_failed(ok, moved, size);
    }

    // Each access moves all its bytes or fails; a short transfer counts as a failure.
    static bool transfer_failed(BOOL ok, SIZE_T moved, size_t size) {
        if (ok == 0) return true;
        if (moved == size) return false;
        SetLastError(ERROR_PARTIAL_COPY);
        return true;
    }
};

// The server drives one engine for its whole life; a later launch replaces the handle.
WindowsEngineProcess engine_child;

constexpr DWORD detached_new_group = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP; // 0x208

// The parent of this process, found once; null when it could not be opened (already gone).
struct ParentWatch {
    HANDLE process = nullptr;
};

ParentWatch find_parent() {
    ParentWatch watch;
    const DWORD self = GetCurrentProcessId();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return watch;
    DWORD parent_id = 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == self) {
            parent_id = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    if (parent_id == 0) return watch;
    HANDLE parent = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent_id);
    if (parent == nullptr) return watch;
    // A process id is reused once its owner has gone: a "parent" started after this process
    // is a stranger, and the real parent has already ended.
    FILETIME created, ended, kernel, user, own_created;
    if (GetProcessTimes(parent, &created, &ended, &kernel, &user) != 0 &&
        GetProcessTimes(GetCurrentProcess(), &own_created, &ended, &kernel, &user) != 0 &&
        CompareFileTime(&created, &own_created) > 0) {
        CloseHandle(parent);
        return watch;
    }
    watch.process = parent;
    return watch;
}

} // namespace

EngineProcess* launch_child(const char* program) {
    // CreateProcessA may write into the command line, so it gets a copy of its own.
    char command_line[MAX_PATH];
    char module[MAX_PATH];
    if (strlen(program) >= sizeof command_line) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    snprintf(command_line, sizeof command_line, "%s", program);
    // The program file is the command line's first word, taken from the working directory
    // only. Left to the command line alone, CreateProcessA would look in the server's own
    // folder first: a stand-in beside the server would then be started in place of the
    // Kavro of the directory the user named.
    snprintf(module, sizeof module, "%.*s", int(strcspn(program, " \t")), program);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // No handle is inherited: Kavro outlives the server, and a copy of the server's output
    // pipe held there would keep the pipe's reader from ever seeing its end.
    if (CreateProcessA(module, command_line, nullptr, nullptr, FALSE, detached_new_group, nullptr,
                       nullptr, &startup, &started) == 0) {
        return nullptr;
    }
    CloseHandle(started.hThread);
    if (engine_child.process != nullptr) CloseHandle(engine_child.process);
    engine_child.process = started.hProcess;
    return &engine_child;
}

bool end_child(EngineProcess* process) {
    auto* child = dynamic_cast<WindowsEngineProcess*>(process);
    if (child == nullptr || child->process == nullptr) return false;
    // A process that has already ended cannot be terminated, and needs not be.
    if (TerminateProcess(child->process, 1) == 0 &&
        WaitForSingleObject(child->process, 0) != WAIT_OBJECT_0)
        return true;
    // Termination is asynchronous: the process is gone once its handle is signalled.
    if (WaitForSingleObject(child->process, 5000) != WAIT_OBJECT_0) {
        SetLastError(WAIT_TIMEOUT);
        return true;
    }
    return false;
}

bool map_fixed_region(uintptr_t address, size_t size) {
    // On Windows the region is part of the stand-in's own image (a static array placed by the
    // image base fixed at link time): the low addresses hold the process heap once the
    // program runs, so nothing can be reserved there. Check that every page is there, belongs
    // to the image (never the heap) and is writable.
    const uintptr_t end = address + size;
    uintptr_t at = address;
    while (at < end) {
        MEMORY_BASIC_INFORMATION info{};
        if (VirtualQuery(reinterpret_cast<LPCVOID>(at), &info, sizeof info) == 0) {
            print_line("The memory at 0x%llx cannot be examined\n",
                       static_cast<unsigned long long>(at));
            return true;
        }
        const DWORD writable = PAGE_READWRITE | PAGE_WRITECOPY;
        if (info.State != MEM_COMMIT || info.Type != MEM_IMAGE || (info.Protect & writable) == 0 ||
            (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) {
            print_line("The memory from 0x%llx to 0x%llx is not writable memory of this program "
                       "(0x%llx is not)\n",
                       static_cast<unsigned long long>(address),
                       static_cast<unsigned long long>(end), static_cast<unsigned long long>(at));
            return true;
        }
        at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    }
    return false;
}

bool parent_alive() {
    static const ParentWatch parent = find_parent();
    if (parent.process == nullptr) return false;
    return WaitForSingleObject(parent.process, 0) == WAIT_TIMEOUT;
}
