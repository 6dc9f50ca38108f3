// The font configuration read on a second thread while the application starts.
#pragma once

#include <thread>

// Reading the system's font configuration (its files and caches) takes several
// milliseconds, and the first control that lays out text waits for it. Made before
// QApplication, this reads it beside the application's own start; Qt later finds it read.
// The destructor waits for the reading to end.
class FontWarmUp {
public:
    FontWarmUp();
    ~FontWarmUp();
    FontWarmUp(const FontWarmUp &) = delete;
    FontWarmUp &operator=(const FontWarmUp &) = delete;

private:
    std::thread reading_;
};
