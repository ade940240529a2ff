#include "main/gui/startup.h"

#include "config/config.h"
#include "data/registry.h"
#include "data/section.h"
#include "display/palettelist.h"
#include "tasks/frametimer.h"
#include "tasks/taskcontext.h"
#include "main/gui/mainwindow.h"
#include "main/gui/qthost.h"
#include "main/logmodel.h"
#include "params/gui/paramdialogwidget.h"
#include "plugins/libraries.h"
#include "tasks/workerthread.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

#include <chrono>

namespace vexa::gui {

QString programDirectory()
{
    return QCoreApplication::applicationDirPath();
}

Workstation::Workstation(const QString& programDir, const QString& commandLine)
{
    std::string line = commandLine.toStdString();
    config::setConfigPath(QDir(programDir).filePath(QString::fromUtf8(config::kConfigFileName)).toStdString().c_str());
    config::applyConfigOption(line);
    commandLine_ = QString::fromStdString(line);

    // Built-in palettes and the colormap files beside the program.
    buildPaletteList(programDir.toStdString());
    if (const PaletteRecord* first = paletteAt(0)) {
        setFirstPalette({first->family, first->variant});
        setDefaultPalette({first->family, first->variant});
    }
    setPaletteTableProvider([](PaletteRef palette, PaletteTable& out) {
        ColourTable table;
        if (!copyPaletteTable(palette.family, palette.variant, table))
            return false;
        for (int i = 0; i < 256; ++i) {
            out[i][0] = table[i].blue;
            out[i][1] = table[i].green;
            out[i][2] = table[i].red;
            out[i][3] = 0;
        }
        return true;
    });

    main_ = std::make_unique<MainWindow>(programDir);
    host_ = std::make_unique<QtHost>(*main_);
    installHost(host_.get());
    // Commands run on this thread get its context.
    taskMainContext();
    installParamPresenters([this]() -> QWidget* { return config::dialogsWithoutOwner() ? nullptr : main_.get(); });

    // Lines posted by workers are applied on the GUI thread.
    log::messageLog().setPostNotifier([] {
        QMetaObject::invokeMethod(qApp, [] { log::messageLog().drainPosted(); }, Qt::QueuedConnection);
    });

    frametimer::setInterfaceRunner([](std::function<void()> fn) { postToInterfaceThread(GuiRequest::OpenWindow, std::move(fn)); });

    // Libraries insert menus into the bars: every change rebuilds them.
    plugins::setProgramDirectory(programDir.toStdString());
    plugins::setMenusChangedListener([this] { main_->rebuildMenus(); });
    plugins::loadConfiguredLibraries();
}

Workstation::~Workstation() { shutdown(); }

void Workstation::show()
{
    main_->show();
    const QString line = commandLine_;
    QTimer::singleShot(0, main_.get(), [this, line] { main_->handleCommandLine(line); });
}

void Workstation::shutdown()
{
    if (down_)
        return;
    down_ = true;
    // Tasks first: they may still ask the GUI thread for work while finishing.
    taskWaitForWorkers([] { QCoreApplication::processEvents(); }, std::chrono::seconds(30));
    plugins::unloadAllLibraries();
    plugins::setMenusChangedListener({});
    main_->close();
    dataResetRegistry();
    log::messageLog().setPostNotifier({});
    frametimer::setInterfaceRunner({});
    setPaletteTableProvider({});
    installHost(nullptr);
    releasePaletteList();
}

} // namespace vexa::gui
