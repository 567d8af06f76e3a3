// The temporary files a download writes beside the day file it fetches.
#pragma once

#include <string>

// The temporary name of attempt number attempt to download path in this process:
// path + ".part-HOST-PID-ATTEMPT", unique on a file system that several hosts share.
std::string partial_download_name(const std::string& path, unsigned attempt);

// Removes the temporary files of earlier downloads of path (and wget's reports beside them)
// whose process was on this host and has ended: a download that was killed leaves them behind.
// Those of running processes and of other hosts stay. Never fails: what cannot be removed stays.
void remove_abandoned_downloads(const std::string& path);
