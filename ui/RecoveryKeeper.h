// RecoveryKeeper: the window's autosave. An idle timer writes the open document's recovery copy
// a few seconds after a change (no more often than the interval while changes go on), the bytes
// going to disk on a helper thread; Save and Close remove the copy, a crash leaves it.
#pragma once

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ui/model/AutosaveSchedule.h"
#include "ui/model/Recovery.h"

class QTimer;

namespace varimel {

class RecoveryKeeper : public QObject {
    Q_OBJECT
  public:
    // The document as a project file's bytes, and the file it belongs to.
    struct Snapshot {
        std::string project;
        std::string document;
    };
    // Answers the document to write; an empty project when there is none, nullopt when it
    // cannot be taken now (playback runs) and the keeper should try again shortly.
    using SnapshotSource = std::function<std::optional<Snapshot>()>;

    RecoveryKeeper(model::AutosaveSettings settings, std::filesystem::path folder,
                   SnapshotSource source, QObject* parent);
    // Waits for a write under way; the copy stays where it is.
    ~RecoveryKeeper() override;

    const std::filesystem::path& folder() const { return folder_; }
    const model::AutosaveSettings& settings() const { return schedule_.settings(); }
    // The open document's copy, null until the first write.
    const model::RecoveryCopy* copy() const { return copy_.get(); }

    void documentChanged();
    // A document was just opened: what happened while it opened is not a change.
    void documentOpened();
    // Saved or closed: its copy goes.
    void documentGone();
    // A restored copy becomes the open document's, written again with the next change.
    void adopt(std::unique_ptr<model::RecoveryCopy> copy);

  Q_SIGNALS:
    // After each write; the reason is empty on success.
    void copyWritten(bool succeeded, const QString& reason);

  private:
    void armTimer();
    void writeNow();
    void writeEnded(bool succeeded, const QString& reason);

    model::AutosaveSchedule schedule_;
    std::filesystem::path folder_;
    SnapshotSource source_;
    std::shared_ptr<model::RecoveryCopy> copy_;
    QTimer* timer_ = nullptr;
    QThreadPool pool_;
};

}  // namespace varimel
