// The bytes of a dump file as they arrive. A file on a disk is read in big
// blocks; a pipe, a terminal or a followed file (-f, -F) is read as its
// bytes come, and just before the reading would have to wait, the output
// written so far is handed on (the wait hook): what was decoded shows at
// once, and a file read at full speed never waits and never pays for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "base/platform.h"
#include "capture/input.h"

namespace vornlog {

// The dump file of a run, read through its descriptor.
class DumpStream final : public ByteStream {
public:
    // `follow`: at the end of a file on a disk, wait for it to grow (-f)
    // until reading is interrupted. `name` (-F): the file was opened by
    // this name, and whatever file the name comes to lead to is followed.
    DumpStream(std::FILE* file, bool follow, std::string name = {});
    DumpStream(const DumpStream&) = delete;
    DumpStream& operator=(const DumpStream&) = delete;

    std::size_t read(void* dst, std::size_t n) override;
    bool readError() const override { return error_; }
    bool interrupted() const override { return interrupted_; }
    std::uint64_t restarts() const override { return restarts_; }

    // The file read now: the one given, or the one its name came to lead
    // to (-F), which is the caller's to close then. A file left behind for
    // a new one was closed here.
    std::FILE* file() const { return file_; }

    // Called when a followed file was found shorter than what was read of
    // it (truncated and written anew): it is read again from its start.
    void onTruncated(std::function<void()> hook) { onTruncated_ = std::move(hook); }
    // Called when the followed name came to lead to a new file (-F): the
    // old one was read to its end, the new one is read from its start.
    void onReplaced(std::function<void()> hook) { onReplaced_ = std::move(hook); }
    // Called before every read that may have to wait for bytes, and again
    // every kWaitMs or kFollowMs while it waits.
    void onWait(std::function<void()> hook) { onWait_ = std::move(hook); }
    // A pipe, a terminal or a followed file: its end is not known in advance.
    bool live() const { return kind_ != InputKind::File || follow_; }

    // How often a followed file is looked at, and how long a wait for a
    // pipe lasts at most before the interruption flag is looked at again.
    static constexpr int kFollowMs = 80;
    static constexpr int kWaitMs = 200;

private:
    void waiting()
    {
        if (onWait_) onWait_();
    }

    // At the end of the followed file: true when reading goes on, from
    // the same file's start or from the new file the name leads to.
    bool startAgain();

    std::FILE* file_;
    InputKind kind_;
    bool follow_;
    std::string name_;
    bool nameMoved_ = false; // the name leads elsewhere: the file is read to its end first
    std::uint64_t restarts_ = 0;
    bool ended_ = false;
    bool error_ = false;
    bool interrupted_ = false;
    std::function<void()> onWait_;
    std::function<void()> onTruncated_;
    std::function<void()> onReplaced_;
    std::uint64_t consumed_ = 0; // bytes read from the descriptor since its start
};

} // namespace vornlog
