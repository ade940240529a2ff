#include "views/gui/audiowindow.h"

#include "data/datarecord.h"
#include "data/newdata.h"
#include "data/registry.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vexa::gui {

namespace {

const NewAudioDatum* audioOf(std::uint32_t imageId)
{
    DataRecord* record = dataFind(imageId);
    if (!record || record->imageId != imageId || record->kind != DATA_AUDIO)
        return nullptr;
    return dynamic_cast<const NewAudioDatum*>(record->audio.get());
}

// Sample value to a row: full scale fills the height, 0 is the middle.
int rowOf(int value, int height)
{
    const double half = (height - 1) / 2.0;
    return int(std::lround(half - value / 32768.0 * half));
}

} // namespace

std::vector<WaveColumn> waveformColumns(const std::vector<std::int16_t>& samples, int columns)
{
    std::vector<WaveColumn> out;
    if (samples.empty() || columns <= 0)
        return out;
    out.resize(std::size_t(columns));
    const auto n = std::int64_t(samples.size());
    for (std::int64_t c = 0; c < columns; ++c) {
        std::int64_t begin = c * n / columns;
        std::int64_t end = (c + 1) * n / columns;
        if (end <= begin)
            end = std::min(begin + 1, n);
        begin = std::min(begin, n - 1);
        const auto [low, high]
            = std::minmax_element(samples.begin() + begin, samples.begin() + end);
        out[std::size_t(c)] = { *low, *high };
    }
    return out;
}

WaveformView::WaveformView(std::uint32_t imageId, QWidget* parent)
    : QWidget(parent)
    , imageId_(imageId)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(100, 60);
}

void WaveformView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::white);
    const int h = height();
    painter.setPen(QColor(180, 180, 180));
    painter.drawLine(0, rowOf(0, h), width() - 1, rowOf(0, h));
    const NewAudioDatum* audio = audioOf(imageId_);
    if (!audio)
        return;
    const std::vector<WaveColumn> columns = waveformColumns(audio->samples, width());
    painter.setPen(QColor(0, 0, 160));
    for (std::size_t x = 0; x < columns.size(); ++x)
        painter.drawLine(int(x), rowOf(columns[x].high, h), int(x), rowOf(columns[x].low, h));
}

AudioWindow::AudioWindow(std::uint32_t imageId, QWidget* parent)
    : QWidget(parent)
    , imageId_(imageId)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new WaveformView(imageId, this), 1);
    play_ = new QPushButton(QStringLiteral("Lecture"), this);
    play_->setObjectName(QStringLiteral("Lecture"));
    layout->addWidget(play_, 0, Qt::AlignLeft);
    connect(play_, &QPushButton::clicked, this, &AudioWindow::togglePlay);
    updateButton();
}

AudioWindow::~AudioWindow()
{
    stop();
}

void AudioWindow::updateButton()
{
    const NewAudioDatum* audio = audioOf(imageId_);
    const bool playing = sink_ != nullptr;
    play_->setText(playing ? QStringLiteral("Arrêt") : QStringLiteral("Lecture"));
    if (playing) {
        play_->setEnabled(true);
        play_->setToolTip({});
    } else if (QMediaDevices::audioOutputs().isEmpty()) {
        play_->setEnabled(false);
        play_->setToolTip(QStringLiteral("Aucune sortie audio disponible"));
    } else if (!audio || audio->samples.empty()) {
        play_->setEnabled(false);
        play_->setToolTip(QStringLiteral("Aucun échantillon à écouter"));
    } else {
        play_->setEnabled(true);
        play_->setToolTip({});
    }
}

void AudioWindow::togglePlay()
{
    if (sink_) {
        stop();
        updateButton();
        return;
    }
    const NewAudioDatum* audio = audioOf(imageId_);
    if (!audio || audio->samples.empty() || audio->bitsPerSample != 16 || audio->channels < 1
        || audio->sampleRate <= 0) {
        updateButton();
        return;
    }
    QAudioFormat format;
    format.setSampleRate(audio->sampleRate);
    format.setChannelCount(audio->channels);
    format.setSampleFormat(QAudioFormat::Int16);
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || !device.isFormatSupported(format)) {
        play_->setEnabled(false);
        play_->setToolTip(QStringLiteral("La sortie audio ne joue pas ce format"));
        return;
    }
    // The sink reads from its own copy: the datum may change while it plays.
    bytes_ = QByteArray(reinterpret_cast<const char*>(audio->samples.data()),
        qsizetype(audio->samples.size() * sizeof(std::int16_t)));
    buffer_ = new QBuffer(&bytes_, this);
    buffer_->open(QIODevice::ReadOnly);
    sink_ = new QAudioSink(device, format, this);
    connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::IdleState || state == QAudio::StoppedState) {
            // Deferred: the sink is still signalling.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    stop();
                    updateButton();
                },
                Qt::QueuedConnection);
        }
    });
    sink_->start(buffer_);
    updateButton();
}

void AudioWindow::stop()
{
    if (sink_) {
        sink_->disconnect(this);
        sink_->stop();
        delete sink_;
        sink_ = nullptr;
    }
    delete buffer_;
    buffer_ = nullptr;
}

QWidget* makeAudioWindow(DataRecord& record)
{
    if (record.kind != DATA_AUDIO || !dynamic_cast<NewAudioDatum*>(record.audio.get()))
        return nullptr;
    return new AudioWindow(record.imageId);
}

} // namespace vexa::gui
