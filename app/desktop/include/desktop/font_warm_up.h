// The font configuration read on a second thread while the application starts.
#pragma once

#include <thread>

// Reading the system's font configuration (its files and caches) takes several
// milliseconds, and the first control that lays out text waits for it. Made once the
// environment and the C library's locale are set (after QApplication), this reads it while
// the window's controls are made; Qt later finds it read. The destructor waits for the
// reading to end.
class FontWarmUp {
public:
    FontWarmUp();
    ~FontWarmUp();
    FontWarmUp(const FontWarmUp &) = delete;
    FontWarmUp &operator=(const FontWarmUp &) = delete;

private:
    std::thread reading_;
};
