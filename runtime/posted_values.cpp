#include "posted_values.h"

#include "unattended.h"

namespace tarvo::rt {

void PostedValues::open(int handle, int resourceId, const ControlTable& controls)
{
    std::lock_guard lock(mutex_);
    handle_ = handle;
    resourceId_ = resourceId;
    kinds_.clear();
    messageLine_ = 0;
    for (const auto& [id, c] : controls) {
        kinds_[id] = c.kind;
        if (c.messageLine)
            messageLine_ = id;
    }
}

void PostedValues::close()
{
    std::lock_guard lock(mutex_);
    handle_ = resourceId_ = messageLine_ = 0;
    kinds_.clear();
    pending_.clear();
}

int PostedValues::post(int panel, int control, PostedValue p, MessageLineEcho& echo,
                       const std::function<void()>& wake)
{
    std::lock_guard lock(mutex_);
    if (panel <= 0 || (panel != handle_ && panel != resourceId_))
        return UIE_BAD_PANEL;
    auto it = kinds_.find(control);
    if (it == kinds_.end())
        return UIE_BAD_CONTROL;
    if (p.isText && it->second != Kind::Text)
        return UIE_BAD_TYPE;
    if (!p.isText && !holdsInteger(it->second) && it->second != Kind::Text)
        return UIE_BAD_TYPE;
    if (!p.isText && p.fromInt && it->second == Kind::DoubleSpin)
        p.value = low32Bits(p.value);
    // Echoed now, in the callers' order, although the panel may show only
    // the latest of several texts.
    if (control == messageLine_)
        echo.say(p.isText ? p.text : QString::number(p.value));
    pending_[control] = std::move(p);
    if (!wakeRequested_) {
        wakeRequested_ = true;
        wake();
    }
    return UIE_NO_ERROR;
}

std::map<int, PostedValue> PostedValues::take()
{
    std::map<int, PostedValue> todo;
    std::lock_guard lock(mutex_);
    todo.swap(pending_);
    wakeRequested_ = false;
    return todo;
}

void PostedValues::drop(int control)
{
    std::lock_guard lock(mutex_);
    pending_.erase(control);
}

}  // namespace tarvo::rt
