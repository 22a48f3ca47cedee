// Hints: texts the program computes from the panel's values, shown in text
// controls and computed again whenever a value changes.
#pragma once

#include "panel_controls.h"

#include <functional>
#include <vector>

namespace tarvo::rt {

class PanelHints {
public:
    // Shows a text in a control.
    using Show = std::function<void(Control&, const QString&)>;
    explicit PanelHints(Show show) : show_(std::move(show)) {}

    // Control `control`'s hint is `function` from now on (null: none).
    void install(int control, HintFunctionPtr function);
    void clear() { hints_.clear(); }
    // Computes every hint of panel `handle` again into `controls`.
    void refresh(ControlTable& controls, int handle);

private:
    struct Hint {
        int control;
        HintFunctionPtr function;
    };
    Show show_;
    std::vector<Hint> hints_;
    bool refreshing_ = false;
    bool again_ = false;
};

}  // namespace tarvo::rt
