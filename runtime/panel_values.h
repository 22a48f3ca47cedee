// The values of the loaded panel's controls: read and set on the main
// thread, set from any other through PostedValues.
#pragma once

#include "panel_controls.h"
#include "posted_values.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

namespace tarvo::rt {

class MessageLineEcho;

// The panel as loaded: its widget, handle, resource id and controls.
struct LoadedPanel {
    std::unique_ptr<QWidget> root;  // null: no panel
    int handle = 0;
    int resourceId = 0;
    ControlTable controls;

    // `panel` is this panel's handle or resource id.
    bool matches(int panel) const
    {
        return root && panel > 0 && (panel == handle || panel == resourceId);
    }
    // Control `control` of panel `panel`, or null with a UIE_ code in `err`.
    Control* find(int panel, int control, int& err);
    // As find, for a control that shows a text (else UIE_BAD_TYPE).
    Control* findText(int panel, int control, int& err);
};

class PanelValues final : public QObject {
public:
    PanelValues(LoadedPanel& panel, MessageLineEcho& echo) : panel_(panel), echo_(echo) {}

    // GetCtrlVal and SetCtrlVal: UIE_ codes.
    int get(int panel, int control, std::uint32_t& out);
    // `value` is exact (INT_MIN..UINT32_MAX); `fromInt` tells that it came
    // from a signed int, which an unsigned control reads as its 32 bits.
    int setNumber(int panel, int control, std::int64_t value, bool fromInt);
    int setText(int panel, int control, const QString& text);

    // Sets a control as the program does: no callback.
    int apply(Control& c, std::int64_t v);
    // `echoed`: the text already went to the echo when another thread set it.
    void applyText(Control& c, const QString& text, bool echoed = false);

    // While true, the program, not the user, changes values: no callback.
    bool byProgram() const { return byProgram_; }
    void setByProgram(bool on) { byProgram_ = on; }

    // Other threads' values: opened at load, closed at discard.
    PostedValues& posted() { return posted_; }

private:
    bool onMainThread() const;
    int post(int panel, int control, PostedValue p);
    void showPosted();

    LoadedPanel& panel_;
    MessageLineEcho& echo_;
    PostedValues posted_;
    bool byProgram_ = false;
};

}  // namespace tarvo::rt
