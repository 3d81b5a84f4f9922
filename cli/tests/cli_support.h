// Running the built kelvo-gba-cli as a whole process, as scripts and
// Makefiles do, with its output and exit status.
#pragma once

#include "romheader/tests/scratch_dir.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace kelvo::test {

struct CliRun {
    int status = -1; // the exit status; 128 + the signal's number when one ended it
    std::string out;
    std::string err;
};

// Runs kelvo-gba-cli with `args` in `directory`; as `uid` (and its group)
// when that is not -1, for a root test that needs permissions to count. A run
// that takes over 90 seconds is killed and counts as a hang (a 3 GiB image
// hashed on a loaded machine takes a while). Its
// $XDG_CONFIG_HOME and $XDG_CACHE_HOME are a directory of the test program's
// own (no lists, an empty cache) unless `env` ("NAME=value" each) says otherwise.
CliRun runCli(const std::vector<std::string>& args, const std::string& directory = ".",
              uid_t uid = uid_t(-1), const std::vector<std::string>& env = {});

} // namespace kelvo::test
