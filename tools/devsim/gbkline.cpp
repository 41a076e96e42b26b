#include "tools/devsim/gbkline.h"

namespace devsim {

const char kGbkTemperatureLine[] = "温度 25.0 度";

} // namespace devsim
