// The parameter dialog in Qt: measures the box with the dialog's font and style, places
// the controls where the core's layout puts them, keeps list, check box, button and file
// bindings current while open, and writes the typed fields back on "Ok" or Enter.
// "Annuler" and Escape end cancellable boxes with 0; other boxes ignore Escape.
#pragma once

#include "params/parambox.h"
#include "params/paramdialog.h"

#include <QDialog>

#include <functional>
#include <vector>

class QLineEdit;
class QPushButton;

namespace vexa::gui {

class ParamDialogWidget : public QDialog {
    Q_OBJECT
public:
    explicit ParamDialogWidget(ParamBox& box, QWidget* parent = nullptr);

    // The line edit of an item (integer, real, text and file items), or null.
    QLineEdit* fieldOf(int item) const;
    QPushButton* okButton() const { return ok_; }
    // "Annuler", or null when the box is not cancellable.
    QPushButton* cancelButton() const { return cancel_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void validate();
    void placeControls(const params::ParamLayout& layout);

    ParamBox& box_;
    params::ParamLayout layout_;
    std::vector<QWidget*> controls_; // parallel to layout_.controls
    std::vector<QLineEdit*> fields_;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// Runs the dialog modally on the calling (GUI) thread: 1 validated, 0 closed.
int runParamDialog(ParamBox* box, QWidget* owner);

// Installs the parameter and file-chooser presenters of the core; dialogs are owned by
// ownerProvider() (null: no owner).
void installParamPresenters(std::function<QWidget*()> ownerProvider);

} // namespace vexa::gui
