#include "callback_loop.h"

namespace tarvo::rt {

int CallbackLoop::run()
{
    QEventLoop loop;
    loop_ = &loop;
    running_ = true;
    quitRequested_ = false;
    quitCode_ = 0;
    queue_.clear();
    loop.exec();
    running_ = false;
    loop_ = nullptr;
    queue_.clear();
    return quitCode_;
}

void CallbackLoop::quit(int code)
{
    quitRequested_ = true;
    quitCode_ = code;
    queue_.clear();
    if (loop_)
        loop_->exit(code);  // takes effect once the calling callback returns
}

void CallbackLoop::dispatch(int control, int event, bool interactive)
{
    if (!running_ || quitRequested_)
        return;
    queue_.push_back({control, event, interactive});
    if (dispatching_)
        return;  // runs when the callback in progress returns
    dispatching_ = true;
    while (!queue_.empty() && !quitRequested_) {
        const Event e = queue_.front();
        queue_.pop_front();
        auto it = controls_.find(e.control);
        if (it == controls_.end() || !it->second.callback)
            continue;
        interactiveNow_ = e.interactive;
        it->second.callback(handle_, e.control, e.event, nullptr, 0, 0);
        interactiveNow_ = false;
    }
    dispatching_ = false;
}

}  // namespace tarvo::rt
