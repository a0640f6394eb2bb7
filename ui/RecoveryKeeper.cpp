#include "ui/RecoveryKeeper.h"

#include <QTimer>
#include <chrono>
#include <ctime>

namespace varimel {

namespace {
// While the document cannot be taken (playback), the keeper looks again after this long.
constexpr int kRetryMs = 1000;

std::chrono::steady_clock::time_point now() {
    return std::chrono::steady_clock::now();
}
}  // namespace

RecoveryKeeper::RecoveryKeeper(model::AutosaveSettings settings, std::filesystem::path folder,
                               SnapshotSource source, QObject* parent)
    : QObject(parent), schedule_(settings), folder_(std::move(folder)), source_(std::move(source)) {
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("recoveryTimer"));
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &RecoveryKeeper::writeNow);
    // One write at a time, in order.
    pool_.setMaxThreadCount(1);
}

RecoveryKeeper::~RecoveryKeeper() {
    pool_.waitForDone();
}

void RecoveryKeeper::documentChanged() {
    schedule_.changed(now());
    armTimer();
}

void RecoveryKeeper::documentOpened() {
    schedule_.clear();
    timer_->stop();
}

void RecoveryKeeper::documentGone() {
    schedule_.clear();
    timer_->stop();
    // remove() waits for a write under way, which then writes nothing more.
    if (copy_) copy_->remove();
    copy_.reset();
}

void RecoveryKeeper::adopt(std::unique_ptr<model::RecoveryCopy> copy) {
    if (copy_) copy_->remove();
    copy_ = std::move(copy);
    schedule_.clear();
    timer_->stop();
}

void RecoveryKeeper::armTimer() {
    const auto due = schedule_.dueIn(now());
    if (!due) return;
    timer_->start(static_cast<int>(due->count()));
}

void RecoveryKeeper::writeNow() {
    if (!schedule_.dueIn(now())) return;
    const std::optional<Snapshot> snapshot = source_();
    if (!snapshot) {
        timer_->start(kRetryMs);
        return;
    }
    if (snapshot->project.empty()) {
        schedule_.clear();
        return;
    }
    if (!copy_) {
        std::string error;
        copy_ = model::RecoveryCopy::create(folder_, error);
        if (!copy_) {
            schedule_.writing();
            writeEnded(false, QString::fromStdString(error));
            return;
        }
    }
    schedule_.writing();
    model::RecoveryInfo info;
    info.document = snapshot->document;
    info.savedAt = static_cast<std::int64_t>(std::time(nullptr));
    pool_.start([this, copy = copy_, project = snapshot->project, info] {
        std::string error;
        const bool succeeded = copy->write(project, info, error);
        QMetaObject::invokeMethod(
            this,
            [this, succeeded, reason = QString::fromStdString(error)] {
                writeEnded(succeeded, reason);
            },
            Qt::QueuedConnection);
    });
}

void RecoveryKeeper::writeEnded(bool succeeded, const QString& reason) {
    schedule_.written(now(), succeeded);
    Q_EMIT copyWritten(succeeded, reason);
    armTimer();
}

}  // namespace varimel
