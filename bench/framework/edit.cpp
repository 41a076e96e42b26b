// Cost per received byte of the receive area's calls: line count, length,
// caret to the end, scroll to the caret, insert the byte's text. The area is
// shown (offscreen unless a platform is chosen) at the receive area's size and
// font, and filled to its 400-line limit. The area paints at display rate, at
// most once a frame; at 115200 baud 184 bytes arrive in a 16 ms frame,
// so every 184 bytes pending events are processed and the area is painted
// once, and that cost is part of the figure per byte. Figures are per 50-line
// slice, so growth with the text shows; each is the best of several runs.
#include "framework/textedit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFontInfo>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kLineLimit = 400;
constexpr int kSliceLines = 50;
constexpr int kSlices = kLineLimit / kSliceLines;
constexpr int kRuns = 3;
constexpr int kFrameBytes = 184;

struct Slice {
    double microsPerByte = 0;  // everything, painting included
    double callsPerByte = 0;   // the five calls alone
    double microsPerFrame = 0; // one paint of the whole area
    long bytes = 0;
};

// Feeds byte texts until the area passes the limit; returns the cost of the
// bytes that took each slice of lines.
std::vector<Slice> fill(TextEditWidget& edit, const std::function<std::string(long)>& byteText)
{
    edit.setBytes({});
    QCoreApplication::processEvents();
    std::vector<Slice> slices(kSlices);
    QElapsedTimer clock;
    QElapsedTimer frameClock;
    int slice = 0;
    long sliceBytes = 0;
    long total = 0;
    qint64 frameNanos = 0;
    int frames = 0;
    clock.start();
    for (;;) {
        const int lines = edit.lineCount();
        if (lines >= (slice + 1) * kSliceLines) {
            const double all = clock.nsecsElapsed() / 1000.0;
            const double paint = frameNanos / 1000.0;
            slices[static_cast<size_t>(slice)] = {all / sliceBytes, (all - paint) / sliceBytes,
                                                  frames ? paint / frames : 0.0, sliceBytes};
            if (++slice == kSlices)
                break;
            sliceBytes = 0;
            frameNanos = 0;
            frames = 0;
            clock.restart();
        }
        const size_t length = edit.byteLength();
        edit.setByteSelection(length, length);
        edit.scrollToCaret();
        edit.replaceByteSelection(byteText(total));
        ++sliceBytes;
        if (++total % kFrameBytes == 0) {
            // One display frame: what the refresh timer would do, made to happen now.
            frameClock.start();
            QCoreApplication::processEvents();
            edit.viewport()->repaint();
            frameNanos += frameClock.nsecsElapsed();
            ++frames;
        }
    }
    return slices;
}

void report(const char* title, TextEditWidget& edit, const std::function<std::string(long)>& byteText)
{
    std::vector<Slice> best(kSlices, Slice{1e300, 0, 0, 0});
    for (int run = 0; run < kRuns; ++run) {
        const std::vector<Slice> slices = fill(edit, byteText);
        for (size_t i = 0; i < slices.size(); ++i) {
            if (slices[i].microsPerByte < best[i].microsPerByte)
                best[i] = slices[i];
        }
    }
    std::printf("%s\n  lines      bytes   us/byte  (calls us/byte, paint us/frame)\n", title);
    for (size_t i = 0; i < best.size(); ++i) {
        std::printf("  %3zu-%3zu %8ld %9.3f  (%.3f, %.1f)\n", i * kSliceLines, (i + 1) * kSliceLines,
                    best[i].bytes, best[i].microsPerByte, best[i].callsPerByte, best[i].microsPerFrame);
    }
    std::printf("  characters at the limit: %d\n", edit.length());
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    // 276 x 178 dialog units of the dialog's 9-point font.
    TextEditWidget edit;
    edit.setFont(QFont(QStringLiteral("AR PL UMing CN"), 9));
    edit.resize(414, 290);
    edit.show();
    QCoreApplication::processEvents();
    const QFontInfo info(edit.font());
    std::printf("area %dx%d pixels, font %s %d pt (%d px), platform %s\n", edit.width(), edit.height(),
                qPrintable(info.family()), info.pointSize(), info.pixelSize(),
                qPrintable(QGuiApplication::platformName()));

    const std::string line = "The quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJKLMNOPQRSTUVW\r\n";
    report("80-character lines ending in CR LF, one byte at a time:", edit,
           [&line](long i) { return std::string(1, line[static_cast<size_t>(i) % line.size()]); });

    report("one wrapped paragraph of hexadecimal pairs, \"XX \" per byte:", edit, [](long i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X ", static_cast<unsigned>(i % 256));
        return std::string(pair);
    });
    return 0;
}
