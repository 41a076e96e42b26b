// devsim: a device on a pseudo-terminal. Prints the slave's path on the first
// line of stdout, then plays the device until told to stop.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <poll.h>
#include <string>
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
    "                       hangup | send HEXPAIRS | text TEXT | report | quit\n"
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

} // namespace

int main(int argc, char** argv)
{
    enum {
        kLink = 1, kEcho, kStalled, kLine, kGbkLine, kPeriod, kStream, kRate, kFlood, kPayload, kSeed,
        kStart, kStartDelay, kHangUpAfter, kReport, kReportHex, kExitAfter, kStdin, kHelp,
    };
    static const option kOptions[] = {
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

    devsim::Options options;
    bool report = false;
    bool commands = false;
    bool lineGiven = false;
    std::string hexPath;
    double exitAfter = -1;
    auto bad = [](const char* option, const char* value) {
        std::fprintf(stderr, "devsim: bad value for --%s: %s\n%s", option, value, kUsage);
        return 2;
    };

    int c;
    while ((c = getopt_long(argc, argv, "", kOptions, nullptr)) != -1) {
        unsigned long long n = 0;
        switch (c) {
        case kLink: options.linkPath = optarg; break;
        case kEcho: options.echo = true; break;
        case kStalled: options.stalled = true; break;
        case kLine: options.line = optarg; lineGiven = true; break;
        case kGbkLine: options.line = devsim::kGbkTemperatureLine; lineGiven = true; break;
        case kPeriod:
            if (!ParseCount(optarg, 0x7FFFFFFF, &n) || n == 0)
                return bad("period", optarg);
            options.periodMs = static_cast<unsigned>(n);
            break;
        case kStream:
            if (!ParseCount(optarg, ~0ULL, &n))
                return bad("stream", optarg);
            options.streamBytes = n;
            break;
        case kRate:
            if (!ParseCount(optarg, 1000000000ULL, &n) || n == 0)
                return bad("rate", optarg);
            options.rateBytesPerSecond = n;
            break;
        case kFlood:
            if (!ParseCount(optarg, ~0ULL, &n))
                return bad("flood", optarg);
            options.floodBytes = n;
            break;
        case kPayload:
            if (std::strcmp(optarg, "text") == 0)
                options.payload = devsim::Payload::Text;
            else if (std::strcmp(optarg, "random") == 0)
                options.payload = devsim::Payload::Random;
            else if (std::strcmp(optarg, "pattern") == 0)
                options.payload = devsim::Payload::Pattern;
            else
                return bad("payload", optarg);
            break;
        case kSeed:
            if (!ParseCount(optarg, 0xFFFFFFFFULL, &n))
                return bad("seed", optarg);
            options.seed = static_cast<std::uint32_t>(n);
            break;
        case kStart:
            if (std::strcmp(optarg, "open") == 0)
                options.startOn = devsim::StartOn::Open;
            else if (std::strcmp(optarg, "byte") == 0)
                options.startOn = devsim::StartOn::FirstByte;
            else if (std::strcmp(optarg, "now") == 0)
                options.startOn = devsim::StartOn::Now;
            else
                return bad("start", optarg);
            break;
        case kStartDelay:
            if (!ParseCount(optarg, 0x7FFFFFFF, &n))
                return bad("start-delay", optarg);
            options.startDelayMs = static_cast<unsigned>(n);
            break;
        case kHangUpAfter:
            if (!ParseCount(optarg, 0x7FFFFFFF, &n))
                return bad("hangup-after", optarg);
            options.hangUpAfterMs = static_cast<int>(n);
            break;
        case kReport: report = true; break;
        case kReportHex: hexPath = optarg; options.keepReceived = true; break;
        case kExitAfter: {
            char* end = nullptr;
            errno = 0;
            exitAfter = std::strtod(optarg, &end);
            if (errno != 0 || end == optarg || *end != '\0' || !(exitAfter >= 0) || exitAfter > 1e9)
                return bad("exit-after", optarg);
            break;
        }
        case kStdin: commands = true; break;
        case kHelp: std::fputs(kUsage, stdout); return 0;
        default: std::fputs(kUsage, stderr); return 2;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "devsim: unexpected argument: %s\n%s", argv[optind], kUsage);
        return 2;
    }
    if (lineGiven && options.periodMs == 0) {
        std::fprintf(stderr, "devsim: a line needs --period\n");
        return 2;
    }
    if (options.periodMs > 0 && !lineGiven)
        options.line = "tick {n}";

    // Signals are taken through a descriptor; blocked before the simulator's
    // thread starts so that it inherits the mask and never takes them itself.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
        std::fprintf(stderr, "devsim: cannot block signals\n");
        return 1;
    }
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    const int exitTimer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (signalFd < 0 || exitTimer < 0) {
        std::fprintf(stderr, "devsim: %s\n", std::strerror(errno));
        return 1;
    }
    if (exitAfter >= 0) {
        itimerspec spec{};
        spec.it_value.tv_sec = static_cast<time_t>(exitAfter);
        spec.it_value.tv_nsec = static_cast<long>((exitAfter - static_cast<double>(spec.it_value.tv_sec)) * 1e9);
        if (spec.it_value.tv_sec == 0 && spec.it_value.tv_nsec == 0)
            spec.it_value.tv_nsec = 1;  // zero would disarm the timer
        if (timerfd_settime(exitTimer, 0, &spec, nullptr) != 0) {
            std::fprintf(stderr, "devsim: timerfd_settime: %s\n", std::strerror(errno));
            return 1;
        }
    }

    devsim::DeviceSimulator sim;
    std::string error;
    if (!sim.start(options, &error)) {
        std::fprintf(stderr, "devsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", sim.slavePath().c_str());
    std::fflush(stdout);

    std::string input;  // a partial command line from stdin
    bool running = true;
    while (running) {
        pollfd fds[3] = {
            {signalFd, POLLIN, 0},
            {exitTimer, POLLIN, 0},
            {commands ? STDIN_FILENO : -1, POLLIN, 0},
        };
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "devsim: poll: %s\n", std::strerror(errno));
            break;
        }
        if (fds[0].revents || fds[1].revents)
            break;
        if (fds[2].revents) {
            char buffer[4096];
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                break;  // stdin closed: asked to stop
            input.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t eol; running && (eol = input.find('\n')) != std::string::npos;) {
                std::string line = input.substr(0, eol);
                input.erase(0, eol + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                running = RunCommand(line, sim);
            }
        }
    }

    sim.stop();
    int status = 0;
    const devsim::Status final = sim.status();
    if (!final.error.empty()) {
        std::fprintf(stderr, "devsim: %s\n", final.error.c_str());
        status = 1;
    }
    if (report)
        PrintReceived(sim);
    if (!hexPath.empty() && !WriteHex(sim.receivedBytes(), hexPath))
        status = 1;
    close(signalFd);
    close(exitTimer);
    return status;
}
