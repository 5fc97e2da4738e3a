#include "work.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// The worker's clock (performance.now()), given by its loader.
extern "C" __attribute__((import_module("vornlog"), import_name("now"))) double vornlog_now();

namespace vornlog {

double nowMs() { return vornlog_now(); }

namespace {

constexpr int kLiveStep = 512;       // records for one step of the live decoding
constexpr int kStep = 2048;          // packets (or messages) for one step of the device scan or the index
constexpr int kSearchStep = 65536;   // messages for one step of a search
// A live page is sent what changed at most every kUpdateMs, once it has
// drawn the last update (a page slower to draw gets fewer updates, each
// with more in it).
constexpr double kUpdateMs = 100;
// While the input is quiet, the findings engine hears every kIdleMs that
// time passes (as the console's does while it waits for its input).
constexpr double kIdleMs = 250;

} // namespace

std::string jsonNumber(double v)
{
    if (!std::isfinite(v)) return "0";
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", v);
    return text;
}

Posts& Posts::post(std::string_view type)
{
    if (!head_.empty()) head_ += "},";
    head_ += "{\"type\":\"";
    head_ += type;
    head_ += '"';
    return *this;
}

Posts& Posts::json(std::string_view name, std::string_view value)
{
    head_ += ",\"";
    head_ += name;
    head_ += "\":";
    head_ += value;
    return *this;
}

Posts& Posts::number(std::string_view name, double value) { return json(name, jsonNumber(value)); }

Posts& Posts::members(std::string_view json)
{
    head_ += ',';
    head_ += json;
    return *this;
}

Posts& Posts::inBody(std::string_view kind, std::string_view name, std::string_view bytes)
{
    json(name, "{\"" + std::string(kind) + "\":[" + std::to_string(body_.size()) + "," + std::to_string(bytes.size()) + "]}");
    body_ += bytes;
    return *this;
}

std::string Posts::reply(std::string_view more) const
{
    std::string r;
    r.reserve(head_.size() + more.size() + body_.size() + 16);
    r += "{\"posts\":[";
    r += head_;
    if (!head_.empty()) r += '}';
    r += ']';
    if (!more.empty()) {
        r += ',';
        r += more;
    }
    r += "}\n";
    r += body_;
    return r;
}

void Work::forget(Posts& posts)
{
    phase_ = Phase::None;
    cancelSearch(posts);
}

void Work::liveBegin(bool whole)
{
    phase_ = Phase::Live;
    whole_ = whole;
    waiting_ = true;
    dirty_ = drawing_ = false;
    lastPost_ = -1e300;
    lastIdle_ = nowMs();
    quietFrom_ = -1;
    firstBytes_ = -1;
}

void Work::bytesCame()
{
    waiting_ = false;
    quietFrom_ = -1;
    if (firstBytes_ < 0) firstBytes_ = nowMs();
}

void Work::inputQuiet(double ms)
{
    if (quietFrom_ < 0) quietFrom_ = nowMs() - std::max(ms, 0.0);
}

void Work::cancelSearch(Posts& posts)
{
    if (hasSearch_) posts.post("search").number("id", searchId_).flag("cancelled", true);
    hasSearch_ = searchBegun_ = false;
}

void Work::search(double id, std::string query, Posts& posts)
{
    cancelSearch(posts);
    hasSearch_ = true;
    searchId_ = id;
    query_ = std::move(query);
}

bool Work::updateDue(double now) const
{
    return !whole_ && dirty_ && !drawing_ && now - lastPost_ >= kUpdateMs;
}

bool Work::idleDue(double now) const
{
    return !whole_ && waiting_ && quietFrom_ >= 0 && now - lastIdle_ >= kIdleMs;
}

bool Work::dueNow(bool quiet, double now) const
{
    switch (phase_) {
    case Phase::None: return false;
    case Phase::Live: return (!waiting_ && !p_.farAhead()) || updateDue(now) || idleDue(now);
    case Phase::Devices:
    case Phase::Index: return !quiet;
    case Phase::Ready: return searchDue();
    }
    return false;
}

// One step of the work due (false: none is due). A live capture's update
// comes first, then its records, then its idle time; once it is decoded,
// the device scan, then the search index, then the search asked.
bool Work::step(bool quiet, Posts& posts)
{
    const double now = nowMs();
    switch (phase_) {
    case Phase::None: return false;
    case Phase::Live: {
        if (updateDue(now)) {
            lastPost_ = now;
            dirty_ = false;
            drawing_ = true;
            p_.update(posts, false);
            columnsGiven_ = true;
            return true;
        }
        if (!waiting_ && !p_.farAhead()) {
            const int status = p_.liveStep(kLiveStep);
            dirty_ = true;
            waiting_ = status == 0;
            if (status == 2) {
                phase_ = Phase::Devices;
                columnsGiven_ = true;
                if (whole_)
                    p_.decoded(posts, firstBytes_ < 0 ? 0 : nowMs() - firstBytes_);
                else
                    p_.update(posts, true);
            }
            return true;
        }
        if (!idleDue(now)) return false;
        lastIdle_ = now;
        if (p_.liveIdle(now - quietFrom_)) dirty_ = true;
        return true;
    }
    case Phase::Devices:
        if (quiet) return false;
        if (p_.scanDevices(kStep, posts)) phase_ = Phase::Index;
        return true;
    case Phase::Index:
        if (quiet) return false;
        if (p_.index(kStep)) {
            phase_ = Phase::Ready;
            posts.post("indexed");
        }
        return true;
    case Phase::Ready: {
        if (!hasSearch_) return false;
        if (!searchBegun_) {
            p_.searchBegin(query_);
            searchBegun_ = true;
            searchStarted_ = now;
        }
        std::string_view hits;
        if (!p_.searchStep(kSearchStep, hits)) return true;
        posts.post("search").number("id", searchId_).bytes("hits", hits).number("ms", nowMs() - searchStarted_);
        hasSearch_ = searchBegun_ = false;
        answered_ = true;
        return true;
    }
    }
    return false;
}

std::string Work::run(double budgetMs, bool quiet, Posts& posts)
{
    answered_ = columnsGiven_ = false;
    const double began = nowMs();
    // (Columns given are read by the worker before anything changes them:
    // the reply goes at once.)
    while (step(quiet, posts) && !columnsGiven_ && nowMs() - began < budgetMs) {
    }
    const double now = nowMs();
    std::string head = dueNow(quiet, now) ? "\"more\":true" : "\"more\":false";
    double wait = -1;
    if (phase_ == Phase::Live && !whole_) {
        if (dirty_ && !drawing_) wait = std::max(0.0, lastPost_ + kUpdateMs - now);
        if (waiting_ && quietFrom_ >= 0) {
            const double idle = std::max(0.0, lastIdle_ + kIdleMs - now);
            wait = wait < 0 ? idle : std::min(wait, idle);
        }
    }
    if (wait >= 0) head += ",\"wait\":" + jsonNumber(wait);
    if (quiet && (phase_ == Phase::Devices || phase_ == Phase::Index)) head += ",\"afterQuiet\":true";
    if (answered_) head += ",\"answered\":true";
    return head;
}

} // namespace vornlog
