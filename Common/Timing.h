#pragma once
// Scope timer: logs its label and the elapsed time when destroyed.

#include <cstdint>
#include <string>

namespace Quendal {

class CTiming {
public:
    CTiming(const std::string& label, bool inMilliseconds);
    virtual ~CTiming();

    // Takes a new reading; the time since construction in the timer's unit.
    virtual int64_t Stop();
    // "ms" or "micros".
    virtual std::string GetUnit();

private:
    int64_t Elapsed() const;

    std::string label;
    bool inMilliseconds;
    int64_t startTicks;
    int64_t stopTicks;
};

} // namespace Quendal
