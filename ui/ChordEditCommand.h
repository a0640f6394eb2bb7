// ChordEditCommand: one chord change of the chords grid on the window's undo stack. Doing and
// undoing it go through the grid, which puts the bar's entry back and repaints its column.
#pragma once

#include <QUndoCommand>

#include "ui/model/ChordEdit.h"

namespace varimel {

class TfChords;

class ChordEditCommand final : public QUndoCommand {
  public:
    ChordEditCommand(TfChords& grid, const model::ChordEdit& edit);
    void redo() override;
    void undo() override;

  private:
    TfChords& grid_;
    model::ChordEdit edit_;
};

}  // namespace varimel
