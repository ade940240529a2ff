#include "main/gui/qthost.h"

#include "config/config.h"
#include "data/registry.h"
#include "main/gui/kindwindows.h"
#include "main/gui/logwindow.h"
#include "main/gui/mainwindow.h"
#include "main/gui/menurender.h"
#include "params/gui/paramdialogwidget.h"
#include "plugins/gui/dialogwindow.h"
#include "scene/gui/offscreenrenderer.h"
#include "scene/gui/view3dwidget.h"
#include "scene/objectcommands.h"
#include "scene/scene.h"
#include "views/gui/imagewindow.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace vexa::gui {

QtHost::QtHost(MainWindow& main)
    : main_(main)
{
}

QtHost::~QtHost() = default;

void QtHost::post(std::function<void()> fn)
{
    QMetaObject::invokeMethod(qApp, std::move(fn), Qt::QueuedConnection);
}

WindowHandle QtHost::createWindow(DataRecord& record, GuiRequest code)
{
    QWidget* content = nullptr;
    auto* view3d = dynamic_cast<scene::View3dObject*>(record.kindObject());
    if (code == GuiRequest::OpenImage && record.image2d()) {
        content = new ImageWindow(record);
    } else if (code == GuiRequest::OpenView3d && view3d) {
        auto* view3dWindow = new View3dWindow(view3d->scene);
        View3dWidget* widget = view3dWindow->view();
        // The commands ask modal boxes, so they run here on the interface thread.
        QObject::connect(widget, &View3dWidget::objectCommandRequested, widget,
            [weakScene = std::weak_ptr<scene::Scene>(view3d->scene)](
                quint32 id, const QString& command) {
                if (auto target = weakScene.lock())
                    scene::runObjectCommand(*target, id, command.toStdString());
            });
        content = view3dWindow;
    } else if (QWidget* own = makeKindWindow(record)) {
        content = own;
    } else {
        // Kinds whose windows are not built yet show their title.
        auto* label = new QLabel(QString::fromStdString(dataTitle(&record)));
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumSize(240, 120);
        content = label;
    }
    QMdiSubWindow* window = main_.addDataWindow(content, QString::fromStdString(dataTitle(&record)),
        record.kind, record.block() != nullptr);
    main_.activateNewDataWindow(window, record);
    return window;
}

void QtHost::closeWindow(WindowHandle window)
{
    if (auto* sub = static_cast<QMdiSubWindow*>(window))
        sub->close();
}

void QtHost::setWindowTitle(WindowHandle window, const std::string& title)
{
    if (auto* sub = static_cast<QMdiSubWindow*>(window))
        sub->setWindowTitle(QString::fromStdString(title));
}

void QtHost::redraw(DataRecord& record)
{
    auto* sub = static_cast<QMdiSubWindow*>(record.window.load());
    if (!sub)
        return;
    if (auto* image = qobject_cast<ImageWindow*>(sub->widget()))
        image->reload();
    else
        sub->update();
}

void QtHost::refreshMenus(int)
{
    main_.rebuildMenus();
}

void QtHost::refreshLog()
{
    if (LogWindow* log = main_.logWindow())
        log->refresh();
}

MessageAnswer QtHost::messageBox(
    const std::string& caption, const std::string& text, MessageButtons buttons)
{
    const QString title = QString::fromStdString(caption);
    const QString body = QString::fromStdString(text);
    if (buttons == MessageButtons::Ok) {
        QMessageBox::warning(dialogOwner(), title, body);
        return MessageAnswer::Ok;
    }
    switch (QMessageBox::question(
        dialogOwner(), title, body, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    default:
        return MessageAnswer::Cancel;
    }
}

int QtHost::paramDialog(ParamBox* box)
{
    return runParamDialog(box, dialogOwner());
}

bool QtHost::chooseFile(const FileChoice& choice, std::string& path)
{
    const QString title = QString::fromStdString(choice.title);
    const QString filter = QString::fromStdString(choice.filter);
    const QString start = QString::fromStdString(choice.initialPath);
    const QString chosen = choice.save
        ? QFileDialog::getSaveFileName(dialogOwner(), title, start, filter)
        : QFileDialog::getOpenFileName(dialogOwner(), title, start, filter);
    if (chosen.isEmpty())
        return false;
    path = chosen.toStdString();
    return true;
}

int QtHost::chooseFromList(const std::string& title, const std::vector<std::string>& entries)
{
    // A list rather than a drop-down: long choosers (a study tree) stay readable, and the
    // chosen row is returned even where two entries read the same.
    QDialog dialog(dialogOwner());
    dialog.setObjectName(QStringLiteral("ListChooser"));
    dialog.setWindowTitle(QString::fromStdString(title));
    auto* list = new QListWidget(&dialog);
    for (const std::string& entry : entries)
        list->addItem(QString::fromStdString(entry));
    list->setCurrentRow(entries.empty() ? -1 : 0);
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(QStringLiteral("Ok"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Annuler"), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemActivated, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(list);
    layout->addWidget(buttons);
    const int width = std::max(250, list->sizeHintForColumn(0) + 48);
    dialog.resize(std::min(width, 800), 500);
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    return list->currentRow();
}

void QtHost::commandLine(const std::string& line)
{
    main_.handleCommandLine(QString::fromStdString(line));
}

QWidget* QtHost::dialogOwner() const
{
    // "MULTIPLE" window management frees dialogs from the main window.
    return config::dialogsWithoutOwner() ? nullptr : &main_;
}

int QtHost::popupMenu(WindowHandle window, int x, int y, const menus::MenuNode& menu)
{
    auto* sub = static_cast<QMdiSubWindow*>(window);
    QMenu popup(sub ? static_cast<QWidget*>(sub) : &main_);
    int chosen = 0;
    fillMenu(&popup, menu, [&chosen](int id) { chosen = id; });
    popup.exec(QPoint(x, y));
    return chosen;
}

bool QtHost::snapshotView3d(
    DataRecord& record, int width, int height, std::vector<std::uint8_t>& rgba)
{
    if (!offscreen_)
        offscreen_ = std::make_unique<OffscreenRenderer>();
    return renderViewRgba(*offscreen_, record, width, height, rgba);
}

bool QtHost::showDialog(std::uint32_t dialog, bool modal)
{
    return showPluginDialog(dialog, modal, dialogOwner());
}

void QtHost::dialogChanged(std::uint32_t dialog)
{
    refreshPluginDialog(dialog);
}

void QtHost::closeDialog(std::uint32_t dialog)
{
    closePluginDialog(dialog);
}

bool QtHost::screenToImageArea(DataRecord& record, int& x, int& y)
{
    auto* sub = static_cast<QMdiSubWindow*>(record.window.load());
    auto* image = sub ? qobject_cast<ImageWindow*>(sub->widget()) : nullptr;
    if (!image)
        return false;
    const QPoint local = image->canvas()->viewport()->mapFromGlobal(QPoint(x, y));
    x = local.x();
    y = local.y();
    return true;
}

} // namespace vexa::gui
