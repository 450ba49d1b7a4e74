#include "bench_servers.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

std::string ServicesScript() {
    if (const char* s = std::getenv("KORADO_SERVICES_SCRIPT")) return s;
    return (std::filesystem::path(__FILE__).parent_path().parent_path() / "scripts" / "services").string();
}

std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    return out;
}

}  // namespace

// Starts PostgreSQL when it is not running and takes the `export NAME=value` lines of `scripts/services
// env` into this process's environment.
bool PrepareServers(std::string& why) {
    std::string script = ServicesScript();
    if (!std::filesystem::exists(script)) {
        why = "no scripts/services at " + script;
        return false;
    }
    if (std::system((script + " status pg >/dev/null 2>&1").c_str()) != 0 &&
        std::system((script + " start pg >/dev/null").c_str()) != 0) {
        why = script + " start pg failed";
        return false;
    }
    std::string env = Capture(script + " env");
    std::size_t pos = 0;
    while (pos < env.size()) {
        std::size_t end = env.find('\n', pos);
        if (end == std::string::npos) end = env.size();
        std::string line = env.substr(pos, end - pos);
        pos = end + 1;
        if (line.rfind("export ", 0) != 0) continue;
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string name = line.substr(7, eq - 7);
        std::string value = line.substr(eq + 1);
        // printf %q quotes only what needs it; the script's values are paths and plain words.
        if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
            value = value.substr(1, value.size() - 2);
        std::string unescaped;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            unescaped += value[i];
        }
        setenv(name.c_str(), unescaped.c_str(), 1);
    }
    if (!std::getenv("KORADO_PG_USER")) {
        why = "scripts/services env named no PostgreSQL account";
        return false;
    }
    return true;
}
