// The kinds of control and their adapters: each kind reads, sets, refuses a
// value and wires the user's actions in one place of its own.
#include "panel_controls.h"

#include "com_table.h"
#include "options.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QValidator>

#include <algorithm>
#include <climits>
#include <cmath>

namespace tarvo::rt {

namespace {

// Typed numbers of an editable combo box: digits, no leading zero, within
// [lo, hi] (lo >= 1). A number below lo may still grow into the range.
class TypedNumberValidator final : public QValidator {
public:
    TypedNumberValidator(std::int64_t lo, std::int64_t hi, QObject* parent)
        : QValidator(parent), lo_(lo), hi_(hi), digits_(static_cast<int>(std::to_string(hi).size()))
    {
    }
    State validate(QString& input, int&) const override
    {
        if (input.isEmpty())
            return Intermediate;
        if (input.size() > digits_ || input[0] == u'0')
            return Invalid;
        std::int64_t v = 0;
        for (QChar ch : input) {
            if (ch < u'0' || ch > u'9')
                return Invalid;
            v = v * 10 + (ch.unicode() - u'0');
        }
        if (v > hi_)
            return Invalid;
        return v < lo_ ? Intermediate : Acceptable;
    }

private:
    std::int64_t lo_, hi_;
    int digits_;
};

template <class Widget>
Widget* widgetOf(const Control& c)
{
    return static_cast<Widget*>(c.widget.data());
}

bool outside(const ControlRequirement& need, std::int64_t v)
{
    return v < need.minimum || v > need.maximum;
}

std::string className(const Control& c) { return c.widget->metaObject()->className(); }

std::string takesRange(std::int64_t lo, std::int64_t hi, std::int64_t v)
{
    if (v >= lo && v <= hi)
        return {};
    return "takes " + std::to_string(lo) + " to " + std::to_string(hi) + ", not " +
           std::to_string(v);
}

// A spin box's limits as the program reads them, and the first outside `need`.
std::string limitMisfit(std::int64_t minimum, std::int64_t maximum, const ControlRequirement& need,
                        const std::string& takes)
{
    if (outside(need, minimum))
        return "minimum is " + std::to_string(minimum) + takes;
    if (outside(need, maximum))
        return "maximum is " + std::to_string(maximum) + takes;
    return {};
}

// ---- nothing to read: buttons and texts ----------------------------------

std::optional<std::int64_t> readNothing(const Control&) { return std::nullopt; }
std::string refuseAll(const Control&, std::int64_t) { return "holds no integer"; }
void setNothing(Control&, std::int64_t) {}
std::string fitsAny(Control&, const ControlRequirement&, const std::string&) { return {}; }

// Buttons and check boxes: clicked, unlike toggled, comes from the user only.
void wireButton(Control& c, ControlWiring& wiring)
{
    auto* button = widgetOf<QAbstractButton>(c);
    const int id = c.id;
    QObject::connect(button, &QAbstractButton::clicked, button,
                     [&wiring, id] { wiring.committed(id); });
    QObject::connect(button, &QAbstractButton::toggled, button,
                     [&wiring] { wiring.valueChanged(); });
}

void wireText(Control& c, ControlWiring& wiring)
{
    const int id = c.id;
    if (auto* edit = qobject_cast<QLineEdit*>(c.widget.data()); edit && !edit->isReadOnly())
        QObject::connect(edit, &QLineEdit::editingFinished, edit,
                         [&wiring, id] { wiring.committed(id); });
}

// ---- check boxes ----------------------------------------------------------

std::optional<std::int64_t> readCheck(const Control& c)
{
    return widgetOf<QCheckBox>(c)->isChecked() ? 1 : 0;
}
std::string refuseCheck(const Control&, std::int64_t v)
{
    return v == 0 || v == 1 ? std::string() : "takes 0 or 1, not " + std::to_string(v);
}
void setCheck(Control& c, std::int64_t v) { widgetOf<QCheckBox>(c)->setChecked(v != 0); }
std::string misfitCheck(Control& c, const ControlRequirement& need, const std::string& takes)
{
    return outside(need, 0) || outside(need, 1)
               ? "class is " + className(c) + ", which offers 0 and 1" + takes
               : std::string();
}

// ---- spin boxes -----------------------------------------------------------

// The program reads a double spin box's value rounded to an integer.
std::int64_t rounded(double v)
{
    return static_cast<std::int64_t>(std::llround(std::clamp(v, -9e15, 9e15)));
}

// The number being typed, where the box would take it: the box commits a
// typed value only on Enter or on leaving it, but what it shows is what the
// user means (a hint follows it as it is typed).
template <class Box>
std::optional<double> typedValue(const Box* box)
{
    QString t = box->text();
    if (!box->prefix().isEmpty() && t.startsWith(box->prefix()))
        t.remove(0, box->prefix().size());
    if (!box->suffix().isEmpty() && t.endsWith(box->suffix()))
        t.chop(box->suffix().size());
    bool ok = false;
    const double v = box->locale().toDouble(t.trimmed(), &ok);
    if (!ok || v < box->minimum() || v > box->maximum())
        return std::nullopt;
    return v;
}

std::optional<std::int64_t> readSpin(const Control& c)
{
    const auto* box = widgetOf<QSpinBox>(c);
    const auto typed = typedValue(box);
    if (typed && *typed == std::floor(*typed))
        return static_cast<std::int64_t>(*typed);
    return box->value();
}
std::optional<std::int64_t> readDoubleSpin(const Control& c)
{
    const auto* box = widgetOf<QDoubleSpinBox>(c);
    const double v = std::round(typedValue(box).value_or(box->value()));
    return static_cast<std::int64_t>(std::clamp<double>(v, INT_MIN, UINT32_MAX));
}
std::string refuseSpin(const Control& c, std::int64_t v)
{
    auto* box = widgetOf<QSpinBox>(c);
    return takesRange(box->minimum(), box->maximum(), v);
}
std::string refuseDoubleSpin(const Control& c, std::int64_t v)
{
    auto* box = widgetOf<QDoubleSpinBox>(c);
    return takesRange(
        static_cast<std::int64_t>(std::ceil(std::max<double>(box->minimum(), INT_MIN))),
        static_cast<std::int64_t>(std::floor(std::min<double>(box->maximum(), UINT32_MAX))), v);
}
std::string misfitSpin(Control& c, const ControlRequirement& need, const std::string& takes)
{
    auto* box = widgetOf<QSpinBox>(c);
    return limitMisfit(box->minimum(), box->maximum(), need, takes);
}
std::string misfitDoubleSpin(Control& c, const ControlRequirement& need, const std::string& takes)
{
    auto* box = widgetOf<QDoubleSpinBox>(c);
    return limitMisfit(rounded(box->minimum()), rounded(box->maximum()), need, takes);
}

template <class Box>
void setSpin(Control& c, std::int64_t v)
{
    using Value = decltype(widgetOf<Box>(c)->value());
    widgetOf<Box>(c)->setValue(static_cast<Value>(v));
}

// Typing commits on Enter or on leaving the box, an arrow at once; hints
// follow the text as it is typed.
template <class Box>
void wireSpin(Control& c, ControlWiring& wiring)
{
    auto* box = widgetOf<Box>(c);
    const int id = c.id;
    box->setKeyboardTracking(false);
    QObject::connect(box, &Box::valueChanged, box, [&wiring, id] { wiring.committed(id); });
    QObject::connect(box, &Box::valueChanged, box, [&wiring] { wiring.valueChanged(); });
    // The box tells of new text only with a new value: its editor tells of
    // each key.
    if (auto* editor = box->template findChild<QLineEdit*>())
        QObject::connect(editor, &QLineEdit::textChanged, box,
                         [&wiring] { wiring.valueChanged(); });
}

// ---- combo boxes ----------------------------------------------------------

bool typedText(const QComboBox* box)
{
    return box->isEditable() &&
           (box->currentIndex() < 0 || box->currentText() != box->itemText(box->currentIndex()));
}

std::optional<std::int64_t> readCombo(const Control& c)
{
    auto* box = widgetOf<QComboBox>(c);
    if (typedText(box))
        return leadingNumber(box->currentText()).value_or(0);
    if (box->currentIndex() < 0)
        return std::nullopt;
    return itemValue(box, box->currentIndex());
}

std::string refuseCombo(const Control& c, std::int64_t v)
{
    auto* box = widgetOf<QComboBox>(c);
    const std::string sv = std::to_string(v);
    std::string values;
    for (int i = 0; i < box->count(); ++i) {
        if (itemValue(box, i) == v)
            return {};
        if (i < 12)
            values += (i ? ", " : "") + std::to_string(itemValue(box, i));
        else if (i == 12)
            values += ", ...";
    }
    if (box->isEditable())
        return v >= c.typedMin && v <= c.typedMax
                   ? std::string()
                   : "takes one of its items or " + rangeText(c.typedMin, c.typedMax) + ", not " +
                         sv;
    return "has no item with value " + sv + " (values: " + values + ")";
}

void setCombo(Control& c, std::int64_t v)
{
    auto* box = widgetOf<QComboBox>(c);
    int index = -1;
    for (int i = 0; i < box->count() && index < 0; ++i)
        if (itemValue(box, i) == v)
            index = i;
    if (index >= 0) {
        box->setCurrentIndex(index);
        if (box->isEditable())
            box->setEditText(box->itemText(index));
    } else {
        box->setEditText(QString::number(v));
    }
    c.committedText = box->currentText();
}

std::string misfitCombo(Control& c, const ControlRequirement& need, const std::string& takes)
{
    auto* box = widgetOf<QComboBox>(c);
    const bool portList = box->property("portList").toBool();
    if (portList) {
        // Filled at run time with the port numbers.
        if (outside(need, 1) || outside(need, kMaxPortNumber))
            return "portList is true, which offers port numbers 1 to " +
                   std::to_string(kMaxPortNumber) + takes;
    } else {
        if (box->count() == 0)
            return "it has no items" + takes;
        for (int i = 0; i < box->count(); ++i)
            if (const std::int64_t v = itemValue(box, i); outside(need, v))
                return "item " + quoteToken(box->itemText(i).toStdString()) + " has value " +
                       std::to_string(v) + takes;
    }
    if (box->isEditable()) {
        c.typedMin = std::max<std::int64_t>(1, need.minimum);
        c.typedMax = std::min<std::int64_t>(kMaxTypedValue, need.maximum);
        if (c.typedMin > c.typedMax)
            return "editable is true, which offers typed numbers from 1" + takes;
    }
    // What it shows at start is what Start reads, unless the user changes it.
    if (box->currentIndex() < 0 && !portList) {
        const std::optional<std::int64_t> typed =
            box->isEditable() ? leadingNumber(box->currentText()) : std::nullopt;
        if (!typed || *typed < c.typedMin || *typed > c.typedMax)
            return "currentIndex is -1 (no item chosen)" + takes;
    }
    return {};
}

void wireCombo(Control& c, ControlWiring& wiring)
{
    auto* box = widgetOf<QComboBox>(c);
    const int id = c.id;
    QObject::connect(box, &QComboBox::activated, box,
                     [&wiring, id] { wiring.comboCommitted(id, true); });
    // Hints follow a typed text as it is typed.
    QObject::connect(box, &QComboBox::currentIndexChanged, box,
                     [&wiring] { wiring.valueChanged(); });
    QObject::connect(box, &QComboBox::editTextChanged, box, [&wiring] { wiring.valueChanged(); });
    if (box->isEditable()) {
        // Other values may be typed; they stay out of the list.
        box->setInsertPolicy(QComboBox::NoInsert);
        if (!box->validator())
            box->setValidator(new TypedNumberValidator(c.typedMin, c.typedMax, box));
        QObject::connect(box->lineEdit(), &QLineEdit::editingFinished, box,
                         [&wiring, id] { wiring.comboCommitted(id, false); });
    }
    if (box->property("portList").toBool())
        wiring.fillPortList(box);
    c.committedText = box->currentText();
}

// In the order of Kind.
constexpr ControlAdapter kAdapters[] = {
    {readNothing, refuseAll, setNothing, fitsAny, wireButton},                  // Button
    {readCheck, refuseCheck, setCheck, misfitCheck, wireButton},                // Check
    {readSpin, refuseSpin, setSpin<QSpinBox>, misfitSpin, wireSpin<QSpinBox>},  // Spin
    {readDoubleSpin, refuseDoubleSpin, setSpin<QDoubleSpinBox>, misfitDoubleSpin,
     wireSpin<QDoubleSpinBox>},                                  // DoubleSpin
    {readCombo, refuseCombo, setCombo, misfitCombo, wireCombo},  // Combo
    {readNothing, refuseAll, setNothing, fitsAny, wireText},     // Text
};

}  // namespace

std::optional<Kind> kindOf(QWidget* w)
{
    if (qobject_cast<QCheckBox*>(w))
        return Kind::Check;
    if (qobject_cast<QAbstractButton*>(w))
        return Kind::Button;
    if (qobject_cast<QSpinBox*>(w))
        return Kind::Spin;
    if (qobject_cast<QDoubleSpinBox*>(w))
        return Kind::DoubleSpin;
    if (qobject_cast<QComboBox*>(w))
        return Kind::Combo;
    if (qobject_cast<QLineEdit*>(w) || qobject_cast<QLabel*>(w))
        return Kind::Text;
    return std::nullopt;
}

bool holdsInteger(Kind k)
{
    return k == Kind::Check || k == Kind::Spin || k == Kind::DoubleSpin || k == Kind::Combo;
}

const ControlAdapter& adapterOf(Kind kind) { return kAdapters[static_cast<int>(kind)]; }

std::optional<std::int64_t> leadingNumber(const QString& text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    const bool negative = i < t.size() && t[i] == u'-';
    if (negative)
        ++i;
    std::int64_t v = 0;
    qsizetype digits = 0;
    for (; i < t.size() && t[i].isDigit() && t[i].unicode() < 128; ++i, ++digits) {
        if (digits < 12)
            v = v * 10 + (t[i].unicode() - u'0');
    }
    if (digits == 0)
        return std::nullopt;
    v = negative ? -v : v;
    return std::clamp<std::int64_t>(v, INT_MIN, UINT32_MAX);
}

std::int64_t itemValue(const QComboBox* box, int i)
{
    bool ok = false;
    const qlonglong data = box->itemData(i).toLongLong(&ok);
    if (ok)
        return data;
    if (auto n = leadingNumber(box->itemText(i)))
        return *n;
    return i;
}

std::string rangeText(std::int64_t lo, std::int64_t hi)
{
    return lo == hi ? "only " + std::to_string(lo)
                    : std::to_string(lo) + " to " + std::to_string(hi);
}

std::string quotedName(const QString& name) { return quoteToken(name.toStdString()); }

std::string refusal(const Control& c, std::int64_t v)
{
    if (std::string why = adapterOf(c.kind).refuse(c, v); !why.empty())
        return why;
    // The panel was checked against the program's needs at load; this
    // holds the line should a control change since.
    if (c.need && c.need->kind == CTRL_INTEGER && holdsInteger(c.kind) && outside(*c.need, v))
        return "takes " + rangeText(c.need->minimum, c.need->maximum) + " (" +
               (c.need->what ? c.need->what : "the program's range") + "), not " +
               std::to_string(v);
    return {};
}

const Control* boundTo(const ControlTable& controls, const QString& callback)
{
    for (const auto& [id, c] : controls)
        if (c.callbackName == callback)
            return &c;
    return nullptr;
}

}  // namespace tarvo::rt
