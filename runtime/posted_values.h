// Values that threads other than the main one set on the panel: checked at
// once against the panel's controls, kept (the latest per control) and shown
// when the main thread gets to them.
#pragma once

#include "panel_controls.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace tarvo::rt {

class MessageLineEcho;

struct PostedValue {
    bool isText = false;
    QString text;
    std::int64_t value = 0;
    bool fromInt = false;  // from a signed int: an unsigned control reads its 32 bits
};

class PostedValues {
public:
    // The panel other threads may set: its identity and its controls' kinds,
    // fixed from load to discard.
    void open(int handle, int resourceId, const ControlTable& controls);
    // No panel: what is pending is dropped.
    void close();

    // Keeps `p` as control `control`'s latest value; the message line's is
    // echoed at once, in the callers' order. `wake` asks the main thread to
    // take the values: at most one request is on its way, however fast the
    // callers write. Returns a UIE_ code.
    int post(int panel, int control, PostedValue p, MessageLineEcho& echo,
             const std::function<void()>& wake);
    // What is pending, for the main thread to show.
    std::map<int, PostedValue> take();
    // A value the main thread set itself replaces one on its way.
    void drop(int control);

private:
    std::mutex mutex_;
    int handle_ = 0;
    int resourceId_ = 0;
    std::map<int, Kind> kinds_;
    int messageLine_ = 0;
    std::map<int, PostedValue> pending_;
    bool wakeRequested_ = false;
};

}  // namespace tarvo::rt
