#include "finding_pages.h"

#include <algorithm>
#include <cinttypes>
#include <utility>

#include "deflate.h"
#include "viewer_page.h"

namespace vornlog {

namespace {

// Compressed in small parts: several pages may wait at once.
constexpr std::size_t kPagePart = std::size_t{1} << 18;

} // namespace

struct FindingPages::Page {
    std::uint64_t id = 0;
    findings::Kind kind{};
    bool timed = false;
    TimeNs from = 0;     // the first time kept
    TimeNs headTo = 0;   // the end of a long finding's first part
    bool complete = false;
    TimeNs tailFrom = 0; // complete: the start of its last part
    TimeNs until = 0;    // complete: the last time kept
    std::uint64_t last = 0; // complete, untimed: its last record
    std::string fileName;
    std::uint64_t next = 0; // the sequence number of the next entry to look at
    bool adjoining = false; // the entry before `next` was kept
    ZlibWriter bytes{nullptr, kPagePart};
    bool done = false;
};

FindingPages::FindingPages(std::string_view viewerPage, std::string name, std::string device, std::string keep,
                           Create create, Told told)
    : viewerPage_(viewerPage), name_(std::move(name)), device_(std::move(device)), keep_(std::move(keep)),
      create_(std::move(create)), told_(std::move(told))
{
}

FindingPages::~FindingPages() = default;

void FindingPages::add(std::string_view bytes, bool restarted)
{
    if (restarted) {
        newContentAt_ = added_;
        newContent_ = true;
    }
    bytes_.append(bytes);
    added_ += bytes.size();
}

// New content began: the pages open are written with what they have, and
// what was held of the old content is let go.
void FindingPages::restart()
{
    finish();
    contentAt_ = newContent_ ? newContentAt_ : added_;
    newContent_ = false;
    lastEnd_ = 0;
    haveHeader_ = false;
    header_.clear();
    frontSeq_ += entries_.size();
    entries_.clear();
    if (contentAt_ > heldAt_) {
        bytes_.erase(0, static_cast<std::size_t>(std::min<std::uint64_t>(contentAt_ - heldAt_, bytes_.size())));
        heldAt_ = contentAt_;
    }
}

void FindingPages::record(const CaptureRecord& record)
{
    if (record.end < lastEnd_ || (newContent_ && record.at == 0 && lastEnd_ != 0)) restart();
    const std::uint64_t previousEnd = contentAt_ + lastEnd_;
    lastEnd_ = record.end;
    const std::uint64_t at = contentAt_ + record.at;
    const std::uint64_t end = contentAt_ + record.end;
    if (!haveHeader_) {
        // The bytes before the first record: a pcap or pcapng file's header.
        haveHeader_ = true;
        if (at > heldAt_ && at <= heldAt_ + bytes_.size())
            header_.assign(bytes_, 0, static_cast<std::size_t>(at - heldAt_));
    } else if (at > previousEnd && previousEnd >= heldAt_ && at <= heldAt_ + bytes_.size()) {
        carry(std::string_view(bytes_).substr(static_cast<std::size_t>(previousEnd - heldAt_),
                                              static_cast<std::size_t>(at - previousEnd)));
    }
    Entry entry{record.number, at, end, record.hasTime, record.hasTime ? record.timeNs : now_};
    if (record.hasTime && (!haveNow_ || record.timeNs > now_)) {
        now_ = record.timeNs;
        haveNow_ = true;
    }
    entries_.push_back(entry);
    for (auto& page : pages_) step(*page);
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
        if (type == kSection) header_.assign(gap.substr(at, length));
        else if ((swapped ? __builtin_bswap32(type) : type) == kInterface) header_.append(gap.substr(at, length));
        at += length;
    }
}

void FindingPages::finding(const findings::Finding& f, std::optional<TimeNs> origin)
{
    Page* page = nullptr;
    for (auto& p : pages_)
        if (p->id == f.id) page = p.get();
    if (!page) {
        if (f.id <= lastId_) return; // its page was written
        lastId_ = f.id;
        auto made = std::make_unique<Page>();
        page = made.get();
        page->id = f.id;
        page->kind = f.kind;
        page->timed = f.timed && origin;
        const TimeNs start = page->timed ? *origin + f.start : 0;
        page->from = start - kBefore;
        page->headTo = start + kHead;
        // The name: its number, start time and kind.
        char text[96];
        if (page->timed) {
            // To the nearest millisecond, as the findings' lines round it.
            const std::int64_t ms = (f.start >= 0 ? f.start + 500000 : f.start - 500000) / 1000000;
            std::snprintf(text, sizeof text, "finding-%04" PRIu64 "-%" PRId64 ".%03ds-", f.id, ms / 1000,
                          static_cast<int>(ms % 1000));
        } else {
            std::snprintf(text, sizeof text, "finding-%04" PRIu64 "-%s-%" PRIu64 "-", f.id,
                          header_.empty() ? "line" : "packet", f.first);
        }
        page->fileName = text;
        page->fileName += findings::kindName(f.kind);
        page->next = frontSeq_;
        if (!header_.empty()) page->bytes.add(header_);
        pages_.push_back(std::move(made));
    }
    if (!f.ongoing) {
        page->complete = true;
        const TimeNs end = page->timed ? *origin + f.end : 0;
        page->until = end + kAfter;
        page->tailFrom = std::max(end - kAfter, page->from);
        page->last = f.last;
    }
    step(*page);
    std::erase_if(pages_, [](const std::unique_ptr<Page>& p) { return p->done; });
}

