// The controls of a loaded panel: what kind of widget each is, and one small
// adapter per kind that reads, sets, refuses and wires it.
#pragma once

#include "runtime.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

class QComboBox;

namespace tarvo::rt {

enum class Kind { Button, Check, Spin, DoubleSpin, Combo, Text };

// The largest number typed into an editable combo box (a baud rate): nine
// digits keep every typed value within int.
constexpr std::int64_t kMaxTypedValue = 999'999'999;

struct Control {
    int id = 0;
    Kind kind = Kind::Button;
    QPointer<QWidget> widget;
    CtrlCallbackPtr callback = nullptr;
    QString callbackName;
    bool messageLine = false;
    QString committedText;  // editable combo box: its text at the last commit
    // What the program needs of this control (null: nothing), and the
    // numbers an editable combo box takes typed, within that.
    const ControlRequirement* need = nullptr;
    std::int64_t typedMin = 1, typedMax = kMaxTypedValue;
};

using ControlTable = std::map<int, Control>;

// The kind of control a widget can be; none for a widget that cannot be one.
std::optional<Kind> kindOf(QWidget* w);
bool holdsInteger(Kind k);

// The 32 bits of a value, as the program reads them through either overload
// of GetCtrlVal.
inline std::uint32_t low32Bits(std::int64_t v) { return static_cast<std::uint32_t>(v); }

// The number a text begins with ("115200", "9600 baud"), if any.
std::optional<std::int64_t> leadingNumber(const QString& text);
// The value of combo box item i: its data, else the number its text begins
// with, else its index.
std::int64_t itemValue(const QComboBox* box, int i);
// "only 5" or "1 to 8".
std::string rangeText(std::int64_t lo, std::int64_t hi);
// An object name quoted for a message.
std::string quotedName(const QString& name);

// What a control does when the user acts on it, for ControlAdapter::wire.
class ControlWiring {
public:
    // The user committed control `id`'s value or pressed it.
    virtual void committed(int id) = 0;
    // The user finished with combo box `id`: `always` for a chosen item, else
    // only when its text differs from the last committed one.
    virtual void comboCommitted(int id, bool always) = 0;
    // Some control's value changed (by anyone).
    virtual void valueChanged() = 0;
    // A combo box with `portList` set wants its items.
    virtual void fillPortList(QComboBox* box) = 0;

protected:
    ~ControlWiring() = default;
};

// One kind of control.
struct ControlAdapter {
    // The value the control holds, exact; none for buttons and texts.
    std::optional<std::int64_t> (*read)(const Control& c);
    // Why the control itself cannot take `v` ("" when it can).
    std::string (*refuse)(const Control& c, std::int64_t v);
    // Shows a value the control takes, as the program sets it.
    void (*set)(Control& c, std::int64_t v);
    // Why the control offers a value outside `need` ("" when it does not);
    // `takes` ends the reason. Sets an editable combo box's typed range.
    std::string (*misfit)(Control& c, const ControlRequirement& need, const std::string& takes);
    // Connects the user's actions on the control to `wiring`.
    void (*wire)(Control& c, ControlWiring& wiring);
};

const ControlAdapter& adapterOf(Kind kind);

// Why the control cannot take `v` ("" when it can): its own range, then
// what the program needs of it.
std::string refusal(const Control& c, std::int64_t v);

// The control whose callback is `callback`, if any.
const Control* boundTo(const ControlTable& controls, const QString& callback);

}  // namespace tarvo::rt
