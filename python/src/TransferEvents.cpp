// PyVaronet::TransferEvents: a ZMODEM session's file records, handed from its thread to Python's.
#include "TransferEvents.h"

#include <algorithm>

namespace PyVaronet {

namespace {
/// The session names a file it could not open by its path; every other report by the name alone.
std::string nameOf(const Base::String& reported) {
    const std::string& text = reported.str();
    return text.substr(text.rfind('/') + 1);
}
}  // namespace

TransferEvents::File& TransferEvents::record(const std::string& name) {
    // One file at a time: a report belongs to the file still running. Its name
    // may change on the way (a file received beside an existing one as "name.1.ext").
    if (mFiles.empty() || mFiles.back().outcome) {
        mFiles.push_back(File{.name = name});
        mbTouched.push_back(true);
    }
    mbTouched.back() = true;
    mFiles.back().name = name;
    return mFiles.back();
}

void TransferEvents::fileStarted(const Base::String& name, std::uint64_t size) {
    {
        std::lock_guard<std::mutex> guard(mMutex);
        mFiles.push_back(File{.name = nameOf(name), .size = size});
        mbTouched.push_back(true);
    }
    mChanged();
}

void TransferEvents::fileProgress(const Base::String& name, std::uint64_t bytes) {
    std::lock_guard<std::mutex> guard(mMutex);
    record(nameOf(name)).bytes = bytes;
}

void TransferEvents::fileFinished(const Base::String& name, Outcome outcome, int code) {
    {
        std::lock_guard<std::mutex> guard(mMutex);
        File& file = record(nameOf(name));
        if (outcome == Outcome::Sent) file.bytes = file.size;  // the last report may come before the last chunk
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
