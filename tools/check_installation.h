// kranzel-check --installation: the installation as kranzel sees it from its
// working directory, step by step, reading only.
#pragma once

#include <string>

// Checks the installation whose kranzel working directory is `dir` and
// prints each step (as JSON with `json`). Returns 0 when every step is fine,
// 1 when one is not.
int CheckInstallation(const std::string& dir, bool json);
