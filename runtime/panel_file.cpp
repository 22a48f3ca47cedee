// Loading a panel file: the form built, the panel found by its `panelId`,
// every widget with a `ctrlId` made a control, and the controls checked
// against the program's table of requirements.
#include "panel_file.h"

#include "options.h"
#include "panel_form.h"
#include "panel_internal.h"
#include "qt_start.h"

#include <QCoreApplication>
#include <QDir>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace tarvo::rt {

namespace {

// The requirements LoadPanel checks: the program's, unless a test set others.
const ControlRequirement* gRequirements = nullptr;
int gRequirementCount = 0;
bool gRequirementsSet = false;

struct Requirements {
    const ControlRequirement* table;
    int count;
};

Requirements requirements()
{
    return gRequirementsSet ? Requirements{gRequirements, gRequirementCount}
                            : Requirements{ProgramControls, ProgramControlCount};
}

const ControlRequirement* requirementFor(int control)
{
    const auto [table, count] = requirements();
    for (int i = 0; table && i < count; ++i)
        if (table[i].control == control)
            return &table[i];
    return nullptr;
}

// An object name as a message shows it: as it stands when it is a plain
// identifier (as Designer makes them), else quoted.
std::string nameText(const QString& name)
{
    static const QRegularExpression plain("^[A-Za-z_][A-Za-z0-9_]{0,39}$");
    return plain.match(name).hasMatch() ? name.toStdString() : quoteToken(name.toStdString());
}

constexpr const char* kIntegerKinds =
    "the program reads an integer from it (a check box, spin box, double spin box or combo box)";
constexpr const char* kTextKinds = "the program sets a text in it (a line edit or a label)";

// Why control `c` cannot serve `need` ("" when it can): its kind, or a value
// it offers that the program cannot take.
std::string misfit(Control& c, const ControlRequirement& need)
{
    const std::string cls = c.widget->metaObject()->className();
    if (need.kind == CTRL_TEXT)
        return c.kind == Kind::Text ? std::string() : "class is " + cls + "; " + kTextKinds;
    if (need.kind != CTRL_INTEGER)
        return {};
    if (!holdsInteger(c.kind))
        return "class is " + cls + "; " + kIntegerKinds;
    return adapterOf(c.kind).misfit(c, need,
                                    "; the program takes " + rangeText(need.minimum, need.maximum));
}

// Every control the program reads or sets is on the panel and fits; else
// the first that does not, one line.
std::string checkRequirements(ControlTable& controls)
{
    const auto [table, count] = requirements();
    for (int i = 0; table && i < count; ++i) {
        const ControlRequirement& need = table[i];
        const std::string what = need.what ? need.what : "a setting";
        const std::string id = std::to_string(need.control);
        auto it = controls.find(need.control);
        if (it == controls.end())
            return "control " + id + " (" + what + "): no widget has ctrlId " + id + "; " +
                   (need.kind == CTRL_TEXT ? kTextKinds : kIntegerKinds);
        if (std::string why = misfit(it->second, need); !why.empty())
            return "control " + id + " (" + nameText(it->second.widget->objectName()) + ", " +
                   what + "): " + why;
    }
    return {};
}

CtrlCallbackPtr findCallback(const QString& name)
{
    const QByteArray utf8 = name.toUtf8();
    for (int i = 0; i < ProgramCallbackCount; ++i)
        if (ProgramCallbacks[i].name && utf8 == ProgramCallbacks[i].name)
            return ProgramCallbacks[i].function;
    return nullptr;
}

std::optional<int> intProperty(const QObject* o, const char* name)
{
    const QVariant v = o->property(name);
    if (!v.isValid())
        return std::nullopt;
    bool ok = false;
    const int i = v.toInt(&ok);
    return ok ? std::optional<int>(i) : std::nullopt;
}

// Gathers Qt's warnings while it lives; restores the previous message
// handler when it goes.
class WarningCapture {
public:
    explicit WarningCapture(QStringList& sink)
    {
        sink_ = &sink;
        previous_ = qInstallMessageHandler(&WarningCapture::handle);
    }
    ~WarningCapture()
    {
        qInstallMessageHandler(previous_);
        sink_ = nullptr;
    }
    WarningCapture(const WarningCapture&) = delete;
    WarningCapture& operator=(const WarningCapture&) = delete;

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& msg)
    {
        if (type == QtFatalMsg)
            quietQt(type, context, msg);
        if (type == QtDebugMsg || type == QtInfoMsg || !sink_)
            return;
        QString m = msg.trimmed();
        if (m.size() >= 2 && m.startsWith(u'"') && m.endsWith(u'"'))
            m = m.mid(1, m.size() - 2);
        if (m.startsWith("Designer: "))
            m = m.mid(10);
        sink_->append(m.simplified());
    }
    static inline QStringList* sink_ = nullptr;
    QtMessageHandler previous_ = nullptr;
};

