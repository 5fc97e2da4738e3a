#include "finding_pages.h"

#include <algorithm>
#include <cinttypes>
#include <map>
#include <utility>

#include "deflate.h"
#include "viewer_page.h"

namespace vornlog {

namespace {

// Compressed in small parts: a page's part waits in memory until it is
// whole.
constexpr std::size_t kPagePart = std::size_t{1} << 18;
// The ring's bytes go to its file in chunks; the last few stay in memory,
// where the pages open take them from as they come.
constexpr std::size_t kChunk = std::size_t{1} << 20;
constexpr std::size_t kChunksHeld = 4;
// Read back from a page's temporary file in blocks of this size.
constexpr std::size_t kReadBlock = std::size_t{1} << 20;

constexpr TimeNs kLatest = static_cast<TimeNs>((static_cast<unsigned __int128>(1) << 127) - 1);
constexpr TimeNs kNever = -kLatest - 1;

// a + b, held inside 64 bits whatever a damaged capture's times.
TimeNs plus(TimeNs a, TimeNs b)
{
    TimeNs sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? kLatest : kNever;
    return sum;
}

bool seek(std::FILE* file, std::uint64_t at)
{
    return std::fseek(file, static_cast<long>(at), SEEK_SET) == 0;
}

} // namespace

// The capture's last kRingBytes bytes, in a temporary file written round
// and round; the last chunks in memory as well.
class FindingPages::Ring {
public:
    explicit Ring(Files& files) : files_(files) {}
    ~Ring()
    {
        if (file_) std::fclose(file_);
    }
    Ring(const Ring&) = delete;
    Ring& operator=(const Ring&) = delete;

    // False once a write failed.
    bool add(std::string_view bytes)
    {
        while (!bytes.empty() && !failed_) {
            if (chunks_.empty() || chunks_.back().size() == kChunk) {
                if (chunks_.size() == kChunksHeld) spill();
                chunks_.emplace_back(std::move(spare_));
                spare_ = {};
                chunks_.back().clear();
                chunks_.back().reserve(kChunk);
            }
            std::string& last = chunks_.back();
            const std::size_t take = std::min(bytes.size(), kChunk - last.size());
            last.append(bytes.substr(0, take));
            bytes.remove_prefix(take);
            end_ += take;
        }
        return !failed_;
    }

    // The first byte still held.
    std::uint64_t oldest() const { return memoryAt_ > kRingBytes ? memoryAt_ - kRingBytes : 0; }
    std::uint64_t end() const { return end_; }
    bool failed() const { return failed_; }

    // Appends the bytes [from, to) to `into`: false when some are no longer
    // held, or cannot be read.
    bool read(std::uint64_t from, std::uint64_t to, std::string& into)
    {
        if (from < oldest() || to > end_ || failed_) return false;
        while (from < to && from < memoryAt_) {
            const std::uint64_t at = from % kRingBytes;
            const std::size_t n = static_cast<std::size_t>(std::min({to, memoryAt_, from + (kRingBytes - at)}) - from);
            const std::size_t size = into.size();
            into.resize(size + n);
            if (!file_ || !seek(file_, at) || std::fread(into.data() + size, 1, n, file_) != n) {
                into.resize(size);
                failed_ = true;
                return false;
            }
            from += n;
        }
        while (from < to) {
            const std::size_t k = static_cast<std::size_t>((from - memoryAt_) / kChunk);
            const std::size_t at = static_cast<std::size_t>((from - memoryAt_) % kChunk);
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(to - from, chunks_[k].size() - at));
            into.append(chunks_[k], at, n);
            from += n;
        }
        return true;
    }

private:
    // The oldest chunk in memory goes to the file (chunks begin on
    // multiples of kChunk, which divides kRingBytes: each is written whole
    // in one place).
    void spill()
    {
        if (!file_) {
            file_ = files_.scratch();
            if (file_) std::setvbuf(file_, nullptr, _IONBF, 0);
        }
        std::string& first = chunks_.front();
        if (!file_ || !seek(file_, memoryAt_ % kRingBytes) ||
            std::fwrite(first.data(), 1, first.size(), file_) != first.size())
            failed_ = true;
        memoryAt_ += first.size();
        spare_ = std::move(first);
        chunks_.pop_front();
    }

