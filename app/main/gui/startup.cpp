#include "main/gui/startup.h"

#include "config/config.h"
#include "main/corestart.h"
#include "main/gui/mainwindow.h"
#include "main/gui/qthost.h"
#include "params/gui/paramdialogwidget.h"
#include "scene/gui/animplayer.h"

#include <QApplication>
#include <QTimer>

namespace vexa::gui {

QString programDirectory()
{
    return QCoreApplication::applicationDirPath();
}

Workstation::Workstation(const QString& programDir, const QString& commandLine)
{
    CoreStart start;
    start.programDir = programDir.toStdString();
    start.commandLine = commandLine.toStdString();
    start.createInterface = [this, &programDir]() -> Host* {
        main_ = std::make_unique<MainWindow>(programDir);
        host_ = std::make_unique<QtHost>(*main_);
        installParamPresenters(
            [this]() -> QWidget* { return config::dialogsWithoutOwner() ? nullptr : main_.get(); });
        installAnimationPlayer();
        return host_.get();
    };
    start.menusChanged = [this] { main_->rebuildMenus(); };
    commandLine_ = QString::fromStdString(coreStart(start));
}

Workstation::~Workstation()
{
    shutdown();
}

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
    CoreStop stop;
    stop.pump = [] { QCoreApplication::processEvents(); };
    stop.closeWindows = [this] { main_->close(); };
    coreStop(stop);
}

} // namespace vexa::gui
