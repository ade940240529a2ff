// The workstation's host: the core's requests carried out with Qt widgets on the GUI
// thread. Window handles are the data windows' sub-windows in the main window's area.
#pragma once

#include "host/host.h"

#include <QObject>

#include <memory>

namespace vexa::gui {

class MainWindow;
class OffscreenRenderer;

class QtHost final : public Host {
public:
    explicit QtHost(MainWindow& main);
    ~QtHost() override;

    void post(std::function<void()> fn) override;
    WindowHandle createWindow(DataRecord& record, GuiRequest code) override;
    void closeWindow(WindowHandle window) override;
    void setWindowTitle(WindowHandle window, const std::string& title) override;
    void redraw(DataRecord& record) override;
    void refreshMenus(int kind) override;
    void refreshLog() override;
    MessageAnswer messageBox(
        const std::string& caption, const std::string& text, MessageButtons buttons) override;
    int paramDialog(ParamBox* box) override;
    bool chooseFile(const FileChoice& choice, std::string& path) override;
    int chooseFromList(const std::string& title, const std::vector<std::string>& entries) override;
    void commandLine(const std::string& line) override;
    int popupMenu(WindowHandle window, int x, int y, const menus::MenuNode& menu) override;
    bool snapshotView3d(
        DataRecord& record, int width, int height, std::vector<std::uint8_t>& rgba) override;
    bool showDialog(std::uint32_t dialog, bool modal) override;
    void dialogChanged(std::uint32_t dialog) override;
    void closeDialog(std::uint32_t dialog) override;
    bool screenToImageArea(DataRecord& record, int& x, int& y) override;

private:
    QWidget* dialogOwner() const;
    MainWindow& main_;
    // Made on the first snapshot: its GL context lives as long as the host.
    std::unique_ptr<OffscreenRenderer> offscreen_;
};

} // namespace vexa::gui