// Looks at the entries the page has not yet looked at: keeps those of its
// parts, passes over those before it and between its parts, and stops at
// the first it cannot tell yet. Written once the capture's clock has
// passed its end.
void FindingPages::step(Page& page)
{
    if (page.done) return;
    if (page.next < frontSeq_) {
        page.next = frontSeq_;
        page.adjoining = false;
    }
    while (page.next < frontSeq_ + entries_.size()) {
        const Entry& e = entries_[static_cast<std::size_t>(page.next - frontSeq_)];
        bool keep = false;
        if (!page.timed) {
            if (page.complete && e.number > page.last) break;
            if (!page.complete) return;
            keep = true;
        } else if (e.time < page.from) {
            keep = false;
        } else if (page.complete && e.time > page.until) {
            break;
        } else if (e.time <= page.headTo || (page.complete && e.time >= page.tailFrom)) {
            keep = true;
        } else if (!page.complete && e.time + kHeld >= now_) {
            // It may yet be among the last 10 s (a finding is told when its
            // evidence is complete, a little after its end): held as long as
            // the capture's bytes are.
            return;
        }
        if (keep) {
            const std::uint64_t from = std::max(page.adjoining ? entries_[static_cast<std::size_t>(page.next - frontSeq_ - 1)].end : e.at, heldAt_);
            if (e.end > from)
                page.bytes.add(std::string_view(bytes_).substr(static_cast<std::size_t>(from - heldAt_),
                                                               static_cast<std::size_t>(e.end - from)));
        }
        page.adjoining = keep;
        ++page.next;
    }
    const bool over = page.complete && (!page.timed || (haveNow_ && now_ > page.until));
    if (over) write(page);
}

void FindingPages::advance(TimeNs now)
{
    if (haveNow_ && now > now_) now_ = now;
    for (auto& page : pages_) step(*page);
    std::erase_if(pages_, [](const std::unique_ptr<Page>& p) { return p->done; });
    release();
}

void FindingPages::finish()
{
    for (auto& page : pages_) {
        if (page->done) continue;
        if (!page->complete) {
            page->complete = true;
            page->until = now_;
            page->tailFrom = std::max(now_ - kAfter, page->from);
            page->last = entries_.empty() ? 0 : entries_.back().number;
        }
        step(*page);
        if (!page->done) write(*page);
    }
    pages_.clear();
}

void FindingPages::write(Page& page)
{
    page.done = true;
    std::string name = page.fileName + ".html";
    std::FILE* file = nullptr;
    for (int n = 2; n < 1000; ++n) {
        bool taken = false;
        file = create_(name, taken);
        if (file || !taken) break;
        name = page.fileName + "-" + std::to_string(n) + ".html";
    }
    bool ok = file != nullptr;
    if (file) {
        Out out(file, false);
        writeViewerPage(viewerPage_, ViewerCapture{page.bytes, name_, device_, keep_}, out);
        ok = out.flush();
        ok = std::fclose(file) == 0 && ok;
    }
    if (ok)
        ++written_;
    else
        ++failed_;
    if (told_) told_(name, !ok);
}

// Lets go of the entries and bytes that no page waits for and that are
// older than the time held (or beyond the bound on what is held).
void FindingPages::release()
{
    std::uint64_t wanted = frontSeq_ + entries_.size();
    for (const auto& page : pages_)
        if (!page->done) wanted = std::min(wanted, page->next);
    std::size_t drop = 0;
    while (drop < entries_.size()) {
        const Entry& e = entries_[drop];
        const bool old = e.timed || haveNow_ ? e.time + kHeld < now_ : entries_.size() - drop > kUntimedRecords;
        const bool tooMuch = bytes_.size() - static_cast<std::size_t>(std::min<std::uint64_t>(
                                                 e.at > heldAt_ ? e.at - heldAt_ : 0, bytes_.size())) >
                             kMaxHeldBytes;
        if (!tooMuch && (!old || frontSeq_ + drop >= wanted)) break;
        ++drop;
    }
    if (drop == 0) return;
    const std::uint64_t to = entries_[drop - 1].end;
    entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(drop));
    frontSeq_ += drop;
    // The bytes go in big steps: moving them costs as much as what stays.
    const std::size_t gone = static_cast<std::size_t>(std::min<std::uint64_t>(to > heldAt_ ? to - heldAt_ : 0, bytes_.size()));
    if (gone > bytes_.size() / 2 || gone > (std::size_t{1} << 20)) {
        bytes_.erase(0, gone);
        heldAt_ += gone;
    }
}

} // namespace vornlog
