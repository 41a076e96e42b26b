// A device on a pseudo-terminal: the other end of a serial line for tests,
// benchmarks and trying the program by hand.
//
// The simulator owns the pty master and plays the device behind it: it echoes
// what it receives, sends a line periodically, streams a number of bytes at a
// byte rate or floods them as fast as the reader takes them, records what it
// received, and can hang up (close the master) as an unplugged adapter does.
//
// When traffic starts. The simulator keeps its own descriptor of the slave open
// from start() to the hang-up, with the line in raw mode (no echo, no CR/LF
// translation), so the line never reads as hung up between the program's opens
// and the program inherits raw settings. Bytes written while nobody reads wait
// in the pty (about 11 KiB) and then the writer waits for room; nothing is lost
// and nothing spins. But a program purges its input when it opens the port,
// so bytes sent before that, or while its open is under way, are thrown away.
// Hence traffic (periodic line, stream, flood, the hang-up timer) begins on a
// start event: at once, when someone opens the slave (inotify IN_OPEN on the
// slave, which comes before that purge), or when the first byte arrives (after
// it); a start delay can follow the event. Echo and send() work from the
// beginning.
//
// Threads. Each simulator runs one thread of its own that waits in poll() on
// the master, an inotify descriptor, a timerfd and an eventfd; it never polls
// in a loop. Between start() and stop(), the other public members
// may be called from any thread; start() and stop() are the owner's.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>

#include "tools/devsim/gbkline.h"

namespace devsim {

enum class Payload {
    Text,     // numbered ASCII lines ending in CR LF
    Random,   // bytes from a seeded generator
    Pattern,  // 0, 1, ..., 255, 0, 1, ...
};

enum class StartOn {
    Now,        // when start() returns
    Open,       // when someone opens the slave
    FirstByte,  // when the first byte is received
};

struct Options {
    std::string linkPath{};        // a symbolic link to the slave made here; empty: none
    bool echo = false;             // send back every byte received
    std::string line{};            // sent every periodMs with CR LF added; "{n}" counts from 1
    unsigned periodMs = 0;         // 0: no periodic line
    std::uint64_t streamBytes = 0; // bytes to stream at rateBytesPerSecond
    std::uint64_t rateBytesPerSecond = 0;
    std::uint64_t floodBytes = 0;  // bytes to send as fast as they are taken
    Payload payload = Payload::Text;
    std::uint32_t seed = 1;        // for Payload::Random
    StartOn startOn = StartOn::Open;
    unsigned startDelayMs = 0;     // after the start event
    int hangUpAfterMs = -1;        // after the start (and its delay); negative: never
    bool keepReceived = false;     // keep the received bytes for receivedBytes()
    bool stalled = false;          // never read the line, as a device holding its
                                   // flow control: the program's writes back up
};

// The bytes a payload produces, in order; next(a) followed by next(b) gives
// the same bytes as next(a + b), so a receiver can rebuild what it should get.
class PayloadSource {
public:
    PayloadSource(Payload kind, std::uint32_t seed);
    std::string next(std::size_t count);

private:
    Payload m_kind;
    std::mt19937 m_random;
    std::uint64_t m_position = 0;
    std::uint64_t m_lineNumber = 0;
    std::string m_line;          // Text: the current line
    std::size_t m_lineOffset = 0;
};

// The line sent by Options::line with "{n}" replaced by the number, CR LF added.
std::string expandLine(std::string_view pattern, std::uint64_t number);

struct Status {
    std::uint64_t received = 0;  // bytes read from the line
    std::uint64_t sent = 0;      // bytes written to the line
    std::uint64_t opens = 0;     // opens of the slave seen
    bool started = false;        // the start event (and its delay) has passed
    bool trafficDone = false;    // the stream or flood has been written whole
    bool hungUp = false;         // the master is closed
    std::string error;           // why the simulator stopped early, if it did
};

class DeviceSimulator {
public:
    DeviceSimulator() = default;
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    // Creates the pty and the link and starts the thread. False, with the
    // reason in *err, when any of that fails; nothing is left behind then.
    bool start(const Options& options, std::string* err);

    // Ends the thread, closes the pty and removes the link (if it still
    // points at this simulator's slave). Safe to call more than once.
    void stop();

    std::string slavePath() const { return m_slavePath; }

    // Queues bytes to be written to the line.
    void send(std::string_view bytes);

    // Closes the master: the program's reads give 0 and its writes EIO.
    void hangUp();

    std::uint64_t received() const;
    std::string receivedBytes() const;
    Status status() const;

    // Waits until the condition holds or the timeout passes; true if it held.
    // The condition is checked on every change of the status.
    bool waitFor(const std::function<bool(const Status&)>& condition,
                 std::chrono::milliseconds timeout) const;

private:
    struct Loop;

    void run();
    bool takeRequests(Loop& loop);
    void beginIfDue(Loop& loop, std::int64_t now) const;
    void queueTraffic(Loop& loop, std::int64_t now) const;
    bool writePending(Loop& loop);
    void publish(const Loop& loop);
    bool waitAndServe(Loop& loop);
    void takeOpens(Loop& loop);
    bool readLine(Loop& loop);
    void unplug();
    bool openPty(std::string* err);
    bool openWakeUps(std::string* err);
    bool makeLink(std::string* err);
    void closePty();
    void removeLink();
    void fail(const std::string& what);

    Options m_options;
    std::string m_slavePath;
    int m_master = -1;
    int m_slave = -1;     // held open: see the comment at the top
    int m_inotify = -1;
    int m_timer = -1;
    int m_wake = -1;
    bool m_linkMade = false;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    Status m_status;
    std::string m_receivedBytes;
    std::string m_inbox;  // from send(), taken by the thread
    bool m_hangUpRequested = false;
    bool m_stopRequested = false;
};

} // namespace devsim
