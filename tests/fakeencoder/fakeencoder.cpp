// A stand-in for ffmpeg in tests. It takes ffmpeg's two command lines:
//   fakeencoder -i IN                                   (a probe)
//   fakeencoder -y -i IN -ab B -ar R -ac C OUT          (a conversion)
// and is steered by the environment:
//   FAKE_DURATION      text printed as "  Duration: <text>, start: 0.000000, bitrate: 128 kb/s"
//                      (default 00:03:45.23; set but empty: no Duration line at all). For a
//                      conversion it is printed only when there is no FAKE_TRANSCRIPT.
//   FAKE_TRANSCRIPT    file replayed to stderr during a conversion, byte for byte
//   FAKE_CHUNK_BYTES   replay in writes of this many bytes (default: one write per line,
//                      a line ending at CR or LF)
//   FAKE_CHUNK_DELAY_MS  pause before each write of the replay (default 0)
//   FAKE_OUTPUT_BYTES  bytes written to OUT (default 1024; -1: OUT is not created)
//   FAKE_EXIT          exit code (default 0 for a conversion, 1 for a probe, as ffmpeg)
//   FAKE_MODE          normal (default) | hang: after everything else, wait until killed |
//                      crash: after everything else, die by SIGKILL (no core file) |
//                      nooutput: print nothing at all (OUT and the exit code as usual)
//   FAKE_HANG_ON       a run whose IN contains this text hangs at once, printing nothing
//   FAKE_ARGS_LOG      file to which each run appends its arguments (without the program)
//                      joined by single blanks, and a line feed
//   FAKE_PID_FILE      file to which each run appends its process id and a line feed
//   FAKE_IGNORE_TERM   set and not empty: SIGTERM is ignored, so only a kill ends the run
//   FAKE_SLEEP_MS      a conversion takes this long: it sleeps before it exits (default 0)
//   FAKE_WRITE_DELAY_MS  a conversion waits this long before it opens OUT (default 0)
//   FAKE_WAIT_FOR      a conversion, once it has written OUT, waits until this file exists
//   FAKE_SLOW_ON       a conversion whose IN contains this text sleeps three times as long
//   FAKE_FAIL_ON       a conversion whose IN contains this text says it cannot read it and
//                      exits 1 without writing OUT
//   FAKE_TIMES_LOG     file to which each conversion appends "start <ns> IN" when it starts
//                      and "end <ns> IN" when it exits by itself, <ns> from CLOCK_MONOTONIC
// Standard input is never read.

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace {

const char *env(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value ? value : fallback;
}

long envNumber(const char *name, long fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? std::strtol(value, nullptr, 10) : fallback;
}

void writeAll(const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, size);
        if (written <= 0)
            return;
        data += written;
        size -= static_cast<size_t>(written);
    }
}

void say(const std::string &text)
{
    writeAll(text.data(), text.size());
}

[[noreturn]] void hang()
{
    for (;;)
        ::pause();
}

void replay(const char *path)
{
    std::ifstream file(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    const long chunk = envNumber("FAKE_CHUNK_BYTES", 0);
    const long delayMs = envNumber("FAKE_CHUNK_DELAY_MS", 0);
    size_t at = 0;
    while (at < text.size()) {
        size_t end;
        if (chunk > 0) {
            end = at + static_cast<size_t>(chunk);
        } else {
            end = text.find_first_of("\r\n", at);
            end = end == std::string::npos ? text.size() : end + 1;
            if (text[end - 1] == '\r' && end < text.size() && text[end] == '\n')
                ++end;
        }
        end = std::min(end, text.size());
        if (delayMs > 0)
            ::usleep(static_cast<useconds_t>(delayMs) * 1000);
        writeAll(text.data() + at, end - at);
        at = end;
    }
}

// One write with O_APPEND, so lines of runs side by side never mix.
void logTime(const char *what, const std::string &in)
{
    const char *log = std::getenv("FAKE_TIMES_LOG");
    if (!log || !*log)
        return;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::string line =
        std::string(what) + ' ' +
        std::to_string(static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec) + ' ' + in +
        '\n';
    const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    (void)!::write(fd, line.data(), line.size());
    ::close(fd);
}

} // namespace

