// The bytes of a dump file as they arrive, from whatever holds them: a
// stdio stream, bytes held in memory (the viewer's capture), the console
// program's dump file (program/dump_stream.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

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
    // How many times the stream started again with new content (a followed
    // file truncated, or its name given to a new file): the bytes of a read
    // after a change of this count are the new content's first. What was
    // left of the old content before them is its end: a record cut there is
    // neither decoded nor a damage, and the new content begins afresh.
    virtual std::uint64_t restarts() const { return 0; }
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

// Bytes held in memory, read from the first on; the caller keeps them.
class MemoryStream final : public ByteStream {
public:
    explicit MemoryStream(std::string_view bytes) : bytes_(bytes) {}
    std::size_t read(void* dst, std::size_t n) override;
    bool readError() const override { return false; }
    // How many bytes were read so far.
    std::size_t position() const { return at_; }
    std::size_t size() const { return bytes_.size(); }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

} // namespace vornlog
