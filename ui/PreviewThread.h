// PreviewThread: a pattern preview blocks for as long as it sounds, so the style and arrangement
// dialogs play it on a helper thread while they keep painting; its end comes back to the dialog
// through the event loop.
#pragma once

#include <QObject>
#include <exception>
#include <functional>
#include <thread>

namespace varimel {

class PreviewThread {
  public:
    PreviewThread() = default;
    PreviewThread(const PreviewThread&) = delete;
    PreviewThread& operator=(const PreviewThread&) = delete;
    ~PreviewThread() { wait(); }

    // Runs `play` on the helper thread, then `ended(played)` on `owner`'s thread; `played` is
    // false when `play` threw. `play` must own copies of what it reads.
    void start(QObject* owner, std::function<void()> play, std::function<void(bool)> ended) {
        wait();
        thread_ = std::thread([owner, play = std::move(play), ended = std::move(ended)] {
            bool played = true;
            try {
                play();
            } catch (const std::exception&) {
                played = false;
            }
            QMetaObject::invokeMethod(
                owner, [ended, played] { ended(played); }, Qt::QueuedConnection);
        });
    }
    // Blocks until a started preview has returned.
    void wait() {
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::thread thread_;
};

}  // namespace varimel