PanelFile failure(const QString& why)
{
    PanelFile f;
    f.error = why;
    return f;
}

// The widget that is panel `resourceId`, taken out of the form `top`.
std::unique_ptr<QWidget> takePanel(std::unique_ptr<QWidget> top, int resourceId)
{
    if (intProperty(top.get(), "panelId") == resourceId)
        return top;
    for (QWidget* w : top->findChildren<QWidget*>())
        if (intProperty(w, "panelId") == resourceId) {
            w->setParent(nullptr);
            return std::unique_ptr<QWidget>(w);
        }
    return nullptr;
}

// The controls of `panel`, or the first widget that cannot be one.
QString collectControls(QWidget* panel, const QString& path, ControlTable& found)
{
    for (QWidget* w : panel->findChildren<QWidget*>()) {
        const QVariant idProperty = w->property("ctrlId");
        if (!idProperty.isValid())
            continue;
        const QString name = QString::fromStdString(quotedName(w->objectName()));
        const std::optional<int> id = intProperty(w, "ctrlId");
        if (!id || *id <= 0)
            return path + ": widget " + name + ": ctrlId must be a positive integer";
        const QString what = QString("control %1 (%2)").arg(*id).arg(name);
        if (auto it = found.find(*id); it != found.end())
            return path +
                   QString(": control id %1 is used twice (%2 and %3)")
                       .arg(*id)
                       .arg(QString::fromStdString(quotedName(it->second.widget->objectName())))
                       .arg(name);
        const std::optional<Kind> kind = kindOf(w);
        if (!kind)
            return path + ": " + what + ": a " + w->metaObject()->className() +
                   " cannot be a control";
        Control c;
        c.id = *id;
        c.kind = *kind;
        c.widget = w;
        c.callbackName = w->property("callback").toString();
        c.messageLine = w->property("messageLine").toBool();
        if (!c.callbackName.isEmpty() && !(c.callback = findCallback(c.callbackName)))
            return path + ": " + what + " names callback " +
                   QString::fromStdString(quotedName(c.callbackName)) +
                   ", which the program does not have";
        c.need = requirementFor(c.id);
        found.emplace(c.id, std::move(c));
    }
    return {};
}

}  // namespace

void setControlRequirements(const ControlRequirement* table, int count)
{
    gRequirementsSet = table != nullptr;
    gRequirements = table;
    gRequirementCount = table ? count : 0;
}

QStringList panelFilePlaces(const QString& file)
{
    if (!QFileInfo(file).isRelative())
        return {file};
    // Beside the program (the build tree, the Windows folder), then the
    // installed data folder relative to the program (a prefix moved elsewhere
    // keeps working), then the data folder the build was configured for.
    const QDir bin(QCoreApplication::applicationDirPath());
    QStringList places{bin.filePath(file), QDir::cleanPath(bin.filePath("../share/tarvo/" + file))};
#ifdef TARVO_DATADIR
    const QString configured = QDir::cleanPath(QStringLiteral(TARVO_DATADIR "/") + file);
    if (!places.contains(configured))
        places << configured;
#endif
    return places;
}

PanelFile loadPanelFile(const char* file, int resourceId)
{
    const QStringList places = panelFilePlaces(QFile::decodeName(file));
    QString path = places.first();
    if (places.size() > 1) {
        const auto found = std::find_if(places.begin(), places.end(),
                                        [](const QString& p) { return QFileInfo::exists(p); });
        if (found == places.end())
            return failure("cannot open panel file " + QFile::decodeName(file) +
                           ": not found; looked in " + places.join(", "));
        path = *found;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return failure("cannot open panel file " + path + ": " + f.errorString());

    QStringList warnings;
    std::unique_ptr<QWidget> top;
    {
        // The form builder reports what it cannot build only as warnings;
        // gather them, so that a damaged file fails with one line.
        WarningCapture capture(warnings);
        QString error;
        top = buildPanelForm(f, error);
        if (!top && !error.isEmpty())
            warnings.prepend(error);
    }
    if (!top || !warnings.isEmpty())
        return failure(path + ": " + (warnings.isEmpty() ? "not a panel file" : warnings.first()));

    PanelFile loaded;
    loaded.root = takePanel(std::move(top), resourceId);
    if (!loaded.root)
        return failure(path + QString(": no panel %1 (no widget with panelId %1)").arg(resourceId));
    if (QString why = collectControls(loaded.root.get(), path, loaded.controls); !why.isEmpty())
        return failure(why);
    if (const std::string why = checkRequirements(loaded.controls); !why.empty())
        return failure(path + ": " + QString::fromStdString(why));
    if (f.seek(0))
        loaded.digest =
            QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex().left(16);
    return loaded;
}

}  // namespace tarvo::rt
