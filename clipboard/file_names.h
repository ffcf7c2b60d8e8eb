// The names of files that cross to a side whose file system is stricter, and
// the lists by which Linux file managers put files on the clipboard. A name
// from the partner is checked by filePathAllowed (file_list.h) before it
// names anything here; these rules go the other way: a Linux name Windows
// cannot hold is renamed, visibly, rather than dropped or failing the whole
// copy. No <windows.h> and no system calls: built and tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The name as Windows can hold it: each byte that is no part of well-formed
// UTF-8, each control character and each of \ / : * ? " < > | becomes '_';
// a trailing dot or space becomes '_'; a device name (CON, NUL, COM1 and the
// like, with or without an extension) gets '_' after its base ("CON_.txt");
// a name longer than FILE_NAME_MAX UTF-16 units is cut, keeping a short
// extension; an empty name is "_". A name Windows holds comes back as it is.
std::string windowsName(const std::string& name);

// The names of one folder as they go to Windows, which compares names
// without regard to case: a name already taken gets " (2)", " (3)" and so on
// before its extension.
class FolderNames {
public:
    std::string unique(const std::string& windowsSafe);

private:
    std::vector<std::string> taken_;  // folded
};

// Name folded as Windows compares names: ASCII, Latin-1, Greek and Cyrillic
// letters to upper case (enough for the names people give; the rest compare
// as they are).
std::string foldedName(const std::string& name);

// A local path as a file:// URI, each byte outside the unreserved set and '/'
// percent-encoded.
std::string fileUri(const std::string& path);

// The local paths of a text/uri-list (lines ending in CRLF or LF, '#'
// comments) or of x-special/gnome-copied-files (a first line "copy" or
// "cut", then one URI a line). URIs that name no local file (another
// scheme, another host, a NUL or a relative path once decoded) are left
// out. *cut (may be null) says whether the file manager cut them.
std::vector<std::string> pathsFromUriList(const std::string& text);
std::vector<std::string> pathsFromGnomeCopied(const std::string& text, bool* cut);

// The two forms, for paths that arrived here.
std::string uriListOf(const std::vector<std::string>& paths);
std::string gnomeCopiedOf(const std::vector<std::string>& paths);
