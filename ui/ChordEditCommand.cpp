#include "ui/ChordEditCommand.h"

#include "ui/Fchords1.h"

namespace varimel {

ChordEditCommand::ChordEditCommand(TfChords& grid, const model::ChordEdit& edit)
    : QUndoCommand(QString::fromStdString(model::describeChordEdit(edit, grid.spellingKey()))),
      grid_(grid),
      edit_(edit) {}

void ChordEditCommand::redo() {
    grid_.applyEdit(edit_, true);
}
void ChordEditCommand::undo() {
    grid_.applyEdit(edit_, false);
}

}  // namespace varimel
