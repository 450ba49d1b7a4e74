#include "sample_database.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

#include "host_text.h"
#include "korado/errors/clsErrorHandler.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/registry.h"

namespace korado::apps {
namespace {

std::string Home() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return ".";
}

std::string XdgFolder(const char* variable, const char* fallback_below_home) {
    if (const char* v = std::getenv(variable); v && *v) return v;
    return Home() + "/" + fallback_below_home;
}

// ---- the data ------------------------------------------------------------------------------------------

constexpr std::string_view kFirstNames[] = {"Ada",  "Bruno", "Chiara", "Dmitri", "Elena", "Farid", "Greta",
                                            "Hugo", "Ines",  "Jonas",  "Keiko",  "Lars",  "Maya",  "Nils",
                                            "Olga", "Pablo", "Quinn",  "Rosa",   "Sven",  "Tariq"};
constexpr std::string_view kLastNames[] = {
    "Almeida",  "Berger", "Costa",  "Dubois", "Eriksen", "Fischer", "Garcia", "Hansen", "Ivanova", "Jensen",
    "Kowalski", "Larsen", "Moreau", "Novak",  "Olsen",   "Petrov",  "Quist",  "Rossi",  "Schmidt", "Tanaka"};
struct City {
    std::string_view city, country;
};
constexpr City kCities[] = {{"Lisbon", "Portugal"}, {"Vienna", "Austria"}, {"Milan", "Italy"},
                            {"Lyon", "France"},     {"Oslo", "Norway"},    {"Hamburg", "Germany"},
                            {"Valencia", "Spain"},  {"Aarhus", "Denmark"}, {"Krakow", "Poland"},
                            {"Brno", "Czechia"},    {"Osaka", "Japan"},    {"Toronto", "Canada"}};
struct Product {
    std::string_view name, category;
    int cents;
};
constexpr Product kProducts[] = {{"Espresso beans 1 kg", "Coffee", 2450},
                                 {"Filter coffee 500 g", "Coffee", 1195},
                                 {"Decaf beans 500 g", "Coffee", 1350},
                                 {"Green tea 100 g", "Tea", 875},
                                 {"Earl Grey 250 g", "Tea", 990},
                                 {"Rooibos 200 g", "Tea", 760},
                                 {"Hand grinder", "Equipment", 4900},
                                 {"Pour-over dripper", "Equipment", 2200},
                                 {"Milk frother", "Equipment", 3499},
                                 {"Espresso machine", "Equipment", 38900},
                                 {"Kettle, gooseneck", "Equipment", 5950},
                                 {"Paper filters (100)", "Supplies", 450},
                                 {"Descaler", "Supplies", 1299},
                                 {"Cleaning tablets", "Supplies", 899},
                                 {"Ceramic mug", "Tableware", 1400},
                                 {"Glass cup, double wall", "Tableware", 1650},
                                 {"Teapot 1 l", "Tableware", 3200},
                                 {"Travel tumbler", "Tableware", 2100},
                                 {"Almond biscuits", "Food", 525},
                                 {"Dark chocolate 70%", "Food", 390},
                                 {"Honey 250 g", "Food", 680},
                                 {"Gift card 25", "Gift", 2500},
                                 {"Gift card 50", "Gift", 5000},
                                 {"Tasting set", "Gift", 2990}};
constexpr int kCustomers = 40;
constexpr int kOrders = 150;
constexpr int kProductCount = static_cast<int>(std::size(kProducts));

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian calendar).
long DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::string CivilText(long z) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const long doe = z - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    const long d = doy - (153 * mp + 2) / 5 + 1;
    const long m = mp < 10 ? mp + 3 : mp - 9;
    const long y = yoe + era * 400 + (m <= 2);
    char buf[40];  // room for any int, though the sample's dates have four-digit years
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", static_cast<int>(y), static_cast<int>(m),
                  static_cast<int>(d));
    return buf;
}

