// Maps a path written for the legacy platform (backslash separators,
// case-insensitive file names) onto this file system.
#pragma once

#include <string>
#include <string_view>

namespace common {

// Turns every '\' into '/' and resolves each component of the path in turn:
// where a file or directory of exactly that name exists it is taken; where it
// does not, the first entry of the directory (in byte order) whose name
// matches ignoring the case of ASCII letters is taken instead. Components that
// match nothing are kept as written, so the result names a missing file then.
// "." and ".." and empty components are kept as they are.
std::string ResolvePath(std::string_view legacy_path);

// `path` as an absolute path for messages: the longest leading part that
// exists with its links, "." and ".." resolved (realpath), the rest appended
// as written. "" stays "" only when the working directory is gone.
std::string AbsolutePath(const std::string& path);

}  // namespace common
