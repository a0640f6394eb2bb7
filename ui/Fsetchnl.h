// TfSetChn: asks which of several channels holds the melody when single-voiced tunes were found in
// more than one.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>

class QComboBox;
class QLabel;
class QPushButton;

namespace varimel {

class TfSetChn : public QDialog {
    Q_OBJECT
  public:
    explicit TfSetChn(QWidget* parent = nullptr);

    // Fills the list: one line per channel, its text and the channel it stands for.
    void addChannel(const QString& text, std::uint8_t channel);
    void clearChannels();
    // The channel of the chosen line, or -1 without one.
    int selectedChannel() const;
    QComboBox* list() const { return cb_CM; }

  private:
    QLabel* Label1;
    QComboBox* cb_CM;
    QPushButton* b_Ok;
    QPushButton* b_Cancel;
    std::array<std::uint8_t, 16> channels_{};
};

}  // namespace varimel
