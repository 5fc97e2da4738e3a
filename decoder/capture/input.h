// The bytes of a dump file as they arrive. A file on a disk is read in big
// blocks; a pipe, a terminal or a followed file (-f) is read as its bytes
// come, and just before the reading would have to wait, the output written
// so far is handed on (the wait hook): what was decoded shows at once, and
// a file read at full speed never waits and never pays for it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>

#include "program/platform.h"

namespace vornlog {

class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Up to n bytes: at least one, unless the stream has ended; 0 once it
    // has (at its end, on a read error, or when reading was interrupted).
    virtual std::size_t read(void* dst, std::size_t n) = 0;
    // Why it ended: a read error, or an interruption (Ctrl-C). When it
    // ended on an interruption, the bytes of a record that were read so
    // far are an unfinished record, not a damaged one.
    virtual bool readError() const = 0;
    virtual bool interrupted() const { return false; }
};

// A stdio stream read with fread (captures held in memory, tests).
class StdioStream final : public ByteStream {
public:
    explicit StdioStream(std::FILE* file) : file_(file) {}
    std::size_t read(void* dst, std::size_t n) override;
    bool readError() const override { return error_; }

private:
    std::FILE* file_;
    bool error_ = false;
};

// The dump file of a run, read through its descriptor.
class DumpStream final : public ByteStream {
public:
    // `follow`: at the end of a file on a disk, wait for it to grow (-f)
    // until reading is interrupted.
    DumpStream(std::FILE* file, bool follow);

    std::size_t read(void* dst, std::size_t n) override;
    bool readError() const override { return error_; }
    bool interrupted() const override { return interrupted_; }

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
};

} // namespace vornlog
