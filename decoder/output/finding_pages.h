// The pages kept of the findings (--keep=DIR): for every finding, a viewer
// page (the page -w writes) of the capture around it, from 60 s before it
// began to 10 s after it ended; of a finding longer than a minute, its
// first 60 s and its last 10 s. The page carries the capture's own bytes:
// a text dump's lines, or a pcap or pcapng file's header (the bytes before
// its first packet, with the interfaces declared after it) and its
// packets' records or blocks, so that the page reads it as the capture it
// is.
//
// Memory stays bounded however long the run: the capture's bytes are held
// for the last 70 s of the capture's clock (kHeld) only, besides what a page
// still waits for, and at most kMaxHeldBytes of them; a page's bytes are
// compressed as they come. A page is written as soon as the capture's clock
// has passed the finding's end by 10 s (on a message, or while a live
// capture waits), and at the end of the capture for what is still open.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/findings.h"
#include "capture/source.h"

namespace vornlog {

class FindingPages {
public:
    static constexpr std::int64_t kSecond = 1000000000;
    static constexpr std::int64_t kBefore = 60 * kSecond; // kept before a finding
    static constexpr std::int64_t kAfter = 10 * kSecond;  // kept after its end
    static constexpr std::int64_t kHead = 60 * kSecond;   // a long finding's first part kept
    static constexpr std::int64_t kHeld = kBefore + kAfter;
    static constexpr std::size_t kMaxHeldBytes = std::size_t{64} << 20;
    // A capture without times: the records held before a finding.
    static constexpr std::size_t kUntimedRecords = 30000;

    // Creates the file `name` for writing, never one that exists: null when
    // `name` is taken (`taken` set) or cannot be made.
    using Create = std::function<std::FILE*(const std::string& name, bool& taken)>;
    // Told of each page written (its file name), or of one that could not
    // be written (`failed`).
    using Told = std::function<void(const std::string& name, bool failed)>;

    // `viewerPage`: the empty viewer page; `name`, `device`, `keep`: what
    // the page is told of the capture (as -w tells it).
    FindingPages(std::string_view viewerPage, std::string name, std::string device, std::string keep, Create create,
                 Told told);
    ~FindingPages();
    FindingPages(const FindingPages&) = delete;
    FindingPages& operator=(const FindingPages&) = delete;

    // Every byte of the capture, as it is read. `restarted`: these bytes
    // are the first of new content (a followed file read again from its
    // start, or a new file under its name).
    void add(std::string_view bytes, bool restarted = false);
    // Every record, in order (its bytes added already).
    void record(const CaptureRecord& record);
    // A finding as the engine tells it (ongoing, then complete; or complete
    // at once); `origin`: the time its start and end count from.
    void finding(const findings::Finding& f, std::optional<TimeNs> origin);
    // The capture's clock has got to `now` (live, while the reading waits).
    void advance(TimeNs now);
    // The end of the capture: the pages still open are written with what
    // there is.
    void finish();

    // How many pages were written, and how many could not be.
    std::uint64_t written() const { return written_; }
    std::uint64_t failed() const { return failed_; }

private:
    struct Entry {
        std::uint64_t number;
        std::uint64_t at; // in the bytes added, counted from the first
        std::uint64_t end;
        bool timed;
        TimeNs time; // the last time known when untimed
    };
    struct Page;

    void step(Page& page);
    void write(Page& page);
    void release();
    void restart();
    void carry(std::string_view gap);

    std::string_view viewerPage_;
    std::string name_;
    std::string device_;
    std::string keep_;
    Create create_;
    Told told_;

    std::string bytes_;          // the bytes held, from heldAt_
    std::uint64_t heldAt_ = 0;
    std::uint64_t added_ = 0;    // every byte added
    std::uint64_t contentAt_ = 0; // where the present content began
    std::uint64_t newContentAt_ = 0;
    bool newContent_ = false;
    std::uint64_t lastEnd_ = 0;  // the last record's end, in the content
    bool haveHeader_ = false;
    std::string header_;
    std::deque<Entry> entries_;
    std::uint64_t frontSeq_ = 0; // the sequence number of entries_.front()
    bool haveNow_ = false;
    TimeNs now_ = 0;
    std::vector<std::unique_ptr<Page>> pages_;
    std::uint64_t lastId_ = 0; // findings ids seen so far
    std::uint64_t written_ = 0;
    std::uint64_t failed_ = 0;
};

} // namespace vornlog
