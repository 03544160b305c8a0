// quellstorm-pack: makes, unpacks and inspects the payload records that the
// updater carries. Unpacking and checking go through the updater's own record
// reader and decoder, so the tool's verdict is the updater's.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "payload/decode.h"
#include "payload/record.h"
#include "tools/pack/packer.h"

namespace {

enum ExitCode {
    ExitOk = 0,
    ExitBadInput = 1, // unreadable or oversized input, malformed record, failed write
    ExitUsage = 2,
};

const char* const Program = "quellstorm-pack";

const char* const HelpText =
    "usage: quellstorm-pack pack INPUT -o RECORD [--time SECONDS]\n"
    "       quellstorm-pack unpack RECORD -o OUTPUT\n"
    "       quellstorm-pack info RECORD...\n"
    "       quellstorm-pack --help\n"
    "\n"
    "Makes, unpacks and inspects the payload records that the updater carries.\n"
    "\n"
    "  pack    packs INPUT (at most 1,400,000 bytes) into the record RECORD,\n"
    "          stamped with SECONDS since 1970-01-01 00:00:00 UTC, or else with\n"
    "          INPUT's modification time; the time must fit a signed 32-bit count\n"
    "  unpack  decodes RECORD as the updater does and writes OUTPUT with the\n"
    "          record's time as its modification and access time; a malformed\n"
    "          record leaves OUTPUT untouched\n"
    "  info    describes each RECORD: its sizes, time, ratio, how many items of\n"
    "          each encoding it holds, and whether it is well-formed\n"
    "\n"
    "Exit status: 0 success, 1 bad input or malformed record, 2 usage error.\n";

// The decode buffer of the updater: no record may decode to more.
constexpr int32_t DecodeCapacity = int32_t(PackMaxInput);
// No well-formed record comes near this size (its stream decodes to at most
// DecodeCapacity bytes, five packed bytes for every two at worst); it only
// keeps a stray file from being read whole.
constexpr size_t MaxRecordFile = 64u << 20;

__attribute__((format(printf, 1, 2))) void PrintError(const char* format, ...) {
    std::fprintf(stderr, "%s: ", Program);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

__attribute__((format(printf, 1, 2))) int UsageError(const char* format, ...) {
    std::fprintf(stderr, "%s: ", Program);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, "\nTry '%s --help'.\n", Program);
    return ExitUsage;
}

// Reads `path` whole. A file longer than `limit` bytes is refused, and so is
// anything that is not a regular file. Reports its own failures.
bool ReadWholeFile(const char* path, size_t limit, std::vector<uint8_t>* bytes) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        PrintError("%s: cannot open: %s", path, std::strerror(errno));
        return false;
    }
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        PrintError("%s: not a regular file", path);
        std::fclose(file);
        return false;
    }
    bytes->clear();
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (bytes->size() + got > limit) {
            PrintError("%s: larger than %zu bytes", path, limit);
            std::fclose(file);
            return false;
        }
        bytes->insert(bytes->end(), chunk, chunk + got);
    }
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        PrintError("%s: cannot read", path);
        return false;
    }
    return true;
}

