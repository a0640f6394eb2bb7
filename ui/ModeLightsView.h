// ModeLightsView: the three accompaniment mode lights ("1-beat", "style", "arrange") painted one
// above the other in an 11 x 33 picture; a click tells its row.
#pragma once

#include <QWidget>
#include <array>

#include "accompaniment/AccompanimentChoice.h"

namespace varimel {

class ModeLightsView : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRows = 3;
    static constexpr int kRowHeight = 11;

    explicit ModeLightsView(QWidget* parent);

    void drawModeLight(int row, LightLook look);
    LightLook look(int row) const { return looks_.at(static_cast<std::size_t>(row)); }

  Q_SIGNALS:
    // The row under a mouse press (y / 11).
    void rowPressed(int row);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    std::array<LightLook, kRows> looks_{LightLook::Off, LightLook::Off, LightLook::Off};
};

}  // namespace varimel
