#include "dump_stream.h"

namespace vornlog {

DumpStream::DumpStream(std::FILE* file, bool follow, std::string name)
    : file_(file), kind_(inputKind(file)), follow_(follow), name_(std::move(name))
{
}

std::size_t DumpStream::read(void* dst, std::size_t n)
{
    while (!ended_) {
        if (interruptRequested()) {
            interrupted_ = ended_ = true;
            break;
        }
        // A file on a disk never waits; anything else may.
        if (kind_ != InputKind::File && !waitForInput(file_, 0)) {
            waiting();
            bool ready = false;
            // The hook runs again after every wait that found nothing: what
            // waits for time to pass (a finding) goes out while nothing comes.
            while (!(ready = waitForInput(file_, kWaitMs)) && !interruptRequested()) waiting();
            if (!ready) continue;
        }
        const long long got = readSome(file_, dst, n);
        if (got > 0) {
            consumed_ += static_cast<std::uint64_t>(got);
            return static_cast<std::size_t>(got);
        }
        if (got == kNothingYet) {
            waiting();
            waitForInput(file_, kWaitMs);
            continue;
        }
        // A read that Ctrl-C ended (a console's, a pipe's whose writer
        // Ctrl-C ended too) is an interruption.
        if (interruptRequested()) continue;
        if (got == kReadFailed) {
            error_ = ended_ = true;
            break;
        }
        // The end of what there is: a followed file may grow.
        if (!follow_ || kind_ != InputKind::File) {
            ended_ = true;
            break;
        }
        if (startAgain()) continue;
        waiting();
        pause(kFollowMs);
    }
    return 0;
}

bool DumpStream::startAgain()
{
    // A followed file shorter than what was read of it was truncated (a
    // capture started anew under the same name): read again from its
    // start.
    if (const std::optional<std::uint64_t> size = fileSize(file_); size && *size < consumed_ && seekToStart(file_)) {
        consumed_ = 0;
        ++restarts_;
        if (onTruncated_) onTruncated_();
        return true;
    }
    if (name_.empty()) return false;
    if (!nameMoved_) {
        // The name leads to another file (the capture was renamed or
        // deleted, and a new one started under the name): what the writer
        // put in the old file before it moved on is read to its end first.
        nameMoved_ = nameLeadsElsewhere(file_, name_);
        return nameMoved_;
    }
    // The old file is read to its end: on to the new one. A name gone
    // again, or that leads back to the same file, is waited on.
    std::FILE* next = openFile(name_, "rb");
    if (!next) return false;
    if (sameFile(next, file_) || inputKind(next) != InputKind::File) {
        std::fclose(next);
        nameMoved_ = false;
        return false;
    }
    std::fclose(file_);
    file_ = next;
    nameMoved_ = false;
    consumed_ = 0;
    ++restarts_;
    if (onReplaced_) onReplaced_();
    return true;
}

} // namespace vornlog
