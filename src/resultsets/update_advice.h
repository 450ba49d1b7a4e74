// What a failed Update tells the user, as a pure function: the dynaset's Update gathers the failure and the
// connection's first error entry, asks Advice, and shows the text when there is one. Kept apart from the
// dynaset so that every row can be checked without a driver that produces it.
#pragma once

#include <cstdint>
#include <string>

namespace korado::update_advice {

// The failed Update as the rows see it.
struct UpdateFailure {
    // The failure of the recordset's Update itself.
    std::int32_t number = 0;
    std::string description;
    std::string source;
    // The first entry of the connection's Errors (zero and an empty text when there is none).
    std::int32_t native_error = 0;
    std::string first_source;
};

// The message of the first row that matches; empty when none does (the failure is then shown to no one).
std::string Advice(const UpdateFailure& failure);

}  // namespace korado::update_advice
