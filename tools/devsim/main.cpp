// devsim: a device on a pseudo-terminal. Prints the slave's path on the first
// line of stdout, then plays the device until told to stop.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <initializer_list>
#include <poll.h>
#include <string>
#include <utility>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "tools/devsim/devsim.h"

namespace {

const char kUsage[] =
    "Usage: devsim [options]\n"
    "A device on a pseudo-terminal. The first line of output is the slave's path.\n"
    "\n"
    "  --link PATH          make PATH a symbolic link to the slave (e.g. for TAVRIN_COM1);\n"
    "                       removed on exit and on hang-up\n"
    "  --echo               send back every byte received\n"
    "  --stalled            never read the line (a device holding its flow control):\n"
    "                       what the program writes backs up after about 12 KiB\n"
    "  --line TEXT          send TEXT and CR LF every --period; {n} counts lines from 1\n"
    "  --gbk-line           send a Chinese temperature line in code page 936 every --period\n"
    "  --period MS          period of the line (default line: \"tick {n}\")\n"
    "  --stream N           send N bytes at --rate bytes per second, 16 at a time\n"
    "  --rate BYTES_PER_S   rate of the stream\n"
    "  --flood N            send N bytes as fast as the reader takes them\n"
    "  --payload KIND       what a stream or flood sends: text (numbered lines, default),\n"
    "                       random, pattern (0..255 repeated)\n"
    "  --seed N             seed of the random payload (default 1)\n"
    "  --start WHEN         when the line, stream, flood and hang-up timer begin:\n"
    "                       open (someone opens the slave, default), byte (first byte\n"
    "                       received), now\n"
    "  --start-delay MS     wait this long after the start event\n"
    "  --hangup-after MS    close the master this long after the start (an unplugged adapter)\n"
    "  --report             print \"received N\" on exit\n"
    "  --report-hex FILE    write the received bytes as hex to FILE on exit (- for stdout)\n"
    "  --exit-after S       exit after S seconds (decimals allowed)\n"
    "  --stdin              read commands from stdin and exit when it closes:\n"
    "                       hangup | send HEXPAIRS | text TEXT | report | counts | quit\n"
    "                       (counts prints \"received N sent M\": bytes read from and\n"
    "                       written to the line so far)\n"
    "  --help               this text\n"
    "\n"
    "Exits on SIGINT and SIGTERM. Exit status: 0, 1 on a failure, 2 on bad options.\n";

bool ParseCount(const char* text, unsigned long long max, unsigned long long* value)
{
    if (!text || !*text || *text == '-' || *text == '+')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > max)
        return false;
    *value = v;
    return true;
}

// Hexadecimal pairs, blanks between them allowed; false on anything else.
bool ParseHex(const std::string& text, std::string* bytes)
{
    bytes->clear();
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ' || text[i] == '\t') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size())
            return false;
        const std::string pair = text.substr(i, 2);
        char* end = nullptr;
        const long value = std::strtol(pair.c_str(), &end, 16);
        if (*end != '\0' || pair[0] == '-' || pair[0] == '+' || pair[0] == ' ')
            return false;
        *bytes += static_cast<char>(value);
        i += 2;
    }
    return true;
}

void PrintReceived(const devsim::DeviceSimulator& sim)
{
    std::printf("received %llu\n", static_cast<unsigned long long>(sim.received()));
    std::fflush(stdout);
}

