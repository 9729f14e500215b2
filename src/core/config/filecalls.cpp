// What every user of the file calls shares, written once over them.
#include "core/config/filecalls.h"

#include <random>
#include <vector>

namespace qm730::filecalls {

Name temporaryNameIn(const Name& folder) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string name = ".qm730-";
    for (int i = 0; i < 6; ++i) name += kLetters[pick(random)];
    return folder / name;
}

Error readAll(File& file, std::uint8_t* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    while (got < size) {
        std::size_t part = 0;
        if (const Error error = readSome(file, buffer + got, size - got, part)) return error;
        if (part == 0) break;
        got += part;
    }
    return 0;
}

Error countRest(File& file, std::uint64_t& count) {
    std::vector<std::uint8_t> chunk(65536);
    count = 0;
    for (;;) {
        std::size_t got = 0;
        if (const Error error = readAll(file, chunk.data(), chunk.size(), got)) return error;
        count += got;
        if (got < chunk.size()) return 0;
    }
}

Error writeAllAt(File& file, std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        std::size_t put = 0;
        if (const Error error = writeSomeAt(file, offset + done, data + done, size - done, put)) return error;
        done += put;
    }
    return 0;
}

FileResult failure(FileStatus status, Error error) {
    FileResult result;
    result.status = status;
    result.errorNumber = error;
    result.reason = errorText(error);
    return result;
}

FileResult refusal(FileStatus status, const char* reason) {
    FileResult result;
    result.status = status;
    result.reason = reason;
    return result;
}

FileResult notRegular(const Info& info) {
    if (info.kind != Kind::Directory) return refusal(FileStatus::NotRegular, kNotRegular);
    const Error error = folderError();
    return error ? failure(FileStatus::NotRegular, error) : refusal(FileStatus::NotRegular, "Is a directory");
}

FileResult openRegularFile(const std::string& path, OpenFile& file, Info& info) {
    Name name;
    if (!systemName(path, name)) return refusal(FileStatus::NotRegular, kNotRegular);
    if (const Error error = lookThrough(name, info)) return failure(FileStatus::CannotOpen, error);
    if (info.kind != Kind::Regular) return notRegular(info);
    if (const Error error = openToRead(name, file)) return failure(FileStatus::CannotOpen, error);
    if (const Error error = infoOf(*file, info)) return failure(FileStatus::ReadFailed, error);
    if (info.kind != Kind::Regular) return notRegular(info);
    return {};
}

}  // namespace qm730::filecalls
