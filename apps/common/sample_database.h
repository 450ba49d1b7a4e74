// The embedded sample database: an SQLite file that korado (console or window) creates the first time it
// runs without a connection, so that a new user's first query has something to answer. A small sales schema:
//
//   customers    (customer_id, name, city, country, email, created_on)
//   products     (product_id, name, category, unit_price)
//   orders       (order_id, customer_id -> customers, order_date, status)
//   order_lines  (order_id -> orders, line_no, product_id -> products, quantity, unit_price)
//   order_totals (view: order_id, order_date, customer, lines, total)
//
// The rows are computed, not drawn at random: every new sample database holds the same data, so that
// documentation and tests can quote it.
//
// The database is built through the platform's own connection object (created by ProgID) under a
// temporary name and renamed into place once complete, so an interrupted first run leaves no half-built
// file behind.
#pragma once

#include <string>

namespace korado::apps {

// $KORADO_SAMPLE_DB when set, else ${XDG_DATA_HOME:-~/.local/share}/korado/sample.db.
std::string SampleDatabasePath();

// The folder for the hosts' state (the console's history, the error log):
// ${XDG_STATE_HOME:-~/.local/state}/korado.
std::string StateFolder();

// Points the library's error component's log at StateFolder()/error.log, where the hosts keep their state;
// a failure is written to standard error and the log stays where it was.
void UseStateFolderForTheErrorLog();

// "Provider=SQLite;Data Source=<path>", the path quoted when it needs to be.
std::string SqliteConnectionString(const std::string& path);

// Creates the sample database at `path` unless a file is there already. Returns false and sets `problem`
// when it cannot; korado errors are reported in `problem` as the console prints them.
bool EnsureSampleDatabase(const std::string& path, std::string& problem);

}  // namespace korado::apps
