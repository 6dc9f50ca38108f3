#include "desktop/font_warm_up.h"

#include <fontconfig/fontconfig.h>

// Fontconfig's default configuration is made once per process and shared by every thread;
// two threads that make it at once keep one of the two.
FontWarmUp::FontWarmUp() : reading_([] { FcInit(); }) {}

FontWarmUp::~FontWarmUp()
{
    reading_.join();
}
