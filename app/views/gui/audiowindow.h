// The window of an audio datum: the waveform of its samples, and a button that plays
// them when the machine has a sound output.
#pragma once

#include <QByteArray>
#include <QWidget>

#include <cstdint>
#include <vector>

class QAudioSink;
class QBuffer;
class QPushButton;

namespace vexa {
struct DataRecord;
struct NewAudioDatum;
} // namespace vexa

namespace vexa::gui {

// The lowest and highest sample of each of columns equal parts of the samples (a column
// that holds no sample, when there are fewer samples than columns, takes the nearest).
// Empty when there are no samples or no columns.
struct WaveColumn {
    std::int16_t low = 0;
    std::int16_t high = 0;
};
std::vector<WaveColumn> waveformColumns(const std::vector<std::int16_t>& samples, int columns);

// The waveform: one vertical line per column from its lowest to its highest sample,
// full scale over the height, around a centre line.
class WaveformView : public QWidget {
    Q_OBJECT
public:
    explicit WaveformView(std::uint32_t imageId, QWidget* parent = nullptr);
    QSize sizeHint() const override { return { 400, 150 }; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::uint32_t imageId_;
};

class AudioWindow : public QWidget {
    Q_OBJECT
public:
    explicit AudioWindow(std::uint32_t imageId, QWidget* parent = nullptr);
    ~AudioWindow() override;
    QPushButton* playButton() const { return play_; }

private:
    void togglePlay();
    void stop();
    // Enables the button when there is something to play and somewhere to play it.
    void updateButton();

    std::uint32_t imageId_;
    QPushButton* play_ = nullptr;
    QAudioSink* sink_ = nullptr;
    QBuffer* buffer_ = nullptr;
    QByteArray bytes_;
};

// The window content for record, or null when the record cannot be shown (the
// caller then shows its title).
QWidget* makeAudioWindow(DataRecord& record);

} // namespace vexa::gui
