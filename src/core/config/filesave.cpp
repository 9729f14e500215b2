// The save that never destroys the previous file, once for every platform:
// a new file beside the target renamed over it where that keeps the old
// file's identity, else a write in place that can be undone.
#include "core/config/filesave.h"

#include <algorithm>
#include <vector>

#include "core/config/filecalls.h"

namespace qm730 {

namespace {

using namespace filecalls;

// The file a save writes.
struct SaveTarget {
    Name name;  // an existing symbolic link is followed to the name of the file it leads to
    Info info;  // Kind::Missing for a new file

    bool exists() const { return info.kind != Kind::Missing; }
};

// Finds the file a save writes and refuses what must not be written: a link
// that leads nowhere or may not be followed, anything but a regular file, a
// read-only file (even for the superuser, who could otherwise write it), a
// file this user may not write.
FileResult findSaveTarget(const std::string& path, SaveTarget& target) {
    if (!systemName(path, target.name)) return refusal(FileStatus::NotRegular, kNotRegular);
    if (const Error error = lookAt(target.name, target.info))
        return isMissing(error) ? FileResult{} : failure(FileStatus::CannotCreate, error);
    if (target.info.kind == Kind::Link) {
        if (const Error error = followLinks(target.name, target.info)) return failure(FileStatus::CannotCreate, error);
        if (!target.exists()) return refusal(FileStatus::CannotCreate, "dangling symbolic link");
    }
    if (target.info.kind != Kind::Regular) return notRegular(target.info);
    if (target.info.readOnly) return failure(FileStatus::CannotCreate, accessDenied());
    if (const Error error = mayWrite(target.name, target.info)) return failure(FileStatus::CannotCreate, error);
    if (target.info.kind != Kind::Regular) return notRegular(target.info);
    return {};
}

// A new file of an unused name beside the target.
struct Temporary {
    Name name;
    OpenFile file;

    // Closes and removes it: the save that made it has failed.
    void discard() {
        file.reset();
        removeFile(name);
    }
};

Error createTemporary(const Name& folder, Access access, Temporary& temporary) {
    Error error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary.name = temporaryNameIn(folder);
        error = createNew(temporary.name, access, temporary.file);
        if (!isAlreadyThere(error)) return error;
    }
    return error;
}

// Writes the contents into the temporary file and makes it durable; on
// failure the temporary file is removed.
FileResult fillTemporary(Temporary& temporary, FileContents contents) {
    Error error = writeAllAt(*temporary.file, 0, contents.data(), contents.size());
    if (!error) error = flush(*temporary.file);
    if (!error) error = close(temporary.file);
    if (!error) return {};
    temporary.discard();
    return failure(FileStatus::WriteFailed, error);
}

FileResult saved(FileContents contents) {
    FileResult result;
    result.bytes = contents.size();
    return result;
}

// A new file appears whole under its name, and never over a file that
// another program created meanwhile.
FileResult createNewFile(const Name& name, FileContents contents) {
    Temporary temporary;
    if (const Error error = createTemporary(folderOf(name), Access::Everyone, temporary))
        return failure(FileStatus::CannotCreate, error);
    if (FileResult filled = fillTemporary(temporary, contents); !filled.ok()) return filled;
    if (const Error error = moveNew(temporary.name, name)) {
        temporary.discard();
        return failure(FileStatus::CannotReplace, error);
    }
    flushFolder(folderOf(name));
    return saved(contents);
}

// Replaces the file in one step by a new one with its permissions, owner and
// group. Sets fallBack (and leaves everything as it was) when no such file
// can be made beside it.
FileResult replaceFile(const SaveTarget& target, FileContents contents, bool& fallBack) {
    Temporary temporary;
    if (createTemporary(folderOf(target.name), Access::OwnerOnly, temporary) != 0) {
        fallBack = true;
        return {};
    }
    bool ownerKept = true;
    const Error refused = takeOver(*temporary.file, target.info, ownerKept);
    if (!ownerKept) {
        temporary.discard();
        fallBack = true;
        return {};
    }
    if (refused) {
        temporary.discard();
        return failure(FileStatus::CannotCreate, refused);
    }
    if (FileResult filled = fillTemporary(temporary, contents); !filled.ok()) return filled;
    if (const Error error = replace(temporary.name, target.name, target.info)) {
        temporary.discard();
        return failure(FileStatus::CannotReplace, error);
    }
    flushFolder(folderOf(target.name));
    return saved(contents);
}

// Writes the contents over the file itself, keeping it and with it every
// name, its owner and its permissions. Room is reserved before the first
// byte is written; if the write still fails, the old bytes are put back as
// far as the file system allows.
FileResult writeInPlace(const SaveTarget& target, FileContents contents) {
    OpenFile file;
    bool readable = true;
    if (const Error error = openToRewrite(target.name, file, readable)) return failure(FileStatus::CannotCreate, error);
    Info info;
    if (const Error error = infoOf(*file, info)) return failure(FileStatus::CannotCreate, error);
    if (info.kind != Kind::Regular) return notRegular(info);

    // The old bytes, all of them, so that a longer file already cut to the
    // contents can be made whole again (up to a size no table file reaches).
    constexpr std::uint64_t kRestoreLimit = std::uint64_t{64} << 20;
    const std::uint64_t oldSize = info.size, size = contents.size();
    std::vector<std::uint8_t> old(static_cast<std::size_t>(std::min(oldSize, kRestoreLimit)));
    std::size_t got = 0;
    const bool restorable = readable && readAll(*file, old.data(), old.size(), got) == 0 && got == old.size();
    const auto undo = [&](Error error) {
        if (restorable) writeAllAt(*file, 0, old.data(), old.size());
        setLength(*file, oldSize);
        flush(*file);
        return failure(FileStatus::WriteFailed, error);
    };

    if (const Error error = oldSize < size ? reserve(*file, size) : 0) return undo(error);
    if (const Error error = writeAllAt(*file, 0, contents.data(), contents.size())) return undo(error);
    // Until the file is cut to the new contents and on the disk, a failure
    // still puts the old bytes back; after that only the close can fail, and
    // the file then holds the whole new contents.
    if (const Error error = oldSize > size ? setLength(*file, size) : 0) return undo(error);
    if (const Error error = flush(*file)) return undo(error);
    if (const Error error = close(file)) return failure(FileStatus::WriteFailed, error);
    return saved(contents);
}

}  // namespace

FileResult saveFileContents(const std::string& path, FileContents contents) {
    const InterruptsHeld held;
    // Another program may create the file while a new one is written: the
    // save then starts again and replaces that file as an existing one.
    constexpr int kStarts = 3;
    for (int start = 1;; ++start) {
        SaveTarget target;
        if (FileResult found = findSaveTarget(path, target); !found.ok()) return found;
        if (!target.exists()) {
            FileResult created = createNewFile(target.name, contents);
            if (created.status == FileStatus::CannotReplace && isAlreadyThere(created.errorNumber) && start < kStarts)
                continue;
            return created;
        }
        // A file with several names keeps them all only if it is written in place.
        if (target.info.links == 1) {
            bool fallBack = false;
            FileResult replaced = replaceFile(target, contents, fallBack);
            if (!fallBack) return replaced;
        }
        return writeInPlace(target, contents);
    }
}

FileResult checkSaveTarget(const std::string& path) {
    SaveTarget target;
    if (FileResult found = findSaveTarget(path, target); !found.ok()) return found;
    if (const Error error = target.exists() ? 0 : mayCreateIn(folderOf(target.name)))
        return failure(FileStatus::CannotCreate, error);
    return {};
}

}  // namespace qm730
