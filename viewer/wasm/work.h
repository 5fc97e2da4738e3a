// The work of a session that runs after, or while, its capture is decoded,
// done in slices that the page's worker asks for (Request::Work): the live
// capture's records as they come, the findings engine told that time
// passes, the updates of a live page, then the USB device scan and the
// search index, then the text searches the page asks. The scheduler here
// decides what is due and in what order; the session does each step
// (Passes). Each reply says what became ready as messages for the page
// (Posts), and when to ask again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vornlog {

// The clock of the page's worker, in ms.
double nowMs();

// A number as JSON writes it (0 for one that is not finite).
std::string jsonNumber(double v);

// A reply's messages for the page, in the order they are to be posted:
// each a JSON object with its "type" (the page's message types,
// viewer/page/messages.js kToPage) and its members. A member that is long
// text, or bytes, lies in the reply's body, named by where it is there:
// {"$text":[at,size]} (a text), {"$lines":[at,size]} (a text, one line per
// element), {"$bytes":[at,size]} (bytes handed over as they are);
// {"$columns":[{name,type,at,length}...]} names columns in the module's
// memory, which the worker copies out and hands over.
class Posts {
public:
    // A new message of `type`; its members follow.
    Posts& post(std::string_view type);
    // A member given as its JSON value.
    Posts& json(std::string_view name, std::string_view value);
    Posts& number(std::string_view name, double value);
    Posts& flag(std::string_view name, bool value) { return json(name, value ? "true" : "false"); }
    // Members given as JSON already (`"a":1,"b":2`).
    Posts& members(std::string_view json);
    // A member kept in the body.
    Posts& text(std::string_view name, std::string_view text) { return inBody("$text", name, text); }
    Posts& lines(std::string_view name, std::string_view text) { return inBody("$lines", name, text); }
    Posts& bytes(std::string_view name, std::string_view bytes) { return inBody("$bytes", name, bytes); }

    // The reply: its head ({"posts":[...]} and the members `more`, JSON
    // written already, e.g. `"more":true`) on its first line, then the body.
    std::string reply(std::string_view more = {}) const;

private:
    Posts& inBody(std::string_view kind, std::string_view name, std::string_view bytes);

    std::string head_; // the messages, the last one not closed
    std::string body_;
};

// What the scheduler asks of the session, one step at a time.
class Passes {
public:
    // The live capture: up to `records` more records decoded; 0 when it
    // waits for bytes, 1 when it has more, 2 once it is done.
    virtual int liveStep(int records) = 0;
    // A live session bounded to its newest messages that has decoded as
    // many as it may beyond those the page was given: its decoding waits
    // for the page to take them (the module's memory, which never shrinks,
    // would otherwise grow with every while the page cannot draw).
    virtual bool farAhead() const = 0;
    // The input has been quiet for `waitedMs` ms: true when the findings
    // changed.
    virtual bool liveIdle(double waitedMs) = 0;
    // What changed since the last update, as an "update" message (done:
    // the decoding is over; its summary follows).
    virtual void update(Posts& posts, bool done) = 0;
    // A capture that came in pieces, decoded: its "done" message and its
    // summary, as for a capture decoded at once; `decodeMs`: the time
    // from its first bytes.
    virtual void decoded(Posts& posts, double decodeMs) = 0;
    // The device scan, `packets` more; once done, true with its "devices"
    // message posted.
    virtual bool scanDevices(int packets, Posts& posts) = 0;
    // The search index, `messages` more; true once made.
    virtual bool index(int messages) = 0;
    // A search for `query` begun; its next `messages` looked at: true
    // once done, its hits (a byte a message) in `hits`.
    virtual void searchBegin(std::string_view query) = 0;
    virtual bool searchStep(int messages, std::string_view& hits) = 0;

protected:
    ~Passes() = default;
};

class Work {
public:
    explicit Work(Passes& passes) : p_(passes) {}

    // A new capture: what ran for the last one stops, and a search asked
    // of it is answered cancelled.
    void forget(Posts& posts);
    // The capture decoded at once: the passes after it come next.
    void decoded() { phase_ = Phase::Devices; }
    // A capture whose bytes come in blocks: `whole` when it comes in
    // pieces to be shown once decoded (no update, no idle time).
    void liveBegin(bool whole);
    // Nothing more is done for the capture (its bytes could not be kept).
    void stop() { phase_ = Phase::None; }
    bool live() const { return phase_ == Phase::Live; }
    bool whole() const { return whole_; }
    // Bytes came; the input ended.
    void bytesCame();
    // The input has been quiet for `ms` ms (the server says so): from then
    // on, till bytes come, the findings engine hears that time passes.
    // Quiet as the server says, not as the bytes reach the page: bytes held
    // up on their way (a busy machine, a page that draws) are no time that
    // passed in the capture.
    void inputQuiet(double ms);
    void ended() { waiting_ = false; }
    // The page drew the last update.
    void drawn() { drawing_ = false; }
    // A text search asked (`id`: the page's): the one asked before, if not
    // answered yet, is answered cancelled.
    void search(double id, std::string query, Posts& posts);

    // Does the work due, for about `budgetMs` ms (at least one step),
    // posting what became ready. `quiet`: the page draws an answer; the
    // passes after the decoding wait. Returns the reply head's members
    // that say when to ask again: "more" (work is due now), "wait" (ms
    // until work is due; absent: none until the page or the input gives
    // some), "afterQuiet" (work is due once the quiet is over),
    // "answered" (a question of the page was answered: keep quiet a while).
    std::string run(double budgetMs, bool quiet, Posts& posts);

private:
    enum class Phase { None, Live, Devices, Index, Ready };
    bool step(bool quiet, Posts& posts);
    bool updateDue(double now) const;
    bool idleDue(double now) const;
    bool searchDue() const { return phase_ == Phase::Ready && hasSearch_; }
    bool dueNow(bool quiet, double now) const;
    void cancelSearch(Posts& posts);

    Passes& p_;
    Phase phase_ = Phase::None;
    // The live capture.
    bool whole_ = false;
    bool waiting_ = true;  // for bytes (or the input's end)
    bool dirty_ = false;   // decoded since the last update
    bool drawing_ = false; // the page draws the last update
    double lastPost_ = -1e300;
    double quietFrom_ = -1; // since when the input is quiet (-1: it is not)
    double lastIdle_ = 0;
    double firstBytes_ = -1;
    // The text search: the one asked last, not answered yet.
    bool hasSearch_ = false;
    bool searchBegun_ = false;
    double searchId_ = 0;
    std::string query_;
    double searchStarted_ = 0;
    bool answered_ = false;
    bool columnsGiven_ = false; // in the reply under way
};

} // namespace vornlog