    Files& files_;
    std::FILE* file_ = nullptr;
    std::deque<std::string> chunks_;
    std::string spare_;
    std::uint64_t memoryAt_ = 0; // where chunks_.front() begins
    std::uint64_t end_ = 0;
    bool failed_ = false;
};

struct FindingPages::Page {
    ~Page()
    {
        if (scratch) std::fclose(scratch);
    }

    // A part kept, from `lo` to `hi`: at once when the page has got there.
    void part(TimeNs lo, TimeNs hi)
    {
        if (hi < lo) return;
        if (lo <= position)
            coveredTo = std::max(coveredTo, hi);
        else
            ahead.emplace(lo, hi);
    }

    bool timed = false;
    std::uint64_t firstId = 0;
    std::uint64_t lastId = 0;
    std::string name; // its first finding's number, start and kind
    TimeNs begin = 0; // its first moment
    // Its findings still open: where each one's parts begin and where its
    // first part ends.
    struct Open {
        std::uint64_t id;
        TimeNs from;
        TimeNs headTo;
    };
    std::vector<Open> open;
    // The parts of its complete findings not yet reached (from, to), and
    // how far those reached go.
    std::multimap<TimeNs, TimeNs> ahead;
    TimeNs coveredTo = kNever;
    TimeNs position = kNever; // the latest time looked at
    TimeNs passed = kNever;   // the latest time passed over
    TimeNs until = kNever;    // the last moment its complete findings keep
    // Untimed: its findings' last record, and the records kept.
    std::uint64_t last = 0;
    std::uint64_t records = 0;

    std::uint64_t next = 0;     // the sequence number of the next entry to look at
    bool adjoining = false;     // the entry before `next` was kept
    std::uint64_t keptEnd = 0;  // where that entry ended
    std::uint64_t runFrom = 0;  // the bytes kept, on their way to `bytes`
    std::uint64_t runTo = 0;
    DeflateWriter bytes{nullptr, kPagePart};
    std::FILE* scratch = nullptr; // what `bytes` made so far
    std::uint64_t scratchSize = 0;
    bool done = false;
};

FindingPages::FindingPages(std::string_view viewerPage, std::string name, std::string device, std::string keep,
                           std::uint64_t maxBytes, Files& files, Told told)
    : viewerPage_(viewerPage), name_(std::move(name)), device_(std::move(device)), keep_(std::move(keep)),
      maxBytes_(maxBytes), files_(files), told_(std::move(told)), ring_(std::make_unique<Ring>(files))
{
}

FindingPages::~FindingPages() = default;

void FindingPages::fail(const std::string& name, Said what)
{
    if (failed_) return;
    failed_ = true;
    if (told_) told_(name, what);
}

void FindingPages::add(std::string_view bytes, bool restarted)
{
    if (failed_) return;
    if (restarted) {
        newContentAt_ = ring_->end();
        newContent_ = true;
    }
    if (!ring_->add(bytes)) {
        fail({}, Said::ScratchFailed);
        prune();
    }
}

// New content began: the pages open are written with what they have, and
// what was held of the old content is let go.
void FindingPages::restart()
{
    finish();
    contentAt_ = newContent_ ? newContentAt_ : ring_ ? ring_->end() : 0;
    newContent_ = false;
    lastEnd_ = 0;
    haveHeader_ = false;
    header_.clear();
    frontSeq_ += entries_.size();
    entries_.clear();
}

