#include "interpreter/meminfo.h"

#include <fcntl.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

uint64_t meminfo_buffers_kb = 0;
uint64_t meminfo_cached_kb = 0;

namespace {

const char* meminfo_path = "/proc/meminfo";
int meminfo_fd = -1;
char meminfo_text[2048];
int32_t meminfo_bytes = 0;

struct MeminfoKey {
    const char* name;
    uint64_t* value;
};

// Sorted by name in byte order: looked up by bisection.
const MeminfoKey meminfo_keys[] = {
    {"Buffers", &meminfo_buffers_kb},
    {"Cached", &meminfo_cached_kb},
};

uint64_t leading_unsigned(const char* p) {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
    uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) value = value * 10 + static_cast<uint64_t>(*p - '0');
    return value;
}

}  // namespace

void parse_meminfo_text(char* text) {
    char* p = text;
    while (true) {
        char* colon = std::strchr(p, ':');
        if (colon == nullptr) return;
        *colon = '\0';
        const size_t length = static_cast<size_t>(colon - p);
        if (length < 16) {
            char name[16];
            std::memcpy(name, p, length + 1);
            const auto* end = std::end(meminfo_keys);
            const auto* key = std::lower_bound(
                std::begin(meminfo_keys), end, name,
                [](const MeminfoKey& k, const char* n) { return std::strcmp(k.name, n) < 0; });
            p = colon + 1;
            if (key != end && std::strcmp(key->name, name) == 0) *key->value = leading_unsigned(p);
        } else {
            p = colon + 1;
        }
        char* newline = std::strchr(p, '\n');
        if (newline == nullptr) return;
        p = newline + 1;
    }
}

void read_meminfo() {
    if (meminfo_fd == -1) {
        meminfo_fd = open(meminfo_path, O_RDONLY);
        if (meminfo_fd == -1) {
            std::fputs("", stderr);
            std::fflush(nullptr);
            _exit(102);
        }
    }
    lseek(meminfo_fd, 0, SEEK_SET);
    const ssize_t count = read(meminfo_fd, meminfo_text, sizeof(meminfo_text) - 1);
    meminfo_bytes = static_cast<int32_t>(count);
    if (count < 0) {
        std::perror(meminfo_path);
        std::fflush(nullptr);
        _exit(103);
    }
    meminfo_text[count] = '\0';
    parse_meminfo_text(meminfo_text);
}

void set_meminfo_path(const char* path) {
    if (meminfo_fd != -1) close(meminfo_fd);
    meminfo_fd = -1;
    meminfo_path = path;
}

uint64_t available_memory_bytes() {
    struct sysinfo info {};
    sysinfo(&info);
    read_meminfo();
    return static_cast<uint64_t>(info.freeram) * info.mem_unit +
           (meminfo_buffers_kb + meminfo_cached_kb) * 1024;
}
