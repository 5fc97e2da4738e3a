// The live viewer's server (vornlog -l), a module of its own that vornlog
// loads only in that mode: its HTTP library and what that library needs
// (TLS, compression) are not loaded by any other run. Plain C functions:
// the module and the program share no C++ object.
//
// The server listens on the loopback addresses only and answers only
// requests that name it as their host and carry the token; it serves the
// page and the capture's bytes, which the program hands it as they are
// read. It keeps the capture compressed in a file of its own under TMPDIR
// (the parts of the compressed stream that the program makes for the dest file),
// and only the bytes not yet in a part in memory.
#pragma once

#include <cstddef>

// The module's file name, beside the program (a build tree) or in
// ../lib/vornlog/ (an installed package).
#define VORNLOG_LIVE_MODULE "vornlog-live.so"

// What the module and the program agree on; a module of another version is
// refused.
#define VORNLOG_LIVE_INTERFACE 5

// The bytes before each part's zlib stream (its length).
#define VORNLOG_LIVE_PART_HEAD 4

extern "C" {

struct VornlogLive;

// The version of this interface that the module speaks.
typedef int (*VornlogLiveInterface)(void);

// Starts serving on 127.0.0.1 and ::1 (where the machine has IPv6) at
// `port`, or at a port the system picks when it is 0. `token`: 32
// hexadecimal digits, the first part of every path. The page is served as
// `head` then `tail`: it reads the capture from the capture stream. `folder`:
// where the capture's store is made (the program's temporary folder). Null when the
// server cannot start: `error` then says why ("port" when the port is
// taken). `*bound` gets the port.
typedef VornlogLive* (*VornlogLiveStart)(int port, const char* token, const char* head, std::size_t headSize,
                                          const char* tail, std::size_t tailSize, const char* folder, int* bound,
                                          char* error, std::size_t errorSize);
// The next bytes of the capture, as they are read.
typedef void (*VornlogLiveAdd)(VornlogLive* live, const char* bytes, std::size_t n);
// The next part of the capture's compressed stream (its length in four bytes, then a zlib stream),
// which holds the next `size` bytes added: kept in the store's file. 1
// when the store could not write it, the first time only, `error` then
// saying why; the part is then kept in memory, and the pages that watch
// are told, and get no more bytes.
typedef int (*VornlogLivePart)(VornlogLive* live, const char* part, std::size_t n, std::size_t size, char* error,
                               std::size_t errorSize);
// Hands on every part kept, in order, through `put`; 0 when the store's
// file could not be read back.
typedef int (*VornlogLiveParts)(VornlogLive* live, void (*put)(void* context, const char* bytes, std::size_t n),
                                void* context);
// The capture begins again (a followed file read again from its start, or
// the new file under a followed name).
typedef void (*VornlogLiveRestart)(VornlogLive* live);
// The input ended; `saved` is where the page of the whole session was
// written (UTF-8), or null when it could not be.
typedef void (*VornlogLiveEnd)(VornlogLive* live, const char* saved);
// Stops serving and frees everything. First waits at most `ms`
// milliseconds for the open capture streams to have said that the input
// ended.
typedef void (*VornlogLiveStop)(VornlogLive* live, int ms);

VornlogLive* vornlog_live_start(int port, const char* token, const char* head, std::size_t headSize,
                                const char* tail, std::size_t tailSize, const char* folder, int* bound,
                                char* error, std::size_t errorSize);
int vornlog_live_interface(void);
void vornlog_live_add(VornlogLive* live, const char* bytes, std::size_t n);
int vornlog_live_part(VornlogLive* live, const char* part, std::size_t n, std::size_t size, char* error,
                      std::size_t errorSize);
int vornlog_live_parts(VornlogLive* live, void (*put)(void* context, const char* bytes, std::size_t n),
                       void* context);
void vornlog_live_restart(VornlogLive* live);
void vornlog_live_end(VornlogLive* live, const char* saved);
void vornlog_live_stop(VornlogLive* live, int ms);
}
