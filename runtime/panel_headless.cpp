// The panel calls without a window, for builds without Qt (the cross-built
// Windows core): the program directories link and run unchanged, their
// control values live in a table in memory and every new text is echoed to
// stdout as "message: TEXT", so a run can be followed on a console.
//
// There is no panel file and no event source: LoadPanel makes an empty panel
// whose controls come into being when first set, and RunUserInterface waits
// until some thread calls QuitUserInterface.
#include "options.h"
#include "panel_internal.h"
#include "runtime.h"
#include "startup.h"
#include "std_streams.h"

#include <condition_variable>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tarvo::rt {

namespace {

using Value = std::variant<std::int64_t, std::string>;

class HeadlessPanel {
public:
    int load(int resourceId)
    {
        std::lock_guard lock(mutex_);
        if (resourceId <= 0)
            return UIE_BAD_PANEL;
        panel_ = resourceId;
        controls_.clear();
        return panel_;
    }

    int discard(int panel)
    {
        std::lock_guard lock(mutex_);
        if (!valid(panel))
            return UIE_BAD_PANEL;
        panel_ = 0;
        controls_.clear();
        dimmed_.clear();
        return UIE_NO_ERROR;
    }

    int display(int panel)
    {
        std::lock_guard lock(mutex_);
        return valid(panel) ? UIE_NO_ERROR : UIE_BAD_PANEL;
    }

    int set(int panel, int control, Value v)
    {
        std::lock_guard lock(mutex_);
        if (!valid(panel))
            return UIE_BAD_PANEL;
        if (control <= 0)
            return UIE_BAD_CONTROL;
        auto [it, added] = controls_.try_emplace(control, v);
        if (!added && it->second.index() != v.index())
            return UIE_BAD_TYPE;
        const bool changed = added || it->second != v;
        it->second = std::move(v);
        // Handed to the echo's writer: no thread waits on stdout.
        if (changed && std::holds_alternative<std::string>(it->second) && echo_)
            MessageEcho::instance().post("message: " + std::get<std::string>(it->second) + "\n");
        return UIE_NO_ERROR;
    }

    // The 32 bits of an integer control, as either overload reads them.
    int get(int panel, int control, std::uint32_t* out)
    {
        std::lock_guard lock(mutex_);
        if (!valid(panel))
            return UIE_BAD_PANEL;
        const auto it = controls_.find(control);
        if (it == controls_.end())
            return UIE_BAD_CONTROL;
        if (!std::holds_alternative<std::int64_t>(it->second))
            return UIE_BAD_TYPE;
        *out = static_cast<std::uint32_t>(std::get<std::int64_t>(it->second));
        return UIE_NO_ERROR;
    }

    int run()
    {
        std::unique_lock lock(mutex_);
        quit_.wait(lock, [&] { return quitRequested_; });
        quitRequested_ = false;
        return returnCode_;
    }

    int quit(int code)
    {
        std::lock_guard lock(mutex_);
        quitRequested_ = true;
        returnCode_ = code;
        quit_.notify_all();
        return 0;
    }

    // Dimming only remembers: no user and no script acts here.
    int setDimmed(int panel, int control, int attribute, int value)
    {
        std::lock_guard lock(mutex_);
        if (const int err = checkDimmed(panel, control, attribute))
            return err;
        dimmed_[control] = value != 0;
        return UIE_NO_ERROR;
    }

    int dimmed(int panel, int control, int attribute, int* value)
    {
        std::lock_guard lock(mutex_);
        if (const int err = checkDimmed(panel, control, attribute))
            return err;
        if (!value)
            return UIE_BAD_TYPE;
        const auto it = dimmed_.find(control);
        *value = it != dimmed_.end() && it->second ? 1 : 0;
        return UIE_NO_ERROR;
    }