void FindingPages::record(const CaptureRecord& record)
{
    if (failed_) return;
    if (record.end < lastEnd_ || (newContent_ && record.at == 0 && lastEnd_ != 0)) restart();
    if (failed_) return prune();
    const std::uint64_t previousEnd = contentAt_ + lastEnd_;
    lastEnd_ = record.end;
    const std::uint64_t at = contentAt_ + record.at;
    const std::uint64_t end = contentAt_ + record.end;
    // What is read of the blocks around the records stays small.
    constexpr std::uint64_t kMostBetween = 4 * kChunk;
    if (!haveHeader_) {
        // The bytes before the first record: a pcap or pcapng file's header.
        haveHeader_ = true;
        if (at > contentAt_ && at - contentAt_ <= kMostBetween) ring_->read(contentAt_, at, header_);
    } else if (at > previousEnd && at - previousEnd <= kMostBetween && header_.size() >= 12) {
        std::string gap;
        if (ring_->read(previousEnd, at, gap)) carry(gap);
    }
    if (ring_->failed()) {
        fail({}, Said::ScratchFailed);
        return prune();
    }
    const std::uint64_t length = end > at ? end - at : 0;
    const TimeNs time = record.hasTime ? record.timeNs : now_;
    if (entries_.empty() && frontSeq_ == 0) timeBase_ = time;
    TimeNs offset = 0;
    if (__builtin_sub_overflow(time, timeBase_, &offset)) offset = time < timeBase_ ? kNever : kLatest;
    offset = std::clamp<TimeNs>(offset, INT64_MIN, INT64_MAX);
    entries_.push_back(Entry{record.number, at, static_cast<std::int64_t>(offset),
                             static_cast<std::uint32_t>(std::min<std::uint64_t>(length, UINT32_MAX)),
                             record.hasTime});
    if (record.hasTime && (!haveNow_ || record.timeNs > now_)) {
        now_ = record.timeNs;
        haveNow_ = true;
    }
    for (std::size_t k = 0; k < pages_.size() && !failed_; ++k) step(*pages_[k]);
    prune();
    release();
}

// The blocks between two packets of a pcapng: an interface declared there
// is declared in the header of every page begun later too (its packets
// name it), and a section header begins the header again. Other blocks
// are not carried. (A pcap file has nothing between its records.)
void FindingPages::carry(std::string_view gap)
{
    constexpr std::uint32_t kSection = 0x0A0D0D0A;
    constexpr std::uint32_t kInterface = 1;
    const auto u32 = [](std::string_view b, std::size_t at, bool swapped) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
        return swapped ? __builtin_bswap32(v) : v;
    };
    if (header_.size() < 12 || u32(header_, 0, false) != kSection) return;
    bool swapped = u32(header_, 8, false) != 0x1A2B3C4D;
    for (std::size_t at = 0; at + 12 <= gap.size();) {
        const std::uint32_t type = u32(gap, at, false);
        if (type == kSection) swapped = u32(gap, at + 8, false) != 0x1A2B3C4D;
        const std::uint32_t length = u32(gap, at + 4, swapped);
        if (length < 12 || length % 4 != 0 || length > gap.size() - at) return;
        if (type == kSection)
            header_.assign(gap.substr(at, length));
        else if ((swapped ? __builtin_bswap32(type) : type) == kInterface && header_.size() + length <= 4 * kChunk)
            header_.append(gap.substr(at, length));
        at += length;
    }
}

// The newest page, when a finding that starts at `start` may share it: it
// is still open, has passed over nothing of the finding's part before it,
// and stays within its reach.
FindingPages::Page* FindingPages::joinable(bool timed, TimeNs start) const
{
    if (pages_.empty()) return nullptr;
    Page& page = *pages_.back();
    if (page.done || page.timed != timed) return nullptr;
    if (!timed) return page.records < kUntimedSpan ? &page : nullptr;
    if (plus(start, -kBefore) <= page.passed) return nullptr;
    return plus(start, kAfter) - page.begin <= kSpan ? &page : nullptr;
}

