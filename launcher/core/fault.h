// What can go wrong with a file or a program during a run of the decoder,
// as the launcher's error box tells it to the user.
#pragma once

namespace vornlog {

enum class Fault {
    None,
    NotFound,         // the file or the program does not exist
    PermissionDenied, // it exists but may not be read, written or started
    PathAccess,       // anything else that goes wrong with a file or a folder
    BadArgument,      // a dest file name too short to name the sorted copy after
};

} // namespace vornlog
