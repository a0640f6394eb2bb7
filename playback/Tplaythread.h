// TPlayerThread: the worker that runs the player's play and reports how it ended — an error to
// the error handler with caption "Error", then the end to the owner's termination handler.
#pragma once

#include <functional>
#include <mutex>
#include <thread>

#include "playback/Tmplay.h"

namespace varimel {

class TPlayerThread {
  public:
    static constexpr const char* kErrorCaption = "Error";
    static constexpr const char* kUnknownError = "Unknown Error";

    // Created suspended: nothing runs before resume.
    TPlayerThread(PlayerContext& player, std::function<void()> onTerminate, ErrorHandler onError);
    // Waits for the worker to end.
    ~TPlayerThread();
    TPlayerThread(const TPlayerThread&) = delete;
    TPlayerThread& operator=(const TPlayerThread&) = delete;

    // Starts the worker; later calls do nothing (stopping is the player's business).
    void resume();
    void waitFor();
    bool isCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  private:
    void execute();

    PlayerContext& player_;
    std::function<void()> onTerminate_;
    ErrorHandler onError_;
    std::once_flag started_;
    std::thread thread_;
};

}  // namespace varimel
