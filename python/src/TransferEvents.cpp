// PyVaronet::TransferEvents: a ZMODEM session's file records, handed from its thread to Python's.
#include "TransferEvents.h"

#include <algorithm>

namespace PyVaronet {

TransferEvents::File& TransferEvents::record(const std::string& name) {
    // A name offered twice in one session gets a record per offer: only the last one is running.
    if (mFiles.empty() || mFiles.back().name != name || mFiles.back().outcome) {
        mFiles.push_back(File{.name = name});
        mbTouched.push_back(true);
    }
    mbTouched.back() = true;
    return mFiles.back();
}

void TransferEvents::fileStarted(const Base::String& name, std::uint64_t size) {
    {
        std::lock_guard<std::mutex> guard(mMutex);
        mFiles.push_back(File{.name = name.str(), .size = size});
        mbTouched.push_back(true);
    }
    mChanged();
}

void TransferEvents::fileProgress(const Base::String& name, std::uint64_t bytes) {
    std::lock_guard<std::mutex> guard(mMutex);
    record(name.str()).bytes = bytes;
}

void TransferEvents::fileFinished(const Base::String& name, Outcome outcome, int code) {
    {
        std::lock_guard<std::mutex> guard(mMutex);
        File& file = record(name.str());
        file.outcome = outcome;
        file.code = code;
    }
    mChanged();
}

std::vector<TransferEvents::File> TransferEvents::takeChanged() {
    std::lock_guard<std::mutex> guard(mMutex);
    std::vector<File> changed;
    for (std::size_t i = 0; i < mFiles.size(); ++i)
        if (mbTouched[i]) changed.push_back(mFiles[i]), mbTouched[i] = false;
    return changed;
}

std::vector<TransferEvents::File> TransferEvents::files() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return mFiles;
}

bool TransferEvents::anyFailed() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return std::any_of(mFiles.begin(), mFiles.end(),
                       [](const File& f) { return f.outcome == TransferObserver::Outcome::Failed; });
}

}  // namespace PyVaronet
