#include "playback/Tplaythread.h"

#include <exception>
#include <iostream>
#include <utility>

namespace varimel {

TPlayerThread::TPlayerThread(PlayerContext& player, std::function<void()> onTerminate,
                             ErrorHandler onError)
    : player_(player), onTerminate_(std::move(onTerminate)), onError_(std::move(onError)) {}

TPlayerThread::~TPlayerThread() {
    if (thread_.joinable()) {
        if (isCurrentThread()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
}

void TPlayerThread::resume() {
    std::call_once(started_, [this] { thread_ = std::thread([this] { execute(); }); });
}

void TPlayerThread::waitFor() {
    if (thread_.joinable() && !isCurrentThread()) thread_.join();
}

void TPlayerThread::execute() {
    bool failed = true;
    std::string error = kUnknownError;
    try {
        player_.play();
        failed = false;
    } catch (const AppError& e) {
        error = e.what();
    } catch (...) {
    }
    if (failed) {
        if (onError_) {
            onError_(kErrorCaption, error);
        } else {
            std::cerr << kErrorCaption << ": " << error << '\n';
        }
    }
    player_.threadEnded();
    if (onTerminate_) onTerminate_();
}

}  // namespace varimel
