#pragma once

#include <QString>
#include <string>
#include <vector>

namespace ovalis {

// Every file and folder below a folder, hidden ones included, without
// following links. Entry types come from the directory listings, so nothing
// is stat'ed, and the top-level folders are walked on two threads: walking a
// large media tree is bound by the file system's cost per folder.
struct MediaDirectoryScan {
    std::vector<std::string> files;
    std::vector<std::string> emptyFolders; // sub folders without any entry when walked

    static MediaDirectoryScan of(const QString &folder);
};

} // namespace ovalis
