// Which way the panel's widgets are built is decided here, and only here:
// TARVO_PANEL_COMPILED_IN (set by the build) chooses the form compiled in
// from resources/tarvo.uir, else Qt's form loader reads the file.
#include "panel_form.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <type_traits>

#if TARVO_PANEL_COMPILED_IN
#include "panel_form_compiled.h"  // generated: the uic form and the file's bytes
#else
#include <QUiLoader>
#endif

namespace tarvo::rt {

#if TARVO_PANEL_COMPILED_IN

namespace {

// A file saved with CR LF line ends (a Windows editor, a checkout that
// converts them) is the same panel.
QByteArray withLfLineEnds(QByteArray bytes) { return bytes.replace("\r\n", "\n"); }

// The widget class the form's top level is, from uic's setupUi(Top*).
template <typename Ui, typename Top>
Top* topOf(void (Ui::*)(Top*));
using FormTop = std::remove_pointer_t<decltype(topOf(&CompiledPanelForm::setupUi))>;

}  // namespace

bool panelCompiledIn() { return true; }

std::unique_ptr<QWidget> buildPanelForm(QFile& file, QString& error)
{
    const QByteArray compiled = withLfLineEnds(QByteArray::fromRawData(
        reinterpret_cast<const char*>(kCompiledPanelFile), sizeof kCompiledPanelFile));
    const QByteArray given = withLfLineEnds(file.readAll());
    if (given != compiled) {
        const auto end = std::min(given.size(), compiled.size());
        qsizetype at = 0;
        while (at < end && given[at] == compiled[at])
            ++at;
        const auto line = compiled.left(at).count('\n') + 1;
        error = QString(
                    "this program's panel is compiled in, and this file is not the one it was "
                    "built from (they differ from line %1 on): put back the %2 that came with "
                    "the program, or, to change the panel, rebuild the program with the "
                    "changed file as resources/tarvo.uir")
                    .arg(line)
                    .arg(QFileInfo(file.fileName()).fileName());
        return nullptr;
    }
    auto top = std::make_unique<FormTop>();
    CompiledPanelForm form;
    form.setupUi(top.get());
    return top;
}

#else

bool panelCompiledIn() { return false; }

std::unique_ptr<QWidget> buildPanelForm(QFile& file, QString& error)
{
    QUiLoader loader;
    loader.setWorkingDirectory(QFileInfo(file.fileName()).absoluteDir());
    std::unique_ptr<QWidget> top(loader.load(&file));
    if (!top)
        error = loader.errorString();
    return top;
}

#endif

}  // namespace tarvo::rt
