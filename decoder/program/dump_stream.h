// The bytes of a dump file as they arrive. A file on a disk is read in big
// blocks; a pipe, a terminal or a followed file (-f) is read as its bytes
// come, and just before the reading would have to wait, the output written
// so far is handed on (the wait hook): what was decoded shows at once, and
// a file read at full speed never waits and never pays for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "base/platform.h"
#include "capture/input.h"

namespace vornlog {

// The dump file of a run, read through its descriptor.
class DumpStream final : public ByteStream {
public:
    // `follow`: at the end of a file on a disk, wait for it to grow (-f)
    // until reading is interrupted.
    DumpStream(std::FILE* file, bool follow);

    std::size_t read(void* dst, std::size_t n) override;
    bool readError() const override { return error_; }
    bool interrupted() const override { return interrupted_; }

    // Called when a followed file was found shorter than what was read of
    // it (truncated and written anew): it is read again from its start.
    void onTruncated(std::function<void()> hook) { onTruncated_ = std::move(hook); }
    // Called before every read that may have to wait for bytes.
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

    std::FILE* file_;
    InputKind kind_;
    bool follow_;
    bool ended_ = false;
    bool error_ = false;
    bool interrupted_ = false;
    std::function<void()> onWait_;
    std::function<void()> onTruncated_;
    std::uint64_t consumed_ = 0; // bytes read from the descriptor since its start
};

} // namespace vornlog
