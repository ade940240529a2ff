// Start-up and shutdown of the workstation, apart from main() so that GUI tests run
// the same sequence.
#pragma once

#include <QString>

#include <memory>

namespace vexa::gui {

class MainWindow;
class QtHost;

class Workstation {
public:
    // Runs the start-up sequence: program directory and resources, configuration path
    // and "-config", the main window, the host and presenters, the log wiring, the
    // configured libraries. commandLine is the text after the program name.
    Workstation(const QString& programDir, const QString& commandLine);
    ~Workstation();

    MainWindow& mainWindow() const { return *main_; }
    // Shows the main window and hands the command line over as request 1.
    void show();
    // Waits for running tasks, closes windows and records, uninstalls the host.
    void shutdown();

private:
    QString commandLine_;
    std::unique_ptr<MainWindow> main_;
    std::unique_ptr<QtHost> host_;
    bool down_ = false;
};

// Directory of the running program (resources, colormaps, configuration).
QString programDirectory();

} // namespace vexa::gui
