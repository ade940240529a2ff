// The window of a plug-in dialog. Its items live in the core model (plugins/dialogapi.h):
// the widgets show the model and report what the user does; the model never learns
// about widgets.
#pragma once

#include <QDialog>

#include <cstdint>
#include <vector>

namespace vexa::gui {

class PluginDialog : public QDialog {
    Q_OBJECT
public:
    PluginDialog(std::uint32_t window, QWidget* parent = nullptr);
    std::uint32_t window() const { return window_; }
    // Widgets follow the model (values, states, enabled).
    void refresh();
    // The widget of an item (the first of that identifier), null when none.
    QWidget* itemWidget(int id) const;

private:
    std::uint32_t window_;
    std::vector<int> ids_; // item identifier of each widget
    std::vector<QWidget*> widgets_;
};

// Builds and shows the dialog of a window identifier: a modal one returns once it
// ended. False when the identifier names no live dialog.
bool showPluginDialog(std::uint32_t window, bool modal, QWidget* owner);
// The shown dialog of an identifier, or null.
PluginDialog* pluginDialog(std::uint32_t window);
void refreshPluginDialog(std::uint32_t window);
// The dialog ended: its window goes.
void closePluginDialog(std::uint32_t window);

} // namespace vexa::gui