    // Null: no echo.
    void setEcho(std::FILE* stream)
    {
        if (stream)
            MessageEcho::instance().setStream(stream);  // may wait: outside mutex_
        std::lock_guard lock(mutex_);
        echo_ = stream;
    }

private:
    bool valid(int panel) const { return panel_ > 0 && panel == panel_; }
    int checkDimmed(int panel, int control, int attribute) const
    {
        if (!valid(panel))
            return UIE_BAD_PANEL;
        if (control <= 0)
            return UIE_BAD_CONTROL;
        return attribute == ATTR_DIMMED ? UIE_NO_ERROR : UIE_BAD_ATTRIBUTE;
    }

    std::mutex mutex_;
    std::condition_variable quit_;
    int panel_ = 0;
    std::map<int, Value> controls_;
    std::map<int, bool> dimmed_;
    std::FILE* echo_ = stdout;
    bool quitRequested_ = false;
    int returnCode_ = 0;
};

// Never destroyed: the sampling thread may set a text while the process exits.
HeadlessPanel& panel()
{
    static HeadlessPanel* p = new HeadlessPanel;
    return *p;
}

}  // namespace

void setMessageEchoStream(std::FILE* stream) { panel().setEcho(stream); }

bool flushMessageEcho(double seconds) { return MessageEcho::instance().drain(seconds); }

}  // namespace tarvo::rt

using tarvo::rt::panel;

// The command line as the Qt build takes it; Qt's own options are accepted
// and have nothing to act on. An unattended script needs the panel file's
// controls and callbacks, so it is refused here.
int InitRunTime(void* /*instance*/, char** argv, void* /*reserved*/)
{
    using namespace tarvo::rt;
    const std::optional<Options> o = readCommandLine(argv);
    if (!o)
        return 0;
    if (!o->scriptFile.empty()) {
        std::fprintf(stderr, "tarvo: --script needs the panel, and this build has none\n");
        return 0;
    }
    mapComDevices(*o);
    return 1;
}

int LoadPanel(int /*parent*/, const char* /*file*/, int resourceId)
{
    return panel().load(resourceId);
}
int DisplayPanel(int p) { return panel().display(p); }
int DiscardPanel(int p) { return panel().discard(p); }
int RunUserInterface() { return panel().run(); }
int QuitUserInterface(int returnCode) { return panel().quit(returnCode); }

namespace {

// A numeric control's value as the caller's type; *value is left alone on an
// error.
template <typename T>
int getNumber(int p, int control, T* value)
{
    if (!value)
        return UIE_BAD_TYPE;
    std::uint32_t v = 0;
    const int r = panel().get(p, control, &v);
    if (r == UIE_NO_ERROR)
        *value = static_cast<T>(v);
    return r;
}

}  // namespace

int GetCtrlVal(int p, int control, unsigned int* value) { return getNumber(p, control, value); }
int GetCtrlVal(int p, int control, int* value) { return getNumber(p, control, value); }

int SetCtrlVal(int p, int control, const char* text)
{
    return panel().set(p, control, std::string(text ? text : ""));
}
int SetCtrlVal(int p, int control, int value)
{
    return panel().set(p, control, std::int64_t{value});
}
int SetCtrlVal(int p, int control, unsigned int value)
{
    return panel().set(p, control, std::int64_t{value});
}

int SetCtrlAttribute(int p, int control, int attribute, int value)
{
    return panel().setDimmed(p, control, attribute, value);
}
int GetCtrlAttribute(int p, int control, int attribute, int* value)
{
    return panel().dimmed(p, control, attribute, value);
}

// No window to ask in: every question gets the answer of its Escape key, and
// no event comes from a person.
int GenericMessagePopup(const char* /*title*/, const char* /*message*/, const char* /*button1*/,
                        const char* /*button2*/, const char* /*button3*/, int escapeButton)
{
    return escapeButton;
}
int InteractiveEvent(void) { return 0; }

// Without a window there is nothing to remember between runs, and no box to
// start again with: every run starts from the program's values.
int RememberPanelSettings(int /*panel*/) { return 0; }

int RecallPanelSettings(int /*panel*/) { return 0; }

int StartProgramAgain(int /*panel*/) { return 0; }
