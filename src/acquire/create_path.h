// Directory trees.
#pragma once

#include <iostream>
#include <string>

// Makes every directory along path, the last component included (mode 0777, umask applies).
// Returns 0 on success (also when everything exists or path is empty) and -1 on the first
// failure, after printing on out either "path [<prefix>] not a dir " (errno set to ENOTDIR) or
// "cannot create folder [<prefix>] : <strerror text>".
int createPath(const std::string& path, std::ostream& out = std::cout);