void FindingPages::finding(const findings::Finding& f, std::optional<TimeNs> origin)
{
    if (failed_) return;
    const bool timed = f.timed && origin;
    const TimeNs start = timed ? plus(*origin, f.start) : 0;
    const TimeNs end = timed ? plus(*origin, f.end) : 0;
    // Its parts on a page: from a minute before it to its first minute's
    // end, and from 10 s before its end to 10 s after.
    const auto complete = [&](Page& page, TimeNs from) {
        if (!page.timed) {
            page.last = std::max(page.last, f.last);
            return;
        }
        const TimeNs until = plus(end, kAfter);
        page.until = std::max(page.until, until);
        page.part(from, std::min(plus(start, kHead), until));
        page.part(std::max(plus(end, -kAfter), from), until);
    };
    Page* page = nullptr;
    for (auto& p : pages_) {
        for (auto o = p->open.begin(); o != p->open.end(); ++o) {
            if (o->id != f.id) continue;
            page = p.get();
            if (!f.ongoing) {
                const TimeNs from = o->from;
                page->open.erase(o);
                complete(*page, from);
            }
            break;
        }
        if (page) break;
    }
    if (!page) {
        if (f.id <= lastId_) return; // told before, its page written
        lastId_ = f.id;
        page = joinable(timed, start);
        if (!page) {
            auto made = std::make_unique<Page>();
            page = made.get();
            page->timed = timed;
            page->firstId = f.id;
            page->begin = plus(start, -kBefore);
            // The name: its first finding's number, start time and kind.
            char text[96];
            if (timed) {
                // To the nearest millisecond, as the findings' lines round it.
                const std::int64_t ms = (f.start >= 0 ? f.start + 500000 : f.start - 500000) / 1000000;
                std::snprintf(text, sizeof text, "finding-%04" PRIu64 "-%" PRId64 ".%03ds-", f.id, ms / 1000,
                              static_cast<int>(ms % 1000));
            } else {
                std::snprintf(text, sizeof text, "finding-%04" PRIu64 "-%s-%" PRIu64 "-", f.id,
                              header_.empty() ? "line" : "packet", f.first);
            }
            page->name = text;
            page->name += findings::kindName(f.kind);
            page->next = frontSeq_;
            if (!header_.empty()) page->bytes.add(header_);
            pages_.push_back(std::move(made));
        }
        page->lastId = std::max(page->lastId, f.id);
        const TimeNs from = plus(start, -kBefore);
        if (f.ongoing)
            page->open.push_back({f.id, from, plus(start, kHead)});
        else
            complete(*page, from);
    }
    step(*page);
    prune();
}

// Whether the page keeps the entry, passes over it, cannot tell yet, or
// is over before it.
FindingPages::Verdict FindingPages::judge(Page& page, const Entry& e)
{
    if (!page.timed) {
        if (!page.open.empty()) return Verdict::Wait;
        if (e.number <= page.last) return Verdict::Keep;
        // A later finding may yet share the page, for the records it holds
        // before it.
        return frontSeq_ + entries_.size() - page.next > kUntimedRecords ? Verdict::Over : Verdict::Wait;
    }
    const TimeNs t = timeOf(e);
    if (t > page.position) {
        page.position = t;
        while (!page.ahead.empty() && page.ahead.begin()->first <= t) {
            page.coveredTo = std::max(page.coveredTo, page.ahead.begin()->second);
            page.ahead.erase(page.ahead.begin());
        }
    }
    if (page.coveredTo >= t) return Verdict::Keep;
    for (const auto& o : page.open)
        if (t >= o.from && t <= o.headTo) return Verdict::Keep;
    // It may yet be among the last 10 s of a finding still open (a finding
    // is told when its evidence is complete, a little after its end): held
    // as long as the capture's bytes are.
    for (const auto& o : page.open)
        if (t > o.headTo && plus(t, kHeld) >= now_) return Verdict::Wait;
    if (page.open.empty() && page.ahead.empty() && t > page.until)
        return now_ > plus(page.until, kBefore) ? Verdict::Over : Verdict::Wait;
    return Verdict::Pass;
}