std::string Quoted(std::string_view s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

std::string Money(int cents) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d.%02d", cents / 100, cents % 100);
    return buf;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Rows go in as multi-row INSERTs of this many rows: few statements, none of them huge.
constexpr std::size_t kRowsPerInsert = 50;

void AddInserts(std::vector<std::string>& script, std::string_view head,
                const std::vector<std::string>& rows) {
    for (std::size_t i = 0; i < rows.size(); i += kRowsPerInsert) {
        std::string sql(head);
        sql += " VALUES\n";
        for (std::size_t k = i; k < rows.size() && k < i + kRowsPerInsert; ++k) {
            if (k > i) sql += ",\n";
            sql += "(" + rows[k] + ")";
        }
        script.push_back(std::move(sql));
    }
}

std::vector<std::string> BuildScript() {
    std::vector<std::string> script = {
        "CREATE TABLE customers (\n"
        "  customer_id INTEGER PRIMARY KEY,\n"
        "  name VARCHAR(60) NOT NULL,\n"
        "  city VARCHAR(40) NOT NULL,\n"
        "  country VARCHAR(40) NOT NULL,\n"
        "  email VARCHAR(80),\n"
        "  created_on DATE NOT NULL)",
        "CREATE TABLE products (\n"
        "  product_id INTEGER PRIMARY KEY,\n"
        "  name VARCHAR(60) NOT NULL,\n"
        "  category VARCHAR(30) NOT NULL,\n"
        "  unit_price NUMERIC(10,2) NOT NULL)",
        "CREATE TABLE orders (\n"
        "  order_id INTEGER PRIMARY KEY,\n"
        "  customer_id INTEGER NOT NULL REFERENCES customers (customer_id),\n"
        "  order_date DATE NOT NULL,\n"
        "  status VARCHAR(12) NOT NULL)",
        "CREATE TABLE order_lines (\n"
        "  order_id INTEGER NOT NULL REFERENCES orders (order_id),\n"
        "  line_no INTEGER NOT NULL,\n"
        "  product_id INTEGER NOT NULL REFERENCES products (product_id),\n"
        "  quantity INTEGER NOT NULL,\n"
        "  unit_price NUMERIC(10,2) NOT NULL,\n"
        "  PRIMARY KEY (order_id, line_no))",
        "CREATE VIEW order_totals AS\n"
        "SELECT o.order_id, o.order_date, c.name AS customer, COUNT(*) AS lines,\n"
        "       ROUND(SUM(l.quantity * l.unit_price), 2) AS total\n"
        "  FROM orders o\n"
        "  JOIN customers c ON c.customer_id = o.customer_id\n"
        "  JOIN order_lines l ON l.order_id = o.order_id\n"
        " GROUP BY o.order_id, o.order_date, c.name",
    };

    std::vector<std::string> rows;
    const long customers_since = DaysFromCivil(2022, 1, 3);
    for (int i = 0; i < kCustomers; ++i) {
        const std::string_view first = kFirstNames[i % 20];
        const std::string_view last = kLastNames[(i * 7 + i / 20) % 20];
        const City& city = kCities[(i * 5) % 12];
        // Every seventh customer left no e-mail address: the sample has NULLs to show.
        const std::string email =
            i % 7 == 3 ? "NULL" : Quoted(Lower(first) + "." + Lower(last) + "@example.com");
        rows.push_back(std::to_string(i + 1) + ", " + Quoted(std::string(first) + " " + std::string(last)) +
                       ", " + Quoted(city.city) + ", " + Quoted(city.country) + ", " + email + ", " +
                       Quoted(CivilText(customers_since + i * 9L)));
    }
    AddInserts(script, "INSERT INTO customers (customer_id, name, city, country, email, created_on)", rows);

    rows.clear();
    for (int i = 0; i < kProductCount; ++i) {
        rows.push_back(std::to_string(i + 1) + ", " + Quoted(kProducts[i].name) + ", " +
                       Quoted(kProducts[i].category) + ", " + Money(kProducts[i].cents));
    }
    AddInserts(script, "INSERT INTO products (product_id, name, category, unit_price)", rows);

    rows.clear();
    std::vector<std::string> lines;
    const long orders_since = DaysFromCivil(2024, 1, 2);
    for (int k = 0; k < kOrders; ++k) {
        const int order_id = 1001 + k;
        const int customer = 1 + (k * 17) % kCustomers;
        const long day = orders_since + k * 2L + k % 3;
        const int s = k % 10;
        const char* status = s < 6 ? "delivered" : s < 8 ? "shipped" : s == 8 ? "open" : "cancelled";
        rows.push_back(std::to_string(order_id) + ", " + std::to_string(customer) + ", " +
                       Quoted(CivilText(day)) + ", " + Quoted(status));
        const int count = 1 + (k * 7) % 4;
        for (int line = 1; line <= count; ++line) {
            // 11 and 24 share no factor, so the products of one order differ.
            const int product = (k * 5 + line * 11) % kProductCount;
            const int quantity = 1 + (k * 3 + line * 5) % 9;
            lines.push_back(std::to_string(order_id) + ", " + std::to_string(line) + ", " +
                            std::to_string(product + 1) + ", " + std::to_string(quantity) + ", " +
                            Money(kProducts[product].cents));
        }
    }
    AddInserts(script, "INSERT INTO orders (order_id, customer_id, order_date, status)", rows);
    AddInserts(script, "INSERT INTO order_lines (order_id, line_no, product_id, quantity, unit_price)",
               lines);
    return script;
}

}  // namespace