int main(int argc, char *argv[])
{
    std::vector<std::string> args(argv + 1, argv + argc);

    if (const char *log = std::getenv("FAKE_ARGS_LOG")) {
        std::ofstream out(log, std::ios::app | std::ios::binary);
        for (size_t i = 0; i < args.size(); ++i)
            out << (i ? " " : "") << args[i];
        out << '\n';
    }

    if (const char *ignoreTerm = std::getenv("FAKE_IGNORE_TERM"); ignoreTerm && *ignoreTerm)
        std::signal(SIGTERM, SIG_IGN);

    if (const char *pidFile = std::getenv("FAKE_PID_FILE")) {
        std::ofstream out(pidFile, std::ios::app);
        out << ::getpid() << '\n';
    }

    std::string in;
    size_t inAt = 0;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "-i") {
            in = args[i + 1];
            inAt = i + 1;
            break;
        }
    }
    const bool conversion = !in.empty() && args.size() > inAt + 1;
    const std::string out = conversion ? args.back() : std::string();
    if (conversion)
        logTime("start", in);

    const char *hangOn = std::getenv("FAKE_HANG_ON");
    if (hangOn && *hangOn && in.find(hangOn) != std::string::npos)
        hang();

    const std::string mode = env("FAKE_MODE", "normal");
    const bool quiet = mode == "nooutput";

    if (!quiet)
        say("fakeencoder version 5.1 Copyright (c) the Wavetransmuter tests\n");

    const char *transcript = std::getenv("FAKE_TRANSCRIPT");
    const bool replaying = conversion && transcript && *transcript;
    const char *duration = env("FAKE_DURATION", "00:03:45.23");
    if (!quiet && !replaying && *duration) {
        say("Input #0, wav, from '" + in + "':\n");
        say(std::string("  Duration: ") + duration + ", start: 0.000000, bitrate: 128 kb/s\n");
    }

    const char *failOn = std::getenv("FAKE_FAIL_ON");
    if (conversion && failOn && *failOn && in.find(failOn) != std::string::npos) {
        say(in + ": Invalid data found when processing input\n");
        logTime("end", in);
        return 1;
    }

    if (conversion) {
        if (const long delayMs = envNumber("FAKE_WRITE_DELAY_MS", 0); delayMs > 0)
            ::usleep(static_cast<useconds_t>(delayMs) * 1000);
        const long bytes = envNumber("FAKE_OUTPUT_BYTES", 1024);
        if (bytes >= 0) {
            std::ofstream file(out, std::ios::binary | std::ios::trunc);
            const std::string content(static_cast<size_t>(bytes), 'U');
            file.write(content.data(), static_cast<std::streamsize>(content.size()));
        }
        if (!quiet && replaying)
            replay(transcript);
    } else if (!quiet) {
        say("At least one output file must be specified\n");
    }

    if (const char *gate = std::getenv("FAKE_WAIT_FOR"); conversion && gate && *gate) {
        while (::access(gate, F_OK) != 0)
            ::usleep(2000);
    }
    long sleepMs = envNumber("FAKE_SLEEP_MS", 0);
    if (const char *slowOn = std::getenv("FAKE_SLOW_ON");
        slowOn && *slowOn && in.find(slowOn) != std::string::npos)
        sleepMs *= 3;
    if (conversion && sleepMs > 0)
        ::usleep(static_cast<useconds_t>(sleepMs) * 1000);
    if (mode == "hang")
        hang();
    if (mode == "crash")
        std::raise(SIGKILL);
    if (conversion)
        logTime("end", in);
    return static_cast<int>(envNumber("FAKE_EXIT", conversion ? 0 : 1));
}
