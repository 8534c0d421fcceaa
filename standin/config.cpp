// The winkavro.ini reader: one table of keys, so that a new key is one more row.
#include "standin/config.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

StandinConfig standin_config;

namespace {

struct IntegerKey {
    const char* name;
    int StandinConfig::*field;
    int minimum;
    int maximum;
};

constexpr IntegerKey integer_keys[] = {
    {"movetime_ms", &StandinConfig::movetime_ms, 1, 3600 * 1000},
    {"max_depth", &StandinConfig::max_depth, 1, 100},
    {"hash_megabytes", &StandinConfig::hash_megabytes, 1, 4096},
};

// The text between begin and end without blanks at either side, into out.
void trimmed(const char* begin, const char* end, char* out, size_t size) {
    while (begin < end && std::isspace(static_cast<unsigned char>(*begin))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(end[-1]))) --end;
    size_t length = size_t(end - begin);
    if (length >= size) length = size - 1;
    std::memcpy(out, begin, length);
    out[length] = '\0';
}

// The whole number 0 to maximum after prefix, when the value is just that.
bool number_after(const char* value, const char* prefix, long maximum, long& number) {
    const size_t length = std::strlen(prefix);
    if (std::strncmp(value, prefix, length) != 0) return false;
    const char* digits = value + length;
    char* stop = nullptr;
    errno = 0;
    number = std::strtol(digits, &stop, 10);
    return digits[0] != '\0' && *stop == '\0' && errno == 0 && number >= 0 && number <= maximum;
}

// "fault=NAME", "fault=die_after_moves=N" or "fault=slow_start=MS". True when the value names
// no fault.
bool apply_fault(const char* value, StandinConfig& config) {
    struct Name {
        const char* text;
        StandinFault fault;
    };
    constexpr Name names[] = {{"none", fault_none},
                              {"wrong_start_board", fault_wrong_start_board},
                              {"ignore_moves", fault_ignore_moves},
                              {"ignore_new", fault_ignore_new},
                              {"illegal_reply", fault_illegal_reply}};
    for (const Name& name : names) {
        if (std::strcmp(value, name.text) != 0) continue;
        config.fault = name.fault;
        return false;
    }
    if (std::strcmp(value, "outlive_server") == 0) {
        config.outlive_server = true;
        return false;
    }
    long count = 0;
    if (number_after(value, "die_after_moves=", 10000, count)) {
        config.fault = fault_die_after_moves;
        config.die_after_moves = int(count);
        return false;
    }
    if (number_after(value, "slow_start=", 600000, count)) {
        config.slow_start_ms = int(count);
        return false;
    }
    printf("winkavro.ini: unknown fault \"%s\"\n", value);
    return true;
}

} // namespace

bool apply_config_line(const char* line, StandinConfig& config) {
    const char* end = line + std::strlen(line);
    if (const char* comment = std::strchr(line, '#')) end = comment;
    const char* equals = static_cast<const char*>(std::memchr(line, '=', size_t(end - line)));
    char key[64];
    if (!equals) {
        trimmed(line, end, key, sizeof key);
        if (key[0] == '\0') return false; // blank or comment line
        printf("winkavro.ini: no '=' in \"%s\"\n", key);
        return true;
    }
    char value[64];
    trimmed(line, equals, key, sizeof key);
    trimmed(equals + 1, end, value, sizeof value);
    if (std::strcmp(key, "fault") == 0) return apply_fault(value, config);
    for (const IntegerKey& entry : integer_keys) {
        if (std::strcmp(key, entry.name) != 0) continue;
        char* stop = nullptr;
        errno = 0;
        long number = std::strtol(value, &stop, 10);
        if (value[0] == '\0' || *stop != '\0' || errno != 0 || number < entry.minimum ||
            number > entry.maximum) {
            printf("winkavro.ini: %s must be a whole number from %d to %d, not \"%s\"\n", key,
                   entry.minimum, entry.maximum, value);
            return true;
        }
        config.*entry.field = int(number);
        return false;
    }
    printf("winkavro.ini: unknown key \"%s\"\n", key);
    return true;
}

bool read_config(const char* path) {
    FILE* file = std::fopen(path, "r");
    if (!file) return errno != ENOENT;
    char line[256];
    while (std::fgets(line, sizeof line, file)) {
        size_t length = std::strlen(line);
        bool whole = length > 0 && line[length - 1] == '\n';
        if (whole) line[--length] = '\0';
        if (length > 0 && line[length - 1] == '\r') line[--length] = '\0';
        apply_config_line(line, standin_config);
        // The rest of an overlong line is dropped, not read as a line of its own.
        if (!whole && !std::feof(file)) {
            int c;
            while ((c = std::fgetc(file)) != EOF && c != '\n') {
            }
        }
    }
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed;
}
