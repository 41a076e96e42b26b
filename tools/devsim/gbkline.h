// Texts of the simulator in code page 936, from a file compiled with the GBK
// charset (which therefore includes no <chrono>, <thread> or <mutex>).
#pragma once

namespace devsim {

// "温度 25.0 度" (temperature 25.0 degrees), a line a Chinese device might send;
// the CR LF is added when it is sent.
extern const char kGbkTemperatureLine[];

} // namespace devsim