// Writes `bytes` to `path` whole or not at all: into a new file beside it that
// then replaces it, so a failure never leaves `path` truncated or half
// written. With `stamp`, the file's access and modification times are set to
// `*stamp` seconds since 1970 first. Reports its own failures.
bool ReplaceFile(const char* path, const uint8_t* bytes, size_t size, const int32_t* stamp) {
    std::string temporary = std::string(path) + ".partial-" + std::to_string(getpid());
    int file = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (file < 0) {
        PrintError("%s: cannot create %s: %s", path, temporary.c_str(), std::strerror(errno));
        return false;
    }
    size_t written = 0;
    while (written < size) {
        ssize_t step = write(file, bytes + written, size - written);
        if (step < 0 && errno == EINTR) {
            continue;
        }
        if (step <= 0) {
            PrintError("%s: cannot write: %s", path, step < 0 ? std::strerror(errno) : "no progress");
            close(file);
            unlink(temporary.c_str());
            return false;
        }
        written += size_t(step);
    }
    if (close(file) != 0) {
        PrintError("%s: cannot write: %s", path, std::strerror(errno));
        unlink(temporary.c_str());
        return false;
    }
    if (stamp != nullptr) {
        struct utimbuf times {};
        times.actime = time_t(*stamp);
        times.modtime = time_t(*stamp);
        if (utime(temporary.c_str(), &times) != 0) {
            PrintError("%s: cannot set its times: %s", path, std::strerror(errno));
            unlink(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path) != 0) {
        PrintError("%s: cannot replace: %s", path, std::strerror(errno));
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool ParseTimestamp(const char* text, int32_t* stamp) {
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno == ERANGE || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        return false;
    }
    *stamp = int32_t(value);
    return true;
}

std::string FormatUtc(int32_t stamp) {
    using namespace std::chrono;
    sys_seconds instant{seconds{stamp}};
    sys_days day = floor<days>(instant);
    year_month_day date{day};
    hh_mm_ss<seconds> time{instant - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()), unsigned(date.month()),
                  unsigned(date.day()), int(time.hours().count()), int(time.minutes().count()),
                  int(time.seconds().count()));
    return text;
}

// The command line after the command word: positional arguments and the
// values of the options the command takes.
struct Arguments {
    std::vector<const char*> positional;
    const char* output;
    const char* time;
    bool help;
};

// Returns 0, or ExitUsage after saying what is wrong.
int ParseArguments(int argc, char** argv, bool takes_output, bool takes_time, Arguments* args) {
    *args = Arguments{};
    bool options_ended = false;
    for (int i = 2; i < argc; ++i) {
        const char* arg = argv[i];
        if (options_ended || arg[0] != '-' || arg[1] == '\0') {
            args->positional.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            options_ended = true;
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            args->help = true;
        } else if ((takes_output && std::strcmp(arg, "-o") == 0) || (takes_time && std::strcmp(arg, "--time") == 0)) {
            const char** slot = arg[1] == 'o' ? &args->output : &args->time;
            if (i + 1 >= argc) {
                return UsageError("%s needs a value", arg);
            }
            if (*slot != nullptr) {
                return UsageError("%s given twice", arg);
            }
            *slot = argv[++i];
        } else {
            return UsageError("unknown option %s", arg);
        }
    }
    return 0;
}

int Pack(const Arguments& args) {
    if (args.positional.size() != 1) {
        return UsageError("pack takes exactly one INPUT");
    }
    if (args.output == nullptr) {
        return UsageError("pack needs -o RECORD");
    }
    int32_t stamp = 0;
    if (args.time != nullptr && !ParseTimestamp(args.time, &stamp)) {
        return UsageError("--time %s: not a whole number of seconds from -2147483648 to 2147483647", args.time);
    }
    const char* input_path = args.positional[0];
    std::vector<uint8_t> input;
    if (!ReadWholeFile(input_path, PackMaxInput, &input)) {
        return ExitBadInput;
    }
    if (args.time == nullptr) {
        struct stat info {};
        if (stat(input_path, &info) != 0) {
            PrintError("%s: cannot read its modification time: %s", input_path, std::strerror(errno));
            return ExitBadInput;
        }
        if (info.st_mtime < std::numeric_limits<int32_t>::min() || info.st_mtime > std::numeric_limits<int32_t>::max()) {
            PrintError("%s: modification time %lld does not fit a record's signed 32-bit timestamp; give --time",
                       input_path, static_cast<long long>(info.st_mtime));
            return ExitBadInput;
        }
        stamp = int32_t(info.st_mtime);
    }
    std::vector<uint8_t> record = PackRecord(input.data(), input.size(), stamp);
    if (!ReplaceFile(args.output, record.data(), record.size(), nullptr)) {
        return ExitBadInput;
    }
    return ExitOk;
}

// Decodes a record file as the updater would into `decoded`. Returns whether
// it is well-formed, and if not, says why in `fault`. A file longer than its
// header claims is refused too: a record file holds exactly one record.
bool CheckRecord(const std::vector<uint8_t>& record, std::vector<uint8_t>* decoded, PayloadHeader* header,
                 std::string* fault) {
    decoded->assign(size_t(DecodeCapacity), 0);
    *header = PayloadHeader{};
    int32_t result =
        DecodePayloadRecord(record.data(), uint32_t(record.size()), decoded->data(), DecodeCapacity, header);
    if (result < 0) {
        *fault = DescribePayloadFault(result);
        return false;
    }
    size_t expected = PayloadHeaderSize + size_t(header->packed_size);
    if (record.size() != expected) {
        *fault = std::to_string(record.size() - expected) + " bytes follow the packed stream";
        return false;
    }
    decoded->resize(size_t(result));
    return true;
}

int32_t ReadInt32(const uint8_t* bytes) {
    return int32_t(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24);
}

int Unpack(const Arguments& args) {
    if (args.positional.size() != 1) {
        return UsageError("unpack takes exactly one RECORD");
    }
    if (args.output == nullptr) {
        return UsageError("unpack needs -o OUTPUT");
    }
    const char* record_path = args.positional[0];
    std::vector<uint8_t> record;
    if (!ReadWholeFile(record_path, MaxRecordFile, &record)) {
        return ExitBadInput;
    }
    std::vector<uint8_t> decoded;
    PayloadHeader header{};
    std::string fault;
    if (!CheckRecord(record, &decoded, &header, &fault)) {
        PrintError("%s: malformed record: %s", record_path, fault.c_str());
        return ExitBadInput;
    }
    if (!ReplaceFile(args.output, decoded.data(), decoded.size(), &header.timestamp)) {
        return ExitBadInput;
    }
    return ExitOk;
}

// Reports one record on stdout; returns whether it is well-formed. The header
// fields are shown as stored even when they are what makes the record
// malformed.
bool DescribeRecord(const char* path) {
    std::vector<uint8_t> record;
    if (!ReadWholeFile(path, MaxRecordFile, &record)) {
        return false;
    }
    std::vector<uint8_t> decoded;
    PayloadHeader header{};
    std::string fault;
    bool sound = CheckRecord(record, &decoded, &header, &fault);
    std::printf("%s\n", path);
    std::printf("  record size   %zu bytes\n", record.size());
    if (record.size() >= PayloadHeaderSize) {
        int32_t stamp = ReadInt32(record.data() + 4);
        std::printf("  packed size   %" PRId32 " bytes\n", ReadInt32(record.data()));
        std::printf("  timestamp     %s (%" PRId32 ")\n", FormatUtc(stamp).c_str(), stamp);
    }
    if (!sound) {
        std::printf("  well-formed   no: %s\n", fault.c_str());
        PrintError("%s: malformed record: %s", path, fault.c_str());
        return false;
    }
    std::printf("  decoded size  %zu bytes\n", decoded.size());
    if (!decoded.empty()) {
        std::printf("  ratio         %.2f%% (packed stream / decoded)\n",
                    100.0 * double(header.packed_size) / double(decoded.size()));
    } else {
        std::printf("  ratio         -\n");
    }
    StreamItemCounts counts{};
    CountStreamItems(record.data() + PayloadHeaderSize, size_t(header.packed_size), &counts);
    std::printf("  items         literal %" PRIu64 ", 1-byte %" PRIu64 ", offset-byte %" PRIu64 ", 0xC0 %" PRIu64
                ", 0x00-0x7E %" PRIu64 ", 0x7F %" PRIu64 "\n",
                counts.literal, counts.one_byte, counts.offset_byte, counts.near, counts.medium, counts.far);
    std::printf("  well-formed   yes\n");
    return true;
}

int Info(const Arguments& args) {
    if (args.output != nullptr || args.positional.empty()) {
        return UsageError("info takes one RECORD or more");
    }
    bool all_sound = true;
    for (const char* path : args.positional) {
        all_sound = DescribeRecord(path) && all_sound;
    }
    return all_sound ? ExitOk : ExitBadInput;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return UsageError("missing command (pack, unpack or info)");
    }
    const char* command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0) {
        std::fputs(HelpText, stdout);
        return ExitOk;
    }
    bool is_pack = std::strcmp(command, "pack") == 0;
    bool is_unpack = std::strcmp(command, "unpack") == 0;
    bool is_info = std::strcmp(command, "info") == 0;
    if (!is_pack && !is_unpack && !is_info) {
        return UsageError("unknown command %s", command);
    }
    Arguments args{};
    if (ParseArguments(argc, argv, !is_info, is_pack, &args) != 0) {
        return ExitUsage;
    }
    if (args.help) {
        std::fputs(HelpText, stdout);
        return ExitOk;
    }
    if (is_pack) {
        return Pack(args);
    }
    return is_unpack ? Unpack(args) : Info(args);
}
