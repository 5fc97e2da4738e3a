// The pages kept of the findings (--keep=DIR): viewer pages (the page -w
// writes) of the capture around the findings, from 60 s before a finding
// began to 10 s after it ended; of a finding longer than a minute, its
// first 60 s and its last 10 s. Findings whose parts overlap share one page,
// which names them all: a page covers at most 10 minutes of the capture's
// clock from its first moment to its last finding's start plus 10 s, and a
// longer run of findings goes on in the next page. The page carries the
// capture's own bytes: a text dump's lines, or a pcap or pcapng file's
// header (the bytes before its first packet, with the interfaces declared
// after it) and its packets' records or blocks, so that the page reads it
// as the capture it is.
//
// Memory stays bounded however long the run and whatever the rate: the
// capture's last bytes are held in a ring in a temporary file (kRingBytes),
// with the places of the records of the last 70 s of the capture's clock
// (at most kMaxRecords); a page's bytes are compressed as they come into a
// temporary file of its own. A page is written once the capture's clock
// has passed its last finding's end by 70 s (no later finding can share it
// then), on a message or while a live capture waits, and at the end of the
// capture for what is still open. The pages this run wrote take at most
// `maxBytes`: the oldest are removed to make room for a new one. A write
// that fails ends the keeping: it is told once, and nothing more is kept.
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
    // A page's reach: from its first moment to its last finding's start
    // plus kAfter.
    static constexpr std::int64_t kSpan = 600 * kSecond;
    // The capture's last bytes held on disk, and the records whose places
    // are held in memory (32 bytes each), at most.
    static constexpr std::uint64_t kRingBytes = std::uint64_t{256} << 20;
    static constexpr std::size_t kMaxRecords = 1000000;
    // A capture without times: the records held before a finding, and the
    // records a page holds at most.
    static constexpr std::size_t kUntimedRecords = 30000;
    static constexpr std::size_t kUntimedSpan = 10 * kUntimedRecords;

    // The files around the pages.
    class Files {
    public:
        virtual ~Files() = default;
        // Creates the file `name` in the folder for writing, never one that
        // exists: null when `name` is taken (`taken` set) or cannot be made.
        virtual std::FILE* create(const std::string& name, bool& taken) = 0;
        // Removes the file `name` that create made, when it is still that
        // file.
        virtual bool remove(const std::string& name) = 0;
        // A temporary file, read and written, gone once closed; null when
        // none can be made.
        virtual std::FILE* scratch() = 0;
    };
    // What the console is told, with the page's file name.
    enum class Said {
        Kept,          // a page written
        Removed,       // an older page removed to make room
        TooLarge,      // a page larger by itself than the room given: not written
        Failed,        // a page that could not be written: no more are
        ScratchFailed, // the temporary files could not be written: no more pages
    };
    using Told = std::function<void(const std::string& name, Said what)>;

    // `viewerPage`: the empty viewer page; `name`, `device`, `keep`: what
    // the page is told of the capture (as -w tells it); `maxBytes`: the
    // room the pages of this run may take in the folder.
    FindingPages(std::string_view viewerPage, std::string name, std::string device, std::string keep,
                 std::uint64_t maxBytes, Files& files, Told told);
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

    // How many pages were written; whether a write failed.
    std::uint64_t written() const { return written_; }
    bool failed() const { return failed_; }

private:
    struct Entry {
        std::uint64_t number;
        std::uint64_t at;  // in the bytes added, counted from the first
        std::int64_t time; // from timeBase_ (the last time known when untimed)
        std::uint32_t length;
        bool timed;
    };
    TimeNs timeOf(const Entry& e) const { return timeBase_ + e.time; }
    struct Page;
    class Ring;
    enum class Verdict { Keep, Pass, Wait, Over };

    Page* joinable(bool timed, TimeNs start) const;
    Verdict judge(Page& page, const Entry& e);
    void step(Page& page);
    void flushRun(Page& page);
    void write(Page& page);
    void makeRoom(std::uint64_t size);
    void release();
    void restart();
    void carry(std::string_view gap);
    void fail(const std::string& name, Said what);
    void prune();

    std::string_view viewerPage_;
    std::string name_;
    std::string device_;
    std::string keep_;
    std::uint64_t maxBytes_;
    Files& files_;
    Told told_;

    std::unique_ptr<Ring> ring_;
    std::string buffer_;          // bytes on their way from the ring to a page
    std::uint64_t contentAt_ = 0; // where the present content began
    std::uint64_t newContentAt_ = 0;
    bool newContent_ = false;
    std::uint64_t lastEnd_ = 0; // the last record's end, in the content
    bool haveHeader_ = false;
    std::string header_;
    std::deque<Entry> entries_;
    std::uint64_t frontSeq_ = 0; // the sequence number of entries_.front()
    TimeNs timeBase_ = 0; // the first record's time, that the entries' count from
    bool haveNow_ = false;
    TimeNs now_ = 0;
    std::vector<std::unique_ptr<Page>> pages_;
    std::uint64_t lastId_ = 0; // findings ids seen so far
    // The pages this run wrote that are still there, oldest first, and
    // their bytes.
    struct Written {
        std::string name;
        std::uint64_t size;
    };
    std::deque<Written> kept_;
    std::uint64_t keptBytes_ = 0;
    std::uint64_t written_ = 0;
    bool failed_ = false;
};

} // namespace vornlog
