#include "display/gui/correctionwindow.h"

#include "data/datarecord.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QToolBar>
#include <QVBoxLayout>

#include <cmath>

namespace vexa::gui {

namespace {

QPointer<CorrectionWindow> s_window;
// The window's place on the screen outlives it for the rest of the run.
bool s_hasPosition = false;
QPoint s_position;

QString numberText(double v)
{
    return QString::number(v, 'g', 9);
}

// Reads a typed number; a decimal comma is taken as a point.
bool parseNumber(const QString& text, double& value)
{
    QString t = text.trimmed();
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    value = t.toDouble(&ok);
    return ok && std::isfinite(value);
}

} // namespace

HistogramPanel::HistogramPanel(CorrectionWindow& window, QWidget* parent)
    : QWidget(parent)
    , window_(window)
{
    setMinimumSize(200, 100);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMouseTracking(false);
}

QSize HistogramPanel::sizeHint() const
{
    return { 300, 150 };
}

PanelGeometry HistogramPanel::geometryOfPanel() const
{
    PanelGeometry g;
    g.left = 0;
    g.width = width();
    g.height = height();
    return g;
}

void HistogramPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const DisplayCorrection& core = window_.correction();
    const PanelGeometry g = geometryOfPanel();
    const auto bars = core.histogramBars(g, window_.palette());
    // Each bar fills up to the next bar's position so that the panel has no gaps.
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const HistogramBar& bar = bars[i];
        if (bar.height <= 0)
            continue;
        const int next = i + 1 < bars.size() ? bars[i + 1].x : bar.x + 1;
        const int w = std::max(1, next - bar.x);
        painter.fillRect(QRect(bar.x, g.height - bar.height, w, bar.height),
            QColor(bar.red, bar.green, bar.blue));
    }
    const WindowEnds ends = core.windowEnds(g);
    QPen pen(core.state().filter ? Qt::gray : Qt::red);
    pen.setWidth(1);
    painter.setPen(pen);
    painter.drawLine(ends.leftX, 0, ends.leftX, g.height);
    painter.drawLine(ends.rightX, 0, ends.rightX, g.height);
    // Grips on the outer side of each end, where a press grabs it.
    painter.fillRect(QRect(ends.leftX - 4, 0, 4, 8), pen.color());
    painter.fillRect(QRect(ends.rightX + 1, 0, 4, 8), pen.color());
    if (dragX_ >= 0) {
        painter.setPen(QPen(Qt::blue, 1, Qt::DashLine));
        painter.drawLine(dragX_, 0, dragX_, g.height);
    }
}

void HistogramPanel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int x = event->position().toPoint().x();
    if (window_.correction().pressPanel(x, geometryOfPanel())) {
        dragX_ = x + window_.correction().state().dragOffset;
        update();
    }
}

void HistogramPanel::mouseMoveEvent(QMouseEvent* event)
{
    if (window_.correction().state().dragEdge == 0)
        return;
    dragX_ = event->position().toPoint().x() + window_.correction().state().dragOffset;
    update();
}

void HistogramPanel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragX_ = -1;
    if (window_.correction().releasePanel(event->position().toPoint().x(), geometryOfPanel()))
        window_.refresh();
    update();
}

