// The POSIX file calls of a save (filecalls_posix.cpp), as a seam for
// tests: before each call the save asks saveCallFails() whether the call is
// to fail, as a full disk, a failing device or a file system that refuses
// the call would make it fail. The library's own answer
// (savefaults_none.cpp) is always no; a test program that links a
// definition of its own in its place decides itself.
#pragma once

namespace qm730::savefault {

enum class Call {
    Create,    // creating the temporary file beside the target
    Chmod,     // giving the temporary file the target's permissions
    Open,      // opening the target for a write in place
    Reserve,   // reserving room for a write in place
    Write,     // each write of bytes
    Truncate,  // cutting a longer file to the image
    Sync,      // flushing a file to the disk
    Close,     // closing a written file
    Rename,    // putting the finished file in the target's place
};

// True, with errno set, when this call is to fail instead of being made.
bool saveCallFails(Call call);

}  // namespace qm730::savefault
