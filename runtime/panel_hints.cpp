#include "panel_hints.h"

namespace tarvo::rt {

void PanelHints::install(int control, HintFunctionPtr function)
{
    std::erase_if(hints_, [control](const Hint& h) { return h.control == control; });
    if (function)
        hints_.push_back({control, function});
}

void PanelHints::refresh(ControlTable& controls, int handle)
{
    if (hints_.empty())
        return;
    if (refreshing_) {
        again_ = true;  // a value changed while a hint read the controls
        return;
    }
    refreshing_ = true;
    // A hint reads controls, which may bring in values other threads set; a
    // few rounds settle it, and a hint that keeps changing values cannot
    // loop for ever.
    for (int round = 0; round < 3; ++round) {
        again_ = false;
        for (const Hint& h : std::vector<Hint>(hints_)) {
            auto it = controls.find(h.control);
            if (it == controls.end() || !it->second.widget)
                continue;
            char text[256] = {};
            const int r = h.function(handle, text, sizeof text);
            text[sizeof text - 1] = 0;
            show_(it->second, r < 0 ? QString() : QString::fromUtf8(text));
        }
        if (!again_)
            break;
    }
    refreshing_ = false;
}

}  // namespace tarvo::rt