bool WriteHex(const std::string& bytes, const std::string& path)
{
    FILE* out = path == "-" ? stdout : std::fopen(path.c_str(), "w");
    if (!out) {
        std::fprintf(stderr, "devsim: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i)
        std::fprintf(out, "%02X%c", static_cast<unsigned char>(bytes[i]),
                     (i % 16 == 15 || i + 1 == bytes.size()) ? '\n' : ' ');
    const bool ok = std::fflush(out) == 0 && !std::ferror(out);
    if (out != stdout && std::fclose(out) != 0)
        return false;
    if (!ok)
        std::fprintf(stderr, "devsim: writing %s failed\n", path.c_str());
    return ok;
}

// Runs one command line from stdin; false for "quit".
bool RunCommand(const std::string& line, devsim::DeviceSimulator& sim)
{
    const std::size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (word == "quit")
        return false;
    if (word == "hangup") {
        sim.hangUp();
    } else if (word == "report") {
        PrintReceived(sim);
    } else if (word == "counts") {
        const devsim::Status now = sim.status();
        std::printf("received %llu sent %llu\n", static_cast<unsigned long long>(now.received),
                    static_cast<unsigned long long>(now.sent));
        std::fflush(stdout);
    } else if (word == "text") {
        sim.send(rest);
    } else if (word == "send") {
        std::string bytes;
        if (ParseHex(rest, &bytes))
            sim.send(bytes);
        else
            std::fprintf(stderr, "devsim: not hexadecimal pairs: %s\n", rest.c_str());
    } else if (!word.empty()) {
        std::fprintf(stderr, "devsim: unknown command: %s\n", word.c_str());
    }
    return true;
}

// What the command line asks for, besides the device itself.
struct Settings {
    devsim::Options options;
    bool report = false;
    bool commands = false;   // --stdin
    bool lineGiven = false;
    std::string hexPath;     // --report-hex
    double exitAfter = -1;   // seconds; negative: never
};

enum {
    kLink = 1, kEcho, kStalled, kLine, kGbkLine, kPeriod, kStream, kRate, kFlood, kPayload, kSeed,
    kStart, kStartDelay, kHangUpAfter, kReport, kReportHex, kExitAfter, kStdin, kHelp,
};

const option kOptions[] = {
    {"link", required_argument, nullptr, kLink},
    {"echo", no_argument, nullptr, kEcho},
    {"stalled", no_argument, nullptr, kStalled},
    {"line", required_argument, nullptr, kLine},
    {"gbk-line", no_argument, nullptr, kGbkLine},
    {"period", required_argument, nullptr, kPeriod},
    {"stream", required_argument, nullptr, kStream},
    {"rate", required_argument, nullptr, kRate},
    {"flood", required_argument, nullptr, kFlood},
    {"payload", required_argument, nullptr, kPayload},
    {"seed", required_argument, nullptr, kSeed},
    {"start", required_argument, nullptr, kStart},
    {"start-delay", required_argument, nullptr, kStartDelay},
    {"hangup-after", required_argument, nullptr, kHangUpAfter},
    {"report", no_argument, nullptr, kReport},
    {"report-hex", required_argument, nullptr, kReportHex},
    {"exit-after", required_argument, nullptr, kExitAfter},
    {"stdin", no_argument, nullptr, kStdin},
    {"help", no_argument, nullptr, kHelp},
    {nullptr, 0, nullptr, 0},
};

// A decimal count from min to max into *field; false on anything else.
template <typename T>
bool SetCount(const char* text, unsigned long long min, unsigned long long max, T* field)
{
    unsigned long long n = 0;
    if (!ParseCount(text, max, &n) || n < min)
        return false;
    *field = static_cast<T>(n);
    return true;
}

// One of the words into *field; false on any other text.
template <typename T>
bool SetWord(const char* text, std::initializer_list<std::pair<const char*, T>> words, T* field)
{
    for (const auto& [word, value] : words) {
        if (std::strcmp(text, word) == 0) {
            *field = value;
            return true;
        }
    }
    return false;
}

bool SetSeconds(const char* text, double* seconds)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(value >= 0) || value > 1e9)
        return false;
    *seconds = value;
    return true;
}

// Applies one option; false when its value is not one the option takes.
bool ApplyOption(int code, const char* value, Settings& s)
{
    devsim::Options& o = s.options;
    switch (code) {
    case kLink: o.linkPath = value; return true;
    case kEcho: o.echo = true; return true;
    case kStalled: o.stalled = true; return true;
    case kLine: o.line = value; s.lineGiven = true; return true;
    case kGbkLine: o.line = devsim::kGbkTemperatureLine; s.lineGiven = true; return true;
    case kPeriod: return SetCount(value, 1, 0x7FFFFFFF, &o.periodMs);
    case kStream: return SetCount(value, 0, ~0ULL, &o.streamBytes);
    case kRate: return SetCount(value, 1, 1000000000ULL, &o.rateBytesPerSecond);
    case kFlood: return SetCount(value, 0, ~0ULL, &o.floodBytes);
    case kPayload:
        return SetWord(value, {std::pair{"text", devsim::Payload::Text}, {"random", devsim::Payload::Random},
                               {"pattern", devsim::Payload::Pattern}}, &o.payload);
    case kSeed: return SetCount(value, 0, 0xFFFFFFFFULL, &o.seed);
    case kStart:
        return SetWord(value, {std::pair{"open", devsim::StartOn::Open}, {"byte", devsim::StartOn::FirstByte},
                               {"now", devsim::StartOn::Now}}, &o.startOn);
    case kStartDelay: return SetCount(value, 0, 0x7FFFFFFF, &o.startDelayMs);
    case kHangUpAfter: return SetCount(value, 0, 0x7FFFFFFF, &o.hangUpAfterMs);
    case kReport: s.report = true; return true;
    case kReportHex: s.hexPath = value; o.keepReceived = true; return true;
    case kExitAfter: return SetSeconds(value, &s.exitAfter);
    case kStdin: s.commands = true; return true;
    }
    return false;
}

