#include "dataaccess/provider.h"

#include <map>
#include <mutex>

#include "dataaccess/platform_error.h"

namespace korado::dataaccess {
namespace {

Diagnostic FirstOf(const std::vector<Diagnostic>& records) {
    if (!records.empty()) return records.front();
    Diagnostic d;
    d.description = "Unspecified error";
    return d;
}

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

struct Registry {
    std::mutex mutex;  // providers register from static initialisers of any translation unit
    std::map<std::string, ProviderFactory> factories;
};

Registry& TheRegistry() {
    static auto* registry = new Registry;  // never destroyed: providers unregister from static destructors
    return *registry;
}

}  // namespace

ProviderError::ProviderError(std::vector<Diagnostic> records)
    : Error(FirstOf(records).number, FirstOf(records).source, FirstOf(records).description),
      records_(std::move(records)) {
    Diagnostic first = FirstOf(records_);
    WithNative(first.native_error, first.sql_state);
    if (records_.empty()) records_.push_back(std::move(first));
}

void RegisterProvider(std::string name, ProviderFactory factory) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.factories[LowerAscii(name)] = std::move(factory);
}

ProviderFactory ReplaceProvider(std::string name, ProviderFactory factory) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    std::string key = LowerAscii(name);
    ProviderFactory previous;
    if (auto it = r.factories.find(key); it != r.factories.end()) {
        previous = std::move(it->second);
        r.factories.erase(it);
    }
    if (factory) r.factories[key] = std::move(factory);
    return previous;
}

void UnregisterProvider(std::string_view name) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.factories.erase(LowerAscii(name));
}

std::shared_ptr<Provider> FindProvider(std::string_view name) {
    std::string key = LowerAscii(name);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    while (!key.empty() && (key.front() == ' ' || key.front() == '\t')) key.erase(0, 1);
    ProviderFactory factory;
    {
        Registry& r = TheRegistry();
        std::lock_guard lock(r.mutex);
        auto it = r.factories.find(key);
        if (it == r.factories.end()) {
            // "SQLite.1", "MSDASQL.1": the versioned name Connection.Provider reports names the provider too.
            std::size_t dot = key.rfind('.');
            if (dot != std::string::npos && dot + 1 < key.size() &&
                key.find_first_not_of("0123456789", dot + 1) == std::string::npos) {
                it = r.factories.find(key.substr(0, dot));
            }
        }
        if (it != r.factories.end()) factory = it->second;
    }
    std::shared_ptr<Provider> provider = factory ? factory() : nullptr;
    if (!provider) RaiseAdo(ado::adErrProviderNotFound, "ADODB.Connection");
    return provider;
}

}  // namespace korado::dataaccess
