#include "panel_values.h"

#include "unattended.h"

#include <QLabel>
#include <QLineEdit>
#include <QThread>

namespace tarvo::rt {

Control* LoadedPanel::find(int panel, int control, int& err)
{
    if (!matches(panel)) {
        err = UIE_BAD_PANEL;
        return nullptr;
    }
    auto it = controls.find(control);
    if (it == controls.end() || !it->second.widget) {
        err = UIE_BAD_CONTROL;
        return nullptr;
    }
    return &it->second;
}

Control* LoadedPanel::findText(int panel, int control, int& err)
{
    Control* c = find(panel, control, err);
    if (c && c->kind != Kind::Text) {
        err = UIE_BAD_TYPE;
        return nullptr;
    }
    return c;
}

bool PanelValues::onMainThread() const { return QThread::currentThread() == thread(); }

int PanelValues::get(int panel, int control, std::uint32_t& out)
{
    if (!onMainThread())
        return UIE_BAD_PANEL;  // widgets belong to the main thread
    int err = UIE_NO_ERROR;
    Control* c = panel_.find(panel, control, err);
    if (!c)
        return err;
    showPosted();  // a value another thread set arrives first
    const std::optional<std::int64_t> v = adapterOf(c->kind).read(*c);
    if (!v)
        return UIE_BAD_TYPE;
    out = low32Bits(*v);
    return UIE_NO_ERROR;
}

int PanelValues::setNumber(int panel, int control, std::int64_t value, bool fromInt)
{
    if (!onMainThread())
        return post(panel, control, PostedValue{false, {}, value, fromInt});
    int err = UIE_NO_ERROR;
    Control* c = panel_.find(panel, control, err);
    if (!c)
        return err;
    posted_.drop(control);
    if (fromInt && c->kind == Kind::DoubleSpin)
        value = low32Bits(value);
    err = apply(*c, value);
    if (err == UIE_NO_ERROR)
        c->widget->repaint();
    return err;
}

int PanelValues::setText(int panel, int control, const QString& text)
{
    if (!onMainThread())
        return post(panel, control, PostedValue{true, text, 0, false});
    int err = UIE_NO_ERROR;
    Control* c = panel_.findText(panel, control, err);
    if (!c)
        return err;
    posted_.drop(control);
    applyText(*c, text);
    // A text set just before the main thread blocks must be on screen.
    c->widget->repaint();
    return UIE_NO_ERROR;
}

int PanelValues::apply(Control& c, std::int64_t v)
{
    if (c.kind == Kind::Text) {
        applyText(c, QString::number(v));
        return UIE_NO_ERROR;
    }
    if (!refusal(c, v).empty())
        return UIE_BAD_TYPE;
    byProgram_ = true;
    adapterOf(c.kind).set(c, v);
    byProgram_ = false;
    return UIE_NO_ERROR;
}

void PanelValues::applyText(Control& c, const QString& text, bool echoed)
{
    if (auto* edit = qobject_cast<QLineEdit*>(c.widget.data())) {
        edit->setText(text);
        edit->setCursorPosition(0);  // show the start of a long message
    } else if (auto* label = qobject_cast<QLabel*>(c.widget.data())) {
        label->setText(text);
    }
    if (c.messageLine && !echoed)
        echo_.say(text);
}

int PanelValues::post(int panel, int control, PostedValue p)
{
    return posted_.post(panel, control, std::move(p), echo_, [this] {
        QMetaObject::invokeMethod(
            this, [this] { showPosted(); }, Qt::QueuedConnection);
    });
}

void PanelValues::showPosted()
{
    for (auto& [id, p] : posted_.take()) {
        auto it = panel_.controls.find(id);
        if (it == panel_.controls.end() || !it->second.widget)
            continue;
        Control& c = it->second;
        if (p.isText)
            applyText(c, p.text, true);
        else if (c.kind == Kind::Text)
            applyText(c, QString::number(p.value), true);
        else
            apply(c, p.value);
    }
}

}  // namespace tarvo::rt