std::string SampleDatabasePath() {
    if (const char* path = std::getenv("KORADO_SAMPLE_DB"); path && *path) return path;
    return XdgFolder("XDG_DATA_HOME", ".local/share") + "/korado/sample.db";
}

std::string StateFolder() { return XdgFolder("XDG_STATE_HOME", ".local/state") + "/korado"; }

void UseStateFolderForTheErrorLog() {
    try {
        LetProperty(Variant(ErrorHandler().Component()), "LogFile", StateFolder() + "/error.log");
    } catch (const Error& e) {
        std::fprintf(stderr, "%s\n", FormatError(e).c_str());
    }
}

std::string SqliteConnectionString(const std::string& path) {
    bool quote = path.find_first_of(";\"'{}=") != std::string::npos || path.empty() || path.front() == ' ' ||
                 path.back() == ' ';
    if (!quote) return "Provider=SQLite;Data Source=" + path;
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return "Provider=SQLite;Data Source=" + quoted + "\"";
}

bool EnsureSampleDatabase(const std::string& path, std::string& problem) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(path, ec)) return true;
    const fs::path target(path);
    if (target.has_parent_path()) {
        fs::create_directories(target.parent_path(), ec);
        if (ec) {
            problem = "Cannot create the folder of the sample database " + target.parent_path().string() +
                      ": " + ec.message();
            return false;
        }
    }
    const std::string building = path + ".building-" + std::to_string(getpid());
    fs::remove(building, ec);
    try {
        Ref<ado::Connection> connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
        connection->Open(SqliteConnectionString(building));
        connection->BeginTrans();
        for (const std::string& sql : BuildScript()) connection->Execute(sql);
        connection->CommitTrans();
        connection->Close();
    } catch (const Error& e) {
        fs::remove(building, ec);
        problem = "Cannot create the sample database " + path + ":\n" + FormatError(e);
        return false;
    }
    // Another korado starting at the same moment may have won the race; its file is as good as ours.
    fs::rename(building, path, ec);
    if (ec) {
        fs::remove(building, ec);
        if (!fs::exists(path)) {
            problem = "Cannot move the sample database into place at " + path;
            return false;
        }
    }
    return true;
}

}  // namespace korado::apps