CorrectionWindow::CorrectionWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool)
{
    setWindowTitle(QStringLiteral("Correction"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(2);

    auto* fields = new QHBoxLayout;
    fields->addWidget(new QLabel(QStringLiteral("Gain"), this));
    gain_ = new QLineEdit(this);
    gain_->setObjectName(QStringLiteral("gain"));
    fields->addWidget(gain_);
    auto* switchBar = new QToolBar(this);
    addCommand(switchBar, CorrectionCommand::SwitchCentre, true);
    fields->addWidget(switchBar);
    secondLabel_ = new QLabel(this);
    fields->addWidget(secondLabel_);
    second_ = new QLineEdit(this);
    second_->setObjectName(QStringLiteral("second"));
    fields->addWidget(second_);
    layout->addLayout(fields);
    connect(gain_, &QLineEdit::editingFinished, this, &CorrectionWindow::fieldsEdited);
    connect(second_, &QLineEdit::editingFinished, this, &CorrectionWindow::fieldsEdited);

    auto* gains = new QToolBar(this);
    for (CorrectionCommand c : { CorrectionCommand::GainHalf, CorrectionCommand::GainDouble,
             CorrectionCommand::GainTenth, CorrectionCommand::GainTen })
        addCommand(gains, c);
    layout->addWidget(gains);

    auto* settings = new QToolBar(this);
    addCommand(settings, CorrectionCommand::Filter, true);
    settings->addSeparator();
    for (CorrectionCommand c : { CorrectionCommand::InitialState, CorrectionCommand::Negative,
             CorrectionCommand::MinMax, CorrectionCommand::MinMaxSymmetric,
             CorrectionCommand::Store, CorrectionCommand::Recall, CorrectionCommand::Broadcast })
        addCommand(settings, c);
    layout->addWidget(settings);

    auto* histogramBar = new QToolBar(this);
    addCommand(histogramBar, CorrectionCommand::Histogram, true);
    addCommand(histogramBar, CorrectionCommand::PartialHistogram, true);
    layout->addWidget(histogramBar);

    range_ = new QLabel(this);
    range_->setObjectName(QStringLiteral("range"));
    layout->addWidget(range_);
    panel_ = new HistogramPanel(*this, this);
    layout->addWidget(panel_, 1);

    auto* panelBar = new QToolBar(this);
    addCommand(panelBar, CorrectionCommand::PanelInitialState);
    addCommand(panelBar, CorrectionCommand::PanelPalette, true);
    for (CorrectionCommand c : { CorrectionCommand::PanelShrink, CorrectionCommand::PanelEnlarge,
             CorrectionCommand::AmplitudeDouble, CorrectionCommand::AmplitudeHalf })
        addCommand(panelBar, c);
    layout->addWidget(panelBar);

    updateFields();
}

CorrectionWindow::~CorrectionWindow()
{
    // The fields lose focus while QWidget destroys them and would call back into a
    // window that is no longer a CorrectionWindow.
    gain_->disconnect(this);
    second_->disconnect(this);
    correction_.detach();
}

QAction* CorrectionWindow::addCommand(QToolBar* bar, CorrectionCommand command, bool checkable)
{
    const char* label = correctionCommandLabel(command);
    QAction* action = bar->addAction(QString::fromUtf8(*label ? label : "\u21c4"));
    action->setCheckable(checkable);
    connect(action, &QAction::triggered, this, [this, command] { runCommand(command); });
    actions_[command] = action;
    return action;
}

QAction* CorrectionWindow::action(CorrectionCommand command) const
{
    auto it = actions_.find(command);
    return it != actions_.end() ? it->second : nullptr;
}

void CorrectionWindow::attach(DataRecord& record)
{
    correction_.detach();
    image_ = std::make_unique<RecordCorrection>(record);
    correction_.attach(image_.get());
    updateFields();
}

void CorrectionWindow::refresh()
{
    correction_.refresh();
    updateFields();
}

void CorrectionWindow::runCommand(CorrectionCommand command)
{
    correction_.run(command);
    updateFields();
}

void CorrectionWindow::fieldsEdited()
{
    double gain = 0.0, second = 0.0;
    if (!parseNumber(gain_->text(), gain) || !parseNumber(second_->text(), second)) {
        updateFields();
        return;
    }
    // Leaving a field untouched (focus moving on) is not an edit.
    if (gain_->text() == numberText(correction_.state().gain)
        && second_->text() == numberText(correction_.secondFieldValue()))
        return;
    correction_.editFields(gain, second);
    updateFields();
}

void CorrectionWindow::updateFields()
{
    const CorrectionState& s = correction_.state();
    gain_->setText(numberText(s.gain));
    secondLabel_->setText(QString::fromUtf8(correction_.secondFieldLabel()));
    second_->setText(numberText(correction_.secondFieldValue()));
    auto check = [this](CorrectionCommand c, int on) {
        if (QAction* a = action(c))
            a->setChecked(on != 0);
    };
    check(CorrectionCommand::SwitchCentre, s.useCentre);
    check(CorrectionCommand::Filter, s.filter);
    check(CorrectionCommand::Histogram, s.histogramOn);
    check(CorrectionCommand::PartialHistogram, s.partialHistogram);
    check(CorrectionCommand::PanelPalette, s.paletteOn);
    range_->setText(QString::fromStdString(correction_.rangeText()));
    hasPalette_ = image_ && image_->paletteTable(palette_);
    panel_->update();
}

void CorrectionWindow::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    s_hasPosition = true;
    s_position = pos();
}

void openCorrectionWindow(DataRecord& record, QWidget* parent)
{
    if (!s_window) {
        s_window = new CorrectionWindow(parent);
        if (s_hasPosition)
            s_window->move(s_position);
    }
    s_window->attach(record);
    s_window->show();
    s_window->raise();
    s_window->activateWindow();
}

CorrectionWindow* correctionWindow()
{
    return s_window.data();
}

void followCorrectionWindow(DataRecord& record)
{
    if (s_window)
        s_window->attach(record);
}

} // namespace vexa::gui