// Looks at the entries the page has not yet looked at: keeps those of its
// parts, passes over those before it and between its parts, and stops at
// the first it cannot tell yet. Written once no finding can share it any
// more.
void FindingPages::step(Page& page)
{
    if (page.done) return;
    if (page.next < frontSeq_) {
        page.next = frontSeq_;
        page.adjoining = false;
    }
    bool over = false;
    while (page.next < frontSeq_ + entries_.size()) {
        const Entry& e = entries_[static_cast<std::size_t>(page.next - frontSeq_)];
        const Verdict verdict = judge(page, e);
        if (verdict == Verdict::Wait) break;
        if (verdict == Verdict::Over) {
            over = true;
            break;
        }
        if (verdict == Verdict::Keep) {
            const std::uint64_t from = page.adjoining ? page.keptEnd : e.at;
            const std::uint64_t to = e.at + e.length;
            // A run goes to the page in pieces of a chunk at most.
            if (page.runTo != from || page.runFrom == page.runTo || page.runTo - page.runFrom >= kChunk) {
                flushRun(page);
                if (failed_) return;
                page.runFrom = from;
            }
            page.runTo = std::max(to, from);
            page.keptEnd = to;
            ++page.records;
        } else {
            page.passed = std::max(page.passed, timeOf(e));
        }
        page.adjoining = verdict == Verdict::Keep;
        ++page.next;
    }
    flushRun(page);
    if (failed_) return;
    if (page.timed && page.open.empty() && haveNow_ && now_ > plus(page.until, kBefore)) over = true;
    if (over) write(page);
}

// The bytes kept since the last time go into the page's stream, and what
// it compressed of them into its temporary file.
void FindingPages::flushRun(Page& page)
{
    if (page.runTo > page.runFrom) {
        buffer_.clear();
        const std::uint64_t from = std::max(page.runFrom, ring_->oldest());
        if (from < page.runTo && !ring_->read(from, page.runTo, buffer_) && ring_->failed())
            return fail({}, Said::ScratchFailed);
        page.bytes.add(buffer_);
    }
    page.runFrom = page.runTo = 0;
    bool ok = true;
    page.bytes.take([&](std::string_view made) {
        if (!page.scratch) page.scratch = files_.scratch();
        ok = ok && page.scratch && std::fwrite(made.data(), 1, made.size(), page.scratch) == made.size();
        page.scratchSize += made.size();
    });
    if (!ok) fail({}, Said::ScratchFailed);
}

void FindingPages::advance(TimeNs now)
{
    if (failed_) return;
    if (haveNow_ && now > now_) now_ = now;
    for (std::size_t k = 0; k < pages_.size() && !failed_; ++k) step(*pages_[k]);
    prune();
    release();
}

void FindingPages::finish()
{
    if (failed_) return;
    for (std::size_t k = 0; k < pages_.size() && !failed_; ++k) {
        Page& page = *pages_[k];
        if (page.done) continue;
        // What is still open ends here.
        for (const auto& o : page.open) {
            if (!page.timed) continue;
            page.part(o.from, std::min(o.headTo, now_));
            page.part(std::max(plus(now_, -kAfter), o.from), now_);
        }
        if (!page.open.empty() && !page.timed) page.last = entries_.empty() ? 0 : entries_.back().number;
        page.open.clear();
        page.until = std::max(page.until, now_);
        // Nothing comes after: every entry held is looked at.
        const TimeNs now = now_;
        now_ = kLatest;
        step(page);
        now_ = now;
        if (!page.done && !failed_) write(page);
    }
    pages_.clear();
    prune();
}

// Lets go of the pages written; of everything once keeping failed.
void FindingPages::prune()
{
    if (failed_) {
        pages_.clear();
        entries_.clear();
        ring_.reset();
        buffer_ = {};
        return;
    }
    std::erase_if(pages_, [](const std::unique_ptr<Page>& p) { return p->done; });
}