// Reads the command line into *s. The exit status when the program is to end
// here (help, or options it cannot use), or -1 to go on.
int ParseArguments(int argc, char** argv, Settings* s)
{
    int c;
    int index = -1;
    while ((c = getopt_long(argc, argv, "", kOptions, &index)) != -1) {
        if (c == kHelp) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (c == '?' || c == ':') {
            std::fputs(kUsage, stderr);
            return 2;
        }
        if (!ApplyOption(c, optarg, *s)) {
            std::fprintf(stderr, "devsim: bad value for --%s: %s\n%s", kOptions[index].name, optarg, kUsage);
            return 2;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "devsim: unexpected argument: %s\n%s", argv[optind], kUsage);
        return 2;
    }
    if (s->lineGiven && s->options.periodMs == 0) {
        std::fprintf(stderr, "devsim: a line needs --period\n");
        return 2;
    }
    if (s->options.periodMs > 0 && !s->lineGiven)
        s->options.line = "tick {n}";
    return -1;
}

// What ends the program besides stdin: SIGINT, SIGTERM and --exit-after,
// each as a descriptor to wait on.
class ExitEvents {
public:
    ExitEvents() = default;
    ExitEvents(const ExitEvents&) = delete;
    ExitEvents& operator=(const ExitEvents&) = delete;
    ~ExitEvents()
    {
        if (m_signals >= 0)
            close(m_signals);
        if (m_timer >= 0)
            close(m_timer);
    }

    // Call before the simulator's thread starts: the signals are blocked so
    // that it inherits the mask and never takes them itself.
    bool open(double exitAfter)
    {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
            std::fprintf(stderr, "devsim: cannot block signals\n");
            return false;
        }
        m_signals = signalfd(-1, &signals, SFD_CLOEXEC);
        m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
        if (m_signals < 0 || m_timer < 0) {
            std::fprintf(stderr, "devsim: %s\n", std::strerror(errno));
            return false;
        }
        if (exitAfter < 0)
            return true;
        itimerspec spec{};
        spec.it_value.tv_sec = static_cast<time_t>(exitAfter);
        spec.it_value.tv_nsec = static_cast<long>((exitAfter - static_cast<double>(spec.it_value.tv_sec)) * 1e9);
        if (spec.it_value.tv_sec == 0 && spec.it_value.tv_nsec == 0)
            spec.it_value.tv_nsec = 1;  // zero would disarm the timer
        if (timerfd_settime(m_timer, 0, &spec, nullptr) != 0) {
            std::fprintf(stderr, "devsim: timerfd_settime: %s\n", std::strerror(errno));
            return false;
        }
        return true;
    }

    int signals() const { return m_signals; }
    int timer() const { return m_timer; }

private:
    int m_signals = -1;
    int m_timer = -1;
};

// Runs the complete lines of input and keeps the rest; false once "quit" came.
bool RunCommands(std::string& input, devsim::DeviceSimulator& sim)
{
    for (std::size_t eol; (eol = input.find('\n')) != std::string::npos;) {
        std::string line = input.substr(0, eol);
        input.erase(0, eol + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!RunCommand(line, sim))
            return false;
    }
    return true;
}

// Plays the device until a signal, the exit timer, "quit" or the end of the
// commands on stdin.
void Serve(devsim::DeviceSimulator& sim, const ExitEvents& exit, bool commands)
{
    std::string input;  // a partial command line from stdin
    for (;;) {
        pollfd fds[3] = {
            {exit.signals(), POLLIN, 0},
            {exit.timer(), POLLIN, 0},
            {commands ? STDIN_FILENO : -1, POLLIN, 0},
        };
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "devsim: poll: %s\n", std::strerror(errno));
            return;
        }
        if (fds[0].revents || fds[1].revents)
            return;
        if (!fds[2].revents)
            continue;
        char buffer[4096];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return;  // stdin closed: asked to stop
        input.append(buffer, static_cast<std::size_t>(n));
        if (!RunCommands(input, sim))
            return;
    }
}

// Reports what the settings ask for once the simulator has stopped; the exit status.
int Report(const devsim::DeviceSimulator& sim, const Settings& settings)
{
    int status = 0;
    const devsim::Status final = sim.status();
    if (!final.error.empty()) {
        std::fprintf(stderr, "devsim: %s\n", final.error.c_str());
        status = 1;
    }
    if (settings.report)
        PrintReceived(sim);
    if (!settings.hexPath.empty() && !WriteHex(sim.receivedBytes(), settings.hexPath))
        status = 1;
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    Settings settings;
    if (const int status = ParseArguments(argc, argv, &settings); status >= 0)
        return status;
    ExitEvents exit;
    if (!exit.open(settings.exitAfter))
        return 1;

    devsim::DeviceSimulator sim;
    std::string error;
    if (!sim.start(settings.options, &error)) {
        std::fprintf(stderr, "devsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", sim.slavePath().c_str());
    std::fflush(stdout);

    Serve(sim, exit, settings.commands);
    sim.stop();
    return Report(sim, settings);
}
