// The servers of scripts/services for the benchmarks that read from them.
#pragma once

#include <string>

// Starts PostgreSQL when it is not running and takes the `export NAME=value` lines of `scripts/services
// env` into this process's environment (the DSNs, the test accounts, KORADO_PG_PORT); false with `why`.
bool PrepareServers(std::string& why);