// Removes the oldest pages this run wrote until `size` more bytes fit.
void FindingPages::makeRoom(std::uint64_t size)
{
    while (!kept_.empty() && keptBytes_ + size > maxBytes_) {
        const Written oldest = kept_.front();
        kept_.pop_front();
        keptBytes_ -= oldest.size;
        if (files_.remove(oldest.name) && told_) told_(oldest.name, Said::Removed);
    }
}

void FindingPages::write(Page& page)
{
    page.done = true;
    std::string base = page.name;
    if (page.lastId != page.firstId) {
        char text[32];
        std::snprintf(text, sizeof text, "-to-%04" PRIu64, page.lastId);
        base += text;
    }
    const std::uint64_t size = page.bytes.added();
    bool ok = true;
    page.bytes.finish([&](std::string_view made) {
        if (!page.scratch) page.scratch = files_.scratch();
        ok = ok && page.scratch && std::fwrite(made.data(), 1, made.size(), page.scratch) == made.size();
        page.scratchSize += made.size();
    });
    if (!ok || std::fflush(page.scratch) != 0) return fail({}, Said::ScratchFailed);
    const std::uint64_t pageSize = viewerPageSize(viewerPage_, name_, device_, keep_, size, page.scratchSize);
    if (pageSize > maxBytes_) {
        if (told_) told_(base + ".html", Said::TooLarge);
        return;
    }
    makeRoom(pageSize);
    std::string name = base + ".html";
    std::FILE* file = nullptr;
    for (int n = 2; n < 1000; ++n) {
        bool taken = false;
        file = files_.create(name, taken);
        if (file || !taken) break;
        name = base + "-" + std::to_string(n) + ".html";
    }
    if (!file) return fail(name, Said::Failed);
    bool read = seek(page.scratch, 0);
    {
        Out out(file, false);
        writeViewerPage(viewerPage_, name_, device_, keep_, size,
                        [&](const std::function<void(std::string_view)>& put) {
                            std::string block(kReadBlock, '\0');
                            for (std::uint64_t left = page.scratchSize; left > 0 && read;) {
                                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kReadBlock));
                                read = std::fread(block.data(), 1, n, page.scratch) == n;
                                if (read) put(std::string_view(block.data(), n));
                                left -= n;
                            }
                        },
                        out);
        ok = out.flush() && read;
    }
    ok = std::fclose(file) == 0 && ok;
    std::fclose(page.scratch);
    page.scratch = nullptr;
    if (!ok) {
        // No part of a page is left behind.
        files_.remove(name);
        return fail(name, read ? Said::Failed : Said::ScratchFailed);
    }
    kept_.push_back({name, pageSize});
    keptBytes_ += pageSize;
    ++written_;
    if (told_) told_(name, Said::Kept);
}

// Lets go of the entries that no page waits for and that are older than
// the time held, or beyond the records held, or whose bytes the ring no
// longer holds.
void FindingPages::release()
{
    if (failed_) return;
    std::uint64_t wanted = frontSeq_ + entries_.size();
    for (const auto& page : pages_)
        if (!page->done) wanted = std::min(wanted, page->next);
    const std::uint64_t oldest = ring_->oldest();
    std::size_t drop = 0;
    while (drop < entries_.size()) {
        const Entry& e = entries_[drop];
        const bool old = e.timed || haveNow_ ? plus(timeOf(e), kHeld) < now_ : entries_.size() - drop > kUntimedRecords;
        const bool tooMuch = entries_.size() - drop > kMaxRecords || e.at < oldest;
        if (!tooMuch && (!old || frontSeq_ + drop >= wanted)) break;
        ++drop;
    }
    if (drop == 0) return;
    entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(drop));
    frontSeq_ += drop;
}

} // namespace vornlog
